// The platform pieces that need no widgets: checked whole numbers, the file
// list and its order, and the picture loader and saver. Built and run
// without QtWidgets.

#include "platform/checked.h"
#include "platform/filelist.h"
#include "platform/naturalorder.h"
#include "platform/picture.h"
#include "support/testmain.h"
#include "support/testpictures.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtEndian>

#include <cmath>
#include <csignal>
#include <functional>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <zlib.h>

using testpictures::write;

using testpictures::errorOf;

namespace {

QStringList listed(const QString &dir)
{
    QStringList names;
    for (const auto &e : FileListBox::readFolder(dir))
        names << QString::fromUtf8(e.name);
    return names;
}

// The signature and header chunk of a PNG claiming the given size.
QByteArray pngHeaderOnly(quint32 width, quint32 height)
{
    QByteArray ihdr("IHDR");
    char be[4];
    qToBigEndian(width, be);
    ihdr.append(be, 4);
    qToBigEndian(height, be);
    ihdr.append(be, 4);
    ihdr.append("\x08\x06\x00\x00\x00", 5);
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    qToBigEndian(quint32(13), be);
    png.append(be, 4);
    png.append(ihdr);
    qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef *>(ihdr.constData()), uInt(ihdr.size()))), be);
    png.append(be, 4);
    return png;
}

// A small PNG whose header claims a huge picture: a few bytes of image data
// that would expand to gigabytes, and the end chunk.
QByteArray pngBomb(quint32 width, quint32 height)
{
    QByteArray png = pngHeaderOnly(width, height);
    const QByteArray zeros(4096, '\0');
    QByteArray idat("IDAT");
    idat += qCompress(zeros).mid(4); // a zlib stream without Qt's length prefix
    char be[4];
    qToBigEndian(quint32(idat.size() - 4), be);
    png.append(be, 4);
    png.append(idat);
    qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef *>(idat.constData()), uInt(idat.size()))), be);
    png.append(be, 4);
    png.append(QByteArray("\0\0\0\0IEND\xae\x42\x60\x82", 12));
    return png;
}

} // namespace

class TestLoader : public QObject
{
    Q_OBJECT
private slots:
    void roundsHalfToEvenAndDetectsOverflow_data();
    void roundsHalfToEvenAndDetectsOverflow();
    void addAndSubtractDetectOverflow();
    void naturalOrder_data();
    void naturalOrder();
    void fileListHoldsOnlyRegularFiles();
    void fileListPositionIsChecked();
    void fileListKeepsNamesThatAreNotText();
    void unreadableFolderIsReported();
    void loaderReportsWhatIsWrong();
    void loaderRefusesAFifoWithoutBlocking();
    void loaderRefusesHugeHeadersQuickly();
    void loaderAppliesExifOrientation();
    void loaderReadsIconsAndCursors();
    void saverEncodingFollowsTheSuffix_data();
    void saverEncodingFollowsTheSuffix();
    void failedSaveLeavesTheOldFile();
};

void TestLoader::roundsHalfToEvenAndDetectsOverflow_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("overflows");
    QTest::newRow("17842.5 to even") << 17842.5 << 17842 << false;
    QTest::newRow("12802.5 to even") << 12802.5 << 12802 << false;
    QTest::newRow("1.5 up") << 1.5 << 2 << false;
    QTest::newRow("-2.5 to even") << -2.5 << -2 << false;
    QTest::newRow("0.4 down") << 0.4 << 0 << false;
    QTest::newRow("32768 fits 32 bits") << 32768.0 << 32768 << false;
    QTest::newRow("largest") << 2147483647.0 << 2147483647 << false;
    QTest::newRow("one past") << 2147483648.0 << 0 << true;
    QTest::newRow("below smallest") << -2147483649.0 << 0 << true;
    QTest::newRow("not a number") << std::nan("") << 0 << true;
}

void TestLoader::roundsHalfToEvenAndDetectsOverflow()
{
    QFETCH(double, value);
    QFETCH(int, expected);
    QFETCH(bool, overflows);
    int result = 0;
    const QString error = errorOf([&] { result = checked::round(value); });
    QCOMPARE(error, overflows ? QStringLiteral("Overflow") : QString());
    if (!overflows)
        QCOMPARE(result, expected);
}

void TestLoader::addAndSubtractDetectOverflow()
{
    QCOMPARE(checked::add(2147483646, 1), 2147483647);
    QCOMPARE(errorOf([] { checked::add(2147483647, 1); }), QStringLiteral("Overflow"));
    QCOMPARE(errorOf([] { checked::sub(-2147483647 - 1, 1); }), QStringLiteral("Overflow"));
    QCOMPARE(checked::sub(0, 1), -1);
}

void TestLoader::naturalOrder_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("sorted");
    QTest::newRow("digits by value") << QStringList{"img10.jpg", "img2.jpg", "img1.jpg"}
                                     << QStringList{"img1.jpg", "img2.jpg", "img10.jpg"};
    QTest::newRow("case ignored") << QStringList{"b.png", "C.png", "a.png", "B2.png"}
                                  << QStringList{"a.png", "b.png", "B2.png", "C.png"};
    QTest::newRow("ties by exact name") << QStringList{"a.jpg", "A.jpg"} << QStringList{"A.jpg", "a.jpg"};
    QTest::newRow("leading zeros equal, then exact") << QStringList{"x2", "x02", "x1"}
                                                     << QStringList{"x1", "x02", "x2"};
    QTest::newRow("number runs longer than any integer")
        << QStringList{"p123456789012345678901234567890", "p99999999999999999999999999999"}
        << QStringList{"p99999999999999999999999999999", "p123456789012345678901234567890"};
    QTest::newRow("prefix first") << QStringList{"photo1", "photo"} << QStringList{"photo", "photo1"};
    QTest::newRow("non-Latin, case folded") << QStringList{"Ωmega", "alpha", "ωmega2"}
                                            << QStringList{"alpha", "Ωmega", "ωmega2"};
}

void TestLoader::naturalOrder()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, sorted);
    QTemporaryDir dir;
    for (const QString &n : names)
        testpictures::writeText(dir.filePath(n), "x");
    QCOMPARE(listed(dir.path()), sorted);
}

void TestLoader::fileListHoldsOnlyRegularFiles()
{
    QTemporaryDir dir;
    const QDir d(dir.path());
    write(dir.path(), "b.png");
    testpictures::writeText(d.filePath("c-empty.jpg"), "");
    QVERIFY(d.mkdir("x.jpg"));
    QCOMPARE(::mkfifo(QFile::encodeName(d.filePath("fifo.jpg")).constData(), 0644), 0);
    QVERIFY(QFile::link(d.filePath("b.png"), d.filePath("a-link.png")));
    QVERIFY(QFile::link(d.filePath("nowhere.png"), d.filePath("dangling.png")));
    QVERIFY(QFile::link(d.filePath("loop2"), d.filePath("loop1")));
    QVERIFY(QFile::link(d.filePath("loop1"), d.filePath("loop2")));
    QVERIFY(QFile::link(d.path(), d.filePath("dirlink.jpg")));
    write(dir.path(), "._b.png"); // a Mac's companion file: hidden

    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(sock >= 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray sockPath = QFile::encodeName(d.filePath("sock.jpg"));
    if (sockPath.size() < qsizetype(sizeof addr.sun_path)) {
        std::memcpy(addr.sun_path, sockPath.constData(), size_t(sockPath.size()));
        QCOMPARE(::bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    }
    ::close(sock);

    QCOMPARE(listed(dir.path()), (QStringList{"a-link.png", "b.png", "c-empty.jpg"}));
}

void TestLoader::fileListPositionIsChecked()
{
    QTemporaryDir dir;
    write(dir.path(), "one.png");
    write(dir.path(), "two.png");
    FileListBox list;
    list.setPath(dir.path());
    QCOMPARE(list.ListCount(), 2);
    QCOMPARE(list.ListIndex(), -1);
    QCOMPARE(list.FileName(), QString());
    list.setListIndex(1);
    QCOMPARE(list.FileName(), QStringLiteral("two.png"));
    QVERIFY(errorOf([&] { list.setListIndex(2); }).contains(u"2"));
    QVERIFY(!errorOf([&] { list.setListIndex(-2); }).isEmpty());
    QCOMPARE(list.ListIndex(), 1); // a refused position changes nothing
    list.setListIndex(-1);
    QCOMPARE(list.FileName(), QString());
    QCOMPARE(list.indexOf("one.png"), 0);
    QCOMPARE(list.indexOf("three.png"), -1);
}

void TestLoader::fileListKeepsNamesThatAreNotText()
{
    QTemporaryDir dir;
    const QByteArray latin1Name("caf\xe9.png"); // not valid UTF-8
    const QByteArray path = QFile::encodeName(dir.path()) + '/' + latin1Name;
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(testpictures::make(QSize(7, 5), Qt::blue).save(&buffer, "png"));
        FILE *f = std::fopen(path.constData(), "wb");
        QVERIFY(f);
        std::fwrite(buffer.data().constData(), 1, size_t(buffer.data().size()), f);
        std::fclose(f);
    }
    FileListBox list;
    list.setPath(dir.path());
    QCOMPARE(list.ListCount(), 1);
    list.setListIndex(0);
    QCOMPARE(list.nativeFileName(), latin1Name);
    const QImage image = picture::LoadPicture(joinNativePath(list.Path(), list.nativeFileName()));
    QCOMPARE(image.size(), QSize(7, 5));
    QVERIFY(!displayName(list.FileName()).isEmpty());
}

void TestLoader::unreadableFolderIsReported()
{
    const QString error = errorOf([] { FileListBox::readFolder(QStringLiteral("/no/such/folder")); });
    QVERIFY2(error.contains(u"/no/such/folder"), qPrintable(error));
    FileListBox list;
    const QString before = list.Path();
    QVERIFY(!errorOf([&] { list.setPath(QStringLiteral("/no/such/folder")); }).isEmpty());
    QCOMPARE(list.Path(), before);
    DirListBox dirList;
    QVERIFY(!errorOf([&] { dirList.setPath(QStringLiteral("/no/such/folder")); }).isEmpty());
}

void TestLoader::loaderReportsWhatIsWrong()
{
    QTemporaryDir dir;
    const QDir d(dir.path());
    QVERIFY(picture::LoadPicture(QByteArray()).isNull());
    QVERIFY(errorOf([&] { picture::LoadPicture(QFile::encodeName(d.filePath("gone.png"))); }).contains(u"cannot be found"));
    QVERIFY(errorOf([&] { picture::LoadPicture(QFile::encodeName(d.path())); }).contains(u"is a folder"));
    testpictures::writeText(d.filePath("empty.jpg"), "");
    QVERIFY(errorOf([&] { picture::LoadPicture(QFile::encodeName(d.filePath("empty.jpg"))); }).contains(u"is empty"));
    testpictures::writeText(d.filePath("notes.txt"), "just words, no picture\n");
    const QString notPicture = errorOf([&] { picture::LoadPicture(QFile::encodeName(d.filePath("notes.txt"))); });
    QVERIFY2(notPicture.contains(u"notes.txt") && notPicture.contains(u"not a picture"), qPrintable(notPicture));

    // A JPEG cut off before its first scan: the name and the kind are named.
    QFile good(testpictures::testdata("jpeg/pillow/good/hopper.jpg"));
    QVERIFY(good.open(QIODevice::ReadOnly));
    testpictures::writeText(d.filePath("cut.jpg"), good.read(200));
    const QString damaged = errorOf([&] { picture::LoadPicture(QFile::encodeName(d.filePath("cut.jpg"))); });
    QVERIFY2(damaged.contains(u"cut.jpg") && damaged.contains(u"JPEG"), qPrintable(damaged));
}

void TestLoader::loaderRefusesAFifoWithoutBlocking()
{
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath("pipe.jpg"));
    QCOMPARE(::mkfifo(fifo.constData(), 0644), 0);
    // Would block for ever in a plain open(); the test's time-out catches that.
    QVERIFY(errorOf([&] { picture::LoadPicture(fifo); }).contains(u"not a regular file"));
}

void TestLoader::loaderRefusesHugeHeadersQuickly()
{
    QTemporaryDir dir;
    testpictures::writeText(dir.filePath("bomb.png"), pngBomb(50000, 50000));
    // Refused from the header: a decoder that had started would fail on the
    // data instead and say the picture is damaged, not how large it is.
    const QString error = errorOf([&] { picture::LoadPicture(QFile::encodeName(dir.filePath("bomb.png"))); });
    QVERIFY2(error.contains(u"too large") && error.contains(u"50000 \u00d7 50000"), qPrintable(error));

    // A real photograph's size is within the limit: 8000 x 6000 decodes.
    testpictures::write(dir.path(), "big.jpg", QSize(8000, 6000), Qt::darkGreen, "jpeg");
    QCOMPARE(picture::LoadPicture(QFile::encodeName(dir.filePath("big.jpg"))).size(), QSize(8000, 6000));
}

void TestLoader::loaderAppliesExifOrientation()
{
    const QByteArray path = QFile::encodeName(testpictures::testdata("jpeg/pillow/good/orientation_rectangle.jpg"));
    QImageReader raw(QString::fromUtf8(path));
    const QSize stored = raw.size();
    const QImage shown = picture::LoadPicture(path);
    QVERIFY(stored.isValid());
    QCOMPARE(shown.size(), stored.transposed());
}

void TestLoader::loaderReadsIconsAndCursors()
{
    const QImage cursor = picture::LoadPicture(QFile::encodeName(testpictures::testdata("ico-cur/pillow/good/deerstalker.cur")));
    QCOMPARE(cursor.size(), QSize(32, 32));
    const QImage bitmap = picture::LoadPicture(QFile::encodeName(testpictures::testdata("bmp/pillow/good/hopper.bmp")));
    QCOMPARE(bitmap.size(), QSize(128, 128));
    // Of an icon's sizes the largest is shown.
    const QByteArray icon = QFile::encodeName(testpictures::testdata("ico-cur/pillow/good/python.ico"));
    QImageReader reader(QString::fromUtf8(icon));
    int largest = 0;
    for (int i = 0; i < reader.imageCount(); ++i) {
        reader.jumpToImage(i);
        largest = qMax(largest, reader.read().width());
    }
    QVERIFY(reader.imageCount() > 1);
    QCOMPARE(picture::LoadPicture(icon).width(), largest);
}

void TestLoader::saverEncodingFollowsTheSuffix_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("jpg") << "out.jpg" << QByteArray("jpeg");
    QTest::newRow("JPEG upper case") << "out.JPEG" << QByteArray("jpeg");
    QTest::newRow("png") << "out.png" << QByteArray("png");
    QTest::newRow("bmp") << "out.bmp" << QByteArray("bmp");
    QTest::newRow("ico") << "out.ico" << QByteArray("ico");
    QTest::newRow("no suffix") << "out" << QByteArray("bmp");
    QTest::newRow("unknown suffix") << "out.xyz" << QByteArray("bmp");
}

void TestLoader::saverEncodingFollowsTheSuffix()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, format);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    picture::SavePicture(testpictures::make(QSize(48, 32), Qt::magenta), path);
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), format);
    QCOMPARE(reader.read().size(), QSize(48, 32));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{name}); // no temporary file left
}

void TestLoader::failedSaveLeavesTheOldFile()
{
    QTemporaryDir dir;
    const QString path = write(dir.path(), "keep.bmp", QSize(10, 10), Qt::green, "bmp");
    QFile original(path);
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray before = original.readAll();
    original.close();

    // A file size limit makes the write fail halfway, as a full disk would
    // (as a bitmap: Qt's PNG writer leaks its row buffer on a write error).
    QImage noise(600, 600, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb((x * 7919 + y * 104729) % 251, (x ^ y) & 255, (x * y) % 253));
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
    const rlimit small{4096, limit.rlim_max};
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    const QString error = errorOf([&] { picture::SavePicture(noise, path); });
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY2(error.contains(u"keep.bmp"), qPrintable(error));
    QVERIFY(original.open(QIODevice::ReadOnly));
    QCOMPARE(original.readAll(), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"keep.bmp"});

    QVERIFY(errorOf([&] { picture::SavePicture(QImage(), dir.filePath("none.png")); }).contains(u"no picture"));
    QVERIFY(!QFile::exists(dir.filePath("none.png")));
    const QString noFolder = errorOf([&] { picture::SavePicture(testpictures::make(QSize(5, 5), Qt::red), dir.filePath("missing/x.png")); });
    QVERIFY2(noFolder.contains(u"x.png"), qPrintable(noFolder));
}

VELLUPIX_GUILESS_TEST_MAIN(TestLoader)
#include "tst_loader.moc"
