// The banded JPEG decoder against Qt's own reader: the same pixels, format,
// colour space, texts and resolution for every JPEG of the public test
// suites and for photographs large enough to be split, whatever the number
// of bands; and the loader's pictures and error reports as the reader's,
// also where the launcher's first decode gives them.

#include "app/firstdecode.h"
#include "platform/decoderpool.h"
#include "platform/jpegbands.h"
#include "platform/jpegrows.h"
#include "platform/picture.h"
#include "platform/runtimeerror.h"
#include "support/testmain.h"
#include "support/testpictures.h"

#include <QColorSpace>
#include <QDirIterator>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csignal>

#include <sys/mman.h>
#include <unistd.h>

class TestJpegBands : public QObject
{
    Q_OBJECT
private slots:
    void testdataDecodesAsTheReaderDoes();
    void largePicturesDecodeAsTheReaderDoes_data();
    void largePicturesDecodeAsTheReaderDoes();
    void firstDecodeGivesTheLoadersPicture();
};

namespace {

// From the open file, asked what the loader asks first: a few damaged files
// read differently when the header was read on its own before.
QImage readerImage(const QString &path, bool autoTransform)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QImage();
    QImageReader reader(&file);
    reader.setAutoTransform(autoTransform);
    if (!reader.canRead() || reader.format().isEmpty() || !reader.size().isValid())
        return QImage();
    return reader.read();
}

// Empty when the two are the same in everything the viewer could notice.
QString difference(const QImage &banded, const QImage &expected)
{
    if (banded.format() != expected.format() || banded.size() != expected.size())
        return QStringLiteral("format/size %1 %2x%3, reader %4 %5x%6")
            .arg(banded.format())
            .arg(banded.width())
            .arg(banded.height())
            .arg(expected.format())
            .arg(expected.width())
            .arg(expected.height());
    for (int y = 0; y < banded.height(); ++y) {
        const qsizetype rowBytes = qsizetype(banded.width()) * banded.depth() / 8;
        if (std::memcmp(banded.constScanLine(y), expected.constScanLine(y), size_t(rowBytes)) != 0)
            return QStringLiteral("pixels differ from row %1").arg(y);
    }
    if (banded.colorSpace() != expected.colorSpace())
        return QStringLiteral("colour space");
    if (banded.textKeys() != expected.textKeys())
        return QStringLiteral("texts");
    for (const QString &key : expected.textKeys()) {
        if (banded.text(key) != expected.text(key))
            return QStringLiteral("text %1").arg(key);
    }
    if (banded.dotsPerMeterX() != expected.dotsPerMeterX() || banded.dotsPerMeterY() != expected.dotsPerMeterY())
        return QStringLiteral("resolution");
    return QString();
}

// Noise on gradients and edges: every coefficient of every block matters.
QImage photoLike(QSize size, quint32 seed, QImage::Format format)
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int n = int(random.bounded(48));
            line[x] = qRgb((x * 255 / size.width() + n) & 255, (y * 255 / size.height() + n) & 255,
                           ((x ^ y) & 0x40 ? 200 : 40) + n / 2);
        }
    }
    return image.convertToFormat(format);
}

} // namespace

void TestJpegBands::testdataDecodesAsTheReaderDoes()
{
    const QString root = testpictures::testdata(QStringLiteral("jpeg"));
    if (!QFile::exists(root))
        QSKIP("the shared test data is not beside the repository");
    int banded = 0, compared = 0;
    QStringList faults;
    QDirIterator it(root, {QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"), QStringLiteral("*.JPG")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        // Through the loader: the oriented picture, or the very same report.
        QString error;
        QImage loaded;
        try {
            loaded = picture::LoadOwnPicture(QFile::encodeName(path)); // before any display conversion
        } catch (const RuntimeError &e) {
            error = e.description();
        }
        // After the loader has set the reader's allocation limit.
        const QImage expected = readerImage(path, false);
        const QImage oriented = readerImage(path, true);

        // Every split of the file into bands, up to more bands than it has
        // groups of rows, gives the reader's picture or leaves the file to it.
        for (int threads : {1, 2, 3, 5}) {
            jpegbands::Outcome outcome;
            const QImage image = jpegbands::decode(bytes, threads, picture::kAllocationLimitBytes, &outcome);
            if (outcome == jpegbands::Outcome::Decoded) {
                ++banded;
                const QString why = expected.isNull() ? QStringLiteral("the reader gives no picture")
                                                      : difference(image, expected);
                if (!why.isEmpty())
                    faults << QStringLiteral("%1 in %2 bands: %3").arg(path).arg(threads).arg(why);
            }
        }

        // Files the banded decoder leaves alone take the loader's old path.
        if (!jpegbands::suitable(bytes))
            continue;
        ++compared;
        if (oriented.isNull() != loaded.isNull())
            faults << QStringLiteral("%1: loader %2, reader %3")
                          .arg(path, loaded.isNull() ? error : QStringLiteral("shows"),
                               oriented.isNull() ? QStringLiteral("fails") : QStringLiteral("shows"));
        else if (!oriented.isNull() && !difference(loaded, oriented).isEmpty())
            faults << QStringLiteral("%1 loaded: %2").arg(path, difference(loaded, oriented));
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
    // The suites hold plenty of baseline files: the banded path must be the
    // one compared, not the fallback.
    QVERIFY2(banded > 4 * 100, qPrintable(QString::number(banded)));
    QVERIFY2(compared > 100, qPrintable(QString::number(compared)));
}

void TestJpegBands::largePicturesDecodeAsTheReaderDoes_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("quality");
    // Heights that are not whole groups of rows, so the last band is ragged.
    QTest::newRow("colour 4:2:0") << QSize(1531, 1203) << int(QImage::Format_RGB32) << 90;
    QTest::newRow("colour, low quality") << QSize(1200, 997) << int(QImage::Format_RGB32) << 20;
    QTest::newRow("grey") << QSize(1024, 1101) << int(QImage::Format_Grayscale8) << 85;
}

void TestJpegBands::largePicturesDecodeAsTheReaderDoes()
{
    QFETCH(QSize, size);
    QFETCH(int, format);
    QFETCH(int, quality);
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    {
        QImageWriter writer(path, "jpeg");
        writer.setQuality(quality);
        writer.setText(QStringLiteral("Title"), QStringLiteral("bands"));
        QVERIFY(writer.write(photoLike(size, quint32(size.width()), QImage::Format(format))));
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(jpegbands::suitable(bytes));
    const QImage expected = readerImage(path, false);
    QVERIFY(!expected.isNull());
    for (int threads : {2, 3, 4, 7}) {
        jpegbands::Outcome outcome;
        const QImage image = jpegbands::decode(bytes, threads, picture::kAllocationLimitBytes, &outcome);
        QCOMPARE(int(outcome), int(jpegbands::Outcome::Decoded));
        const QString why = difference(image, expected);
        QVERIFY2(why.isEmpty(), qPrintable(QStringLiteral("%1 bands: %2").arg(threads).arg(why)));
    }
    // Written to a file band by band, as the launcher's first decode does.
    jpegrows::Header header;
    QVERIFY(jpegrows::readHeader(reinterpret_cast<const unsigned char *>(bytes.constData()), std::size_t(bytes.size()),
                                 &header));
    const QImage::Format rowFormat = header.components == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB32;
    const qsizetype bytesPerLine = rowFormat == QImage::Format_Grayscale8 ? (size.width() + 3) / 4 * 4 : size.width() * 4;
    const std::size_t fileBytes = std::size_t(bytesPerLine) * std::size_t(size.height());
    for (int threads : {1, 3}) {
        const int fd = ::memfd_create("rows", MFD_CLOEXEC);
        QVERIFY(fd >= 0 && ::ftruncate(fd, off_t(fileBytes)) == 0);
        const bool decoded = jpegrows::decodeToFile(reinterpret_cast<const unsigned char *>(bytes.constData()),
                                                    std::size_t(bytes.size()), header, fd, bytesPerLine, threads);
        void *rows = ::mmap(nullptr, fileBytes, PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
        QVERIFY(decoded && rows != MAP_FAILED);
        // Only the pixels go to the file; the rest is compared above.
        QImage written = QImage(static_cast<const uchar *>(rows), size.width(), size.height(), bytesPerLine, rowFormat)
                             .copy();
        ::munmap(rows, fileBytes);
        written.setColorSpace(expected.colorSpace());
        for (const QString &key : expected.textKeys())
            written.setText(key, expected.text(key));
        written.setDotsPerMeterX(expected.dotsPerMeterX());
        written.setDotsPerMeterY(expected.dotsPerMeterY());
        const QString why = difference(written, expected);
        QVERIFY2(why.isEmpty(), qPrintable(QStringLiteral("%1 bands to a file: %2").arg(threads).arg(why)));
    }
    // A file cut short decodes as far as the reader gets, grey below.
    const QByteArray cut = bytes.left(bytes.size() * 2 / 3);
    const QString cutPath = dir.filePath(QStringLiteral("cut.jpg"));
    testpictures::writeText(cutPath, cut);
    const QImage expectedCut = readerImage(cutPath, false);
    const QImage imageCut = jpegbands::decode(cut, 3, picture::kAllocationLimitBytes);
    QVERIFY2(difference(imageCut, expectedCut).isEmpty(), qPrintable(difference(imageCut, expectedCut)));
    // Over the limit: left to the reader, which reports it.
    QVERIFY(jpegbands::decode(bytes, 2, qint64(size.width()) * size.height() * 4 - 1).isNull());
}

// The launcher's decode, adopted as the first decoder, against the loader:
// for every file it takes, the same picture, or the same report when it
// turns the file down after all. The suites hold turned, profiled, damaged
// and progressive files as well as plain ones.
void TestJpegBands::firstDecodeGivesTheLoadersPicture()
{
    const QString root = testpictures::testdata(QStringLiteral("jpeg"));
    if (!QFile::exists(root))
        QSKIP("the shared test data is not beside the repository");
    QStringList paths;
    QDirIterator it(root, {QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"), QStringLiteral("*.JPG")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next();
    // A header libjpeg reads, and a scan it stops on: without its
    // quantisation tables, which are asked for only once decoding starts.
    const QTemporaryDir dir;
    const QString plain = testpictures::write(dir.path(), QStringLiteral("plain.jpg"), QSize(64, 48), Qt::blue, "jpeg");
    QFile file(plain);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    for (qsizetype at = bytes.indexOf("\xFF\xDB"); at > 0; at = bytes.indexOf("\xFF\xDB"))
        bytes.remove(at, 2 + (uchar(bytes[at + 2]) << 8 | uchar(bytes[at + 3])));
    paths << dir.filePath(QStringLiteral("untabled.jpg"));
    testpictures::writeText(paths.constLast(), bytes);

    int taken = 0, left = 0, passedOn = 0;
    QStringList faults;
    for (const QString &path : std::as_const(paths)) {
        const QByteArray native = QFile::encodeName(path);
        pid_t pid = -1;
        const int socket = firstdecode::start(native.constData(), &pid);
        QVERIFY(socket >= 0);
        DecoderPool pool;
        if (!pool.adoptFirstDecode(socket, pid)) {
            ++left;
            continue;
        }
        ++taken;
        QString error, expectedError;
        QImage image, expected;
        try {
            image = pool.LoadPicture(native);
        } catch (const RuntimeError &e) {
            error = e.description();
        }
        // It declined after all: another decoder took the file.
        passedOn += pool.started() > 1;
        try {
            expected = picture::LoadPicture(native);
        } catch (const RuntimeError &e) {
            expectedError = e.description();
        }
        if (error != expectedError)
            faults << QStringLiteral("%1: \"%2\", loader \"%3\"").arg(path, error, expectedError);
        else if (!difference(image, expected).isEmpty())
            faults << QStringLiteral("%1: %2").arg(path, difference(image, expected));
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));

    // One that ends before it answers leaves the picture to another decoder.
    pid_t pid = -1;
    const int socket = firstdecode::start(QFile::encodeName(plain).constData(), &pid);
    DecoderPool pool;
    QVERIFY(pool.adoptFirstDecode(socket, pid));
    ::kill(pid, SIGKILL);
    QVERIFY(difference(pool.LoadPicture(QFile::encodeName(plain)), picture::LoadPicture(QFile::encodeName(plain))).isEmpty());

    qInfo("the first decode took %d files, %d of them passed on, and left %d", taken, passedOn, left);
    QVERIFY2(taken > 50 && left > 100 && passedOn > 0,
             qPrintable(QStringLiteral("%1 taken, %2 passed on, %3 left").arg(taken).arg(passedOn).arg(left)));
}

VELLUPIX_GUILESS_TEST_MAIN(TestJpegBands)
#include "tst_jpegbands.moc"
