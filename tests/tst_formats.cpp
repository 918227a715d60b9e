// Pictures in the formats of phones and cameras, in their true colours:
// files made here by Debian's own encoders, read through the loader.
#include "platform/colour.h"
#include "platform/decoderpool.h"
#include "platform/picture.h"
#include "platform/runtimeerror.h"
#include "support/dngwriter.h"
#include "support/framefixture.h"
#include "support/testmain.h"
#include "support/testpictures.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

#include <zlib.h>

#include <unistd.h>

using testpictures::errorOf;

namespace {

const QString kAdobeRgb = QStringLiteral("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
const QString kGreyLStar = QStringLiteral("/usr/share/color/icc/Gray-CIE_L.icc");
const QString kSrgb = QStringLiteral("/usr/share/color/icc/sRGB.icc");
const QString kPrinter = QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc");

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

// Runs an encoder; a missing one skips the test that needs it.
bool encode(const QStringList &command, QString *why)
{
    if (QStandardPaths::findExecutable(command.first()).isEmpty()) {
        *why = command.first()
               + QStringLiteral(" is not installed (Debian: libheif-examples, libavif-bin, libjxl-tools, libraw-bin)");
        return false;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(120000) || process.exitCode() != 0) {
        *why = command.join(u' ') + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    return true;
}

// Four patches: red, green, blue (bottom left) and white (bottom right).
QImage patches(QColor red = QColor(220, 30, 30), QColor green = QColor(30, 200, 30))
{
    QImage image(96, 64, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, 48, 32, red);
    painter.fillRect(48, 0, 48, 32, green);
    painter.fillRect(0, 32, 48, 32, QColor(30, 30, 220));
    painter.fillRect(48, 32, 48, 32, Qt::white);
    return image;
}

// A baseline JPEG with an EXIF block whose orientation turns it right.
QByteArray jpegTurnedRight(const QImage &image)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpeg", 100);
    const QByteArray tiff = QByteArray("MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 26);
    const QByteArray app1 = QByteArray("Exif\0\0", 6) + tiff;
    const QByteArray segment = QByteArray("\xFF\xE1", 2) + char((app1.size() + 2) >> 8) + char((app1.size() + 2) & 0xFF) + app1;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

bool near(QRgb pixel, QColor expected, int tolerance)
{
    return qAbs(qRed(pixel) - expected.red()) <= tolerance && qAbs(qGreen(pixel) - expected.green()) <= tolerance
           && qAbs(qBlue(pixel) - expected.blue()) <= tolerance;
}

QString describe(QRgb pixel)
{
    return QStringLiteral("(%1,%2,%3)").arg(qRed(pixel)).arg(qGreen(pixel)).arg(qBlue(pixel));
}

} // namespace

class TestFormats : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void decodes_data();
    void decodes();
    void avifKeepsItsTransparency();
    void rawPreview_data();
    void rawPreview();
    void rawDevelopedAsLibrawWritesIt();
    void trueColours_data();
    void trueColours();
    void everyColourAsQtConvertsIt();
    void saveKeepsTheOwnProfile();
    void failuresAreReported();
    void damagedFilesAreReported_data();
    void damagedFilesAreReported();
    void damagedFilesSayNothing();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
    QString m_adobePng;
};

void TestFormats::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(patches().save(path("patches.png")));
    writeFile(path("turned.jpg"), jpegTurnedRight(patches()));

    // Adobe RGB numbers, tagged with a real Adobe RGB (1998) compatible
    // profile, as a camera set to Adobe RGB writes them.
    const QByteArray adobe = fileContent(kAdobeRgb);
    if (adobe.isEmpty())
        QSKIP("icc-profiles-free is not installed: no Adobe RGB compatible profile");
    QImage tagged = patches(QColor(200, 40, 40), QColor(0, 160, 0));
    tagged.setColorSpace(QColorSpace::fromIccProfile(adobe));
    QVERIFY(tagged.colorSpace().isValid());
    m_adobePng = path("adobe.png");
    QVERIFY(tagged.save(m_adobePng));
}

void TestFormats::decodes_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("tolerance");
    const QString png = path("patches.png"), turned = path("turned.jpg");
    // Lossy encoders move colours a little; the patches are far apart.
    QTest::newRow("HEIC") << QStringList{"heif-enc", "-q", "90", png, "-o", path("a.heic")} << path("a.heic")
                          << QSize(96, 64) << 12;
    QTest::newRow("AVIF") << QStringList{"avifenc", "-s", "8", png, path("a.avif")} << path("a.avif") << QSize(96, 64)
                          << 12;
    QTest::newRow("AVIF turned right") << QStringList{"avifenc", "-s", "8", turned, path("t.avif")} << path("t.avif")
                                       << QSize(64, 96) << 12;
    QTest::newRow("JPEG XL") << QStringList{"cjxl", "-d", "0", png, path("a.jxl")} << path("a.jxl") << QSize(96, 64)
                             << 0;
    QTest::newRow("JPEG XL turned right") << QStringList{"cjxl", turned, path("t.jxl")} << path("t.jxl")
                                          << QSize(64, 96) << 12;
    QTest::newRow("SVG") << QStringList{} << path("a.svg") << QSize(96, 64) << 0;
    QTest::newRow("DNG") << QStringList{} << path("a.dng") << QSize(96, 64) << 40;
    QTest::newRow("DNG turned right") << QStringList{} << path("t.dng") << QSize(64, 96) << 40;
}

void TestFormats::decodes()
{
    QFETCH(QStringList, command);
    QFETCH(QString, file);
    QFETCH(QSize, size);
    QFETCH(int, tolerance);
    QString why;
    if (file.endsWith(".svg")) {
        writeFile(file, "<svg xmlns='http://www.w3.org/2000/svg' width='96' height='64'>"
                        "<rect width='48' height='32' fill='rgb(220,30,30)'/>"
                        "<rect x='48' width='48' height='32' fill='rgb(30,200,30)'/>"
                        "<rect y='32' width='48' height='32' fill='rgb(30,30,220)'/>"
                        "<rect x='48' y='32' width='48' height='32' fill='white'/>"
                        "<text x='2' y='62' font-size='6' fill='black'>text needs fonts</text></svg>");
    } else if (file.endsWith(".dng")) {
        writeFile(file, testpictures::dng(patches(), size.width() < size.height() ? 6 : 1));
    } else if (!encode(command, &why)) {
        QSKIP(qPrintable(why));
    }
    // Through a decoder process, as the viewer reads it: confined, with only
    // the plugins and fonts it loaded before. A JPEG first, as when the
    // viewer starts with one: its decoder starts without fonts and is
    // replaced after it.
    DecoderPool decoders;
    QVERIFY(!decoders.LoadPicture(native(path("turned.jpg"))).isNull());
    QImage shown;
    const QString error = errorOf([&] { shown = decoders.LoadPicture(native(file)); });
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(shown.size(), size);
    if (file.endsWith(".heic")) {
        // Debian 12's x265 and libde265 disagree on this machine: the
        // library's own decoder gives the patches in other places. What the
        // viewer shows must be exactly what libheif decodes.
        if (!encode({"heif-convert", file, path("reference.png")}, &why))
            QSKIP(qPrintable(why));
        const QImage reference = QImage(path("reference.png")).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(reference.size(), size);
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                if (!near(shown.pixel(x, y), QColor(reference.pixel(x, y)), 1))
                    QFAIL(qPrintable(QStringLiteral("(%1,%2): %3 where libheif gives %4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(describe(shown.pixel(x, y)), describe(reference.pixel(x, y)))));
            }
        }
        return;
    }
    // Sampled well inside the patches: turned right, the blue patch that was
    // at the bottom left is at the top left.
    const int w = size.width(), h = size.height();
    const bool turned = w < h;
    const QRgb topLeft = shown.pixel(w / 4, h / 4), bottomRight = shown.pixel(3 * w / 4, 3 * h / 4);
    const QColor expectedTopLeft = turned ? QColor(30, 30, 220) : QColor(220, 30, 30);
    const QColor expectedBottomRight = turned ? QColor(30, 200, 30) : QColor(Qt::white);
    QVERIFY2(near(topLeft, expectedTopLeft, tolerance), qPrintable(describe(topLeft)));
    QVERIFY2(near(bottomRight, expectedBottomRight, tolerance), qPrintable(describe(bottomRight)));
}

void TestFormats::avifKeepsItsTransparency()
{
    QImage see(96, 64, QImage::Format_ARGB32);
    see.fill(QColor(220, 30, 30));
    for (int y = 0; y < 64; ++y)
        for (int x = 48; x < 96; ++x)
            see.setPixel(x, y, qRgba(0, 0, 0, 0));
    QVERIFY(see.save(path("see.png")));
    QString why;
    if (!encode({"avifenc", "-s", "8", path("see.png"), path("see.avif")}, &why))
        QSKIP(qPrintable(why));
    DecoderPool decoders;
    QImage shown;
    const QString error = errorOf([&] { shown = decoders.LoadPicture(native(path("see.avif"))); });
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(shown.hasAlphaChannel());
    QCOMPARE(qAlpha(shown.pixel(24, 32)), 255);
    QCOMPARE(qAlpha(shown.pixel(72, 32)), 0);
}

void TestFormats::rawPreview_data()
{
    QTest::addColumn<QSize>("preview");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QColor>("topLeft");
    // The preview's top left is yellow where the sensor's is red: which of
    // the two was shown is plain to see.
    QTest::newRow("full-size preview") << QSize(96, 64) << 1 << QSize(96, 64) << QColor(230, 230, 20);
    QTest::newRow("half-size preview") << QSize(48, 32) << 1 << QSize(48, 32) << QColor(230, 230, 20);
    QTest::newRow("full-size preview, turned right") << QSize(96, 64) << 6 << QSize(64, 96) << QColor(30, 30, 220);
    QTest::newRow("small preview: developed") << QSize(40, 26) << 1 << QSize(96, 64) << QColor(220, 30, 30);
}

void TestFormats::rawPreview()
{
    QFETCH(QSize, preview);
    QFETCH(int, orientation);
    QFETCH(QSize, size);
    QFETCH(QColor, topLeft);
    const QImage previewPicture = patches(QColor(230, 230, 20)).scaled(preview);
    writeFile(path("preview.dng"), testpictures::dng(patches(), orientation, true, previewPicture));
    QImage shown;
    const QString error = errorOf([&] { shown = picture::LoadPicture(native(path("preview.dng"))); });
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(shown.size(), size);
    const QRgb pixel = shown.pixel(size.width() / 4, size.height() / 4);
    QVERIFY2(near(pixel, topLeft, 40), qPrintable(describe(pixel)));
}

// The developed picture is written by our own loop, in bands, turned as the
// file says: it must be exactly what libraw's own writer gives, every way up.
void TestFormats::rawDevelopedAsLibrawWritesIt()
{
    QImage gradient(61, 43, QImage::Format_RGB32);
    for (int y = 0; y < gradient.height(); ++y)
        for (int x = 0; x < gradient.width(); ++x)
            gradient.setPixel(x, y, qRgb(x * 4, y * 6, (x * y) % 256));
    DecoderPool decoders;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QString file = path(QStringLiteral("gradient%1.dng").arg(orientation));
        writeFile(file, testpictures::dng(gradient, orientation));
        QString why;
        if (!encode({"dcraw_emu", "-w", "-o", "1", file}, &why))
            QSKIP(qPrintable(why));
        const QImage libraw(file + ".ppm");
        QImage shown;
        const QString error = errorOf([&] { shown = decoders.LoadPicture(native(file)); });
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(shown.size(), libraw.size());
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                if (shown.pixel(x, y) != libraw.pixel(x, y))
                    QFAIL(qPrintable(QStringLiteral("orientation %1, (%2,%3): %4 where libraw writes %5")
                                         .arg(orientation)
                                         .arg(x)
                                         .arg(y)
                                         .arg(describe(shown.pixel(x, y)), describe(libraw.pixel(x, y)))));
            }
        }
    }
}

void TestFormats::trueColours_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<QColor>("red");
    QTest::addColumn<QColor>("green");
    QTest::addColumn<int>("tolerance");
    // Adobe RGB (200,40,40) and (0,160,0) are sRGB (233,35,35) and (0,161,0).
    const QColor red(233, 35, 35), green(0, 161, 0);
    QTest::newRow("PNG, Adobe RGB") << QStringList{} << m_adobePng << QByteArray() << red << green << 2;
    QTest::newRow("HEIC, Adobe RGB") << QStringList{"heif-enc", "-L", "-p", "chroma=444", m_adobePng, "-o", path("adobe.heic")}
                                     << path("adobe.heic") << QByteArray() << red << green << 4;
    QTest::newRow("AVIF, Adobe RGB") << QStringList{"avifenc", "-l", "-s", "8", m_adobePng, path("adobe.avif")}
                                     << path("adobe.avif") << QByteArray() << red << green << 2;
    QTest::newRow("JPEG XL, Adobe RGB") << QStringList{"cjxl", "-d", "0", m_adobePng, path("adobe.jxl")}
                                        << path("adobe.jxl") << QByteArray() << red << green << 2;
    // An Adobe RGB monitor shows a picture in its own numbers unchanged.
    QTest::newRow("Adobe RGB monitor") << QStringList{} << m_adobePng << fileContent(kAdobeRgb) << QColor(200, 40, 40)
                                       << QColor(0, 160, 0) << 1;
    // No profile, but PNG's chromaticities and gamma of Adobe RGB.
    QTest::newRow("PNG, Adobe RGB as cHRM and gAMA") << QStringList{} << path("chrm.png") << QByteArray() << red
                                                     << green << 2;
    // A profile whose red and green primaries are swapped: a red file is green.
    QTest::newRow("red and green swapped") << QStringList{} << path("swapped.png") << QByteArray() << QColor(0, 255, 0)
                                           << QColor(255, 0, 0) << 2;
    // Printed colours, as stock photographs come: ImageMagick turns the
    // sRGB patches into a printer's CMYK and embeds its profile; what it
    // makes of them back in sRGB is the reference (the printer's gamut has
    // no such green as the patch's). Qt's rule of thumb would show the red
    // as (234,0,0) and the green as (61,255,0).
    QTest::newRow("CMYK JPEG, printer's profile")
        << QStringList{"convert", path("patches.png"), "-profile", kSrgb, "-profile", kPrinter, path("cmyk.jpg")}
        << path("cmyk.jpg") << QByteArray() << QColor() << QColor() << 14;
    // Greyscale profiles are beyond Qt 6.4; L* 50 is sRGB 118.
    QTest::newRow("grey, L* curve") << QStringList{} << path("grey.png") << QByteArray() << QColor(118, 118, 118)
                                    << QColor(118, 118, 118) << 2;
}

void TestFormats::trueColours()
{
    QFETCH(QStringList, command);
    QFETCH(QString, file);
    QFETCH(QByteArray, display);
    QFETCH(QColor, red);
    QFETCH(QColor, green);
    QFETCH(int, tolerance);
    QString why;
    if (file.endsWith("swapped.png")) {
        const QColorSpace srgb(QColorSpace::SRgb);
        QImage image = patches(Qt::red, Qt::green);
        image.setColorSpace(QColorSpace(srgb.primaries() == QColorSpace::Primaries::SRgb ? QPointF(0.3127, 0.3290) : QPointF(),
                                        QPointF(0.30, 0.60), QPointF(0.64, 0.33), QPointF(0.15, 0.06),
                                        QColorSpace::TransferFunction::SRgb));
        QVERIFY(image.save(file));
    } else if (file.endsWith("chrm.png")) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(patches(QColor(200, 40, 40), QColor(0, 160, 0)).save(&buffer, "png"));
        const auto chunk = [](const QByteArray &type, const QList<quint32> &values) {
            QByteArray data;
            for (quint32 v : values)
                data += QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v);
            const QByteArray body = type + data;
            const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size())));
            const auto be = [](quint32 v) { return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v); };
            return be(quint32(data.size())) + body + be(crc);
        };
        // After the signature and IHDR: white D65, red, green, blue; 1/2.2.
        writeFile(file, png.left(33) + chunk("gAMA", {45455})
                            + chunk("cHRM", {31270, 32900, 64000, 33000, 21000, 71000, 15000, 6000}) + png.mid(33));
    } else if (file.endsWith("grey.png")) {
        const QByteArray grey = fileContent(kGreyLStar);
        if (grey.isEmpty())
            QSKIP("icc-profiles-free is not installed");
        QImage image(96, 64, QImage::Format_Grayscale8);
        image.fill(128); // L* 50
        QVERIFY(image.save(file));
        // Qt cannot attach a grey profile; ImageMagick embeds it.
        if (!encode({"convert", file, "-profile", kGreyLStar, file}, &why))
            QSKIP(qPrintable(why));
    } else if (!command.isEmpty() && !encode(command, &why)) {
        QSKIP(qPrintable(why));
    }
    if (!red.isValid()) {
        if (!encode({"convert", file, "-profile", kSrgb, path("reference.png")}, &why))
            QSKIP(qPrintable(why));
        const QImage reference(path("reference.png"));
        red = reference.pixelColor(24, 16);
        green = reference.pixelColor(72, 16);
    }
    colour::setDisplayProfile(display);
    const QImage shown = picture::LoadPicture(native(file));
    colour::setDisplayProfile(QByteArray());
    QCOMPARE(shown.size(), QSize(96, 64));
    QVERIFY2(near(shown.pixel(24, 16), red, tolerance), qPrintable(describe(shown.pixel(24, 16))));
    QVERIFY2(near(shown.pixel(72, 16), green, tolerance), qPrintable(describe(shown.pixel(72, 16))));
}

// The conversion for matrix profiles is our own table work, done over the
// pixels themselves when nobody else holds them: against Qt's own conversion
// on every 8-bit colour.
void TestFormats::everyColourAsQtConvertsIt()
{
    const QByteArray adobe = fileContent(kAdobeRgb);
    if (adobe.isEmpty())
        QSKIP("no Adobe RGB profile (Debian: icc-profiles-free)");
    QImage every(4096, 4096, QImage::Format_RGB32);
    auto *pixels = reinterpret_cast<QRgb *>(every.bits());
    for (quint32 i = 0; i < (1u << 24); ++i)
        pixels[i] = 0xff000000u | i;
    every.setColorSpace(QColorSpace::fromIccProfile(adobe));
    const QImage qt = every.convertedToColorSpace(QColorSpace::SRgb);
    const uchar *before = every.constBits();
    const QImage shown = colour::toDisplay(std::move(every));
    QCOMPARE(shown.constBits(), before);
    QCOMPARE(shown.colorSpace(), QColorSpace(QColorSpace::SRgb));
    const auto *ours = reinterpret_cast<const QRgb *>(shown.constBits());
    const auto *theirs = reinterpret_cast<const QRgb *>(qt.constBits());
    for (quint32 i = 0; i < (1u << 24); ++i) {
        const QRgb a = ours[i], b = theirs[i];
        if (std::abs(qRed(a) - qRed(b)) > 1 || std::abs(qGreen(a) - qGreen(b)) > 1 || std::abs(qBlue(a) - qBlue(b)) > 1)
            QFAIL(qPrintable(QStringLiteral("%1: %2 where Qt gives %3")
                                 .arg(describe(0xff000000u | i), describe(a), describe(b))));
    }
}

void TestFormats::saveKeepsTheOwnProfile()
{
    if (m_adobePng.isEmpty())
        QSKIP("no Adobe RGB compatible profile");
    FrameFixture f;
    f.open(m_adobePng);
    QVERIFY2(f.dialogs.boxes.isEmpty(), qPrintable(f.lastBox().prompt));
    QVERIFY(near(f.form1().Picture1().Picture().pixel(24, 16), QColor(233, 35, 35), 2));
    f.frame->Zoom_In_Click();
    const QColorSpace adobe = QColorSpace::fromIccProfile(fileContent(kAdobeRgb));
    // Formats that carry a profile keep the file's own numbers and profile;
    // the others are written as what a file without one is taken for, sRGB.
    const struct
    {
        const char *name;
        QColor red;
        bool tagged;
    } saves[] = {{"copy.png", QColor(200, 40, 40), true},
                 {"copy.jpg", QColor(200, 40, 40), true},
                 {"copy.tif", QColor(200, 40, 40), true},
                 {"copy.webp", QColor(200, 40, 40), true},
                 {"copy.bmp", QColor(233, 35, 35), false}};
    for (const auto &save : saves) {
        f.dialogs.files.append(path(save.name));
        f.frame->Save_Click();
        QVERIFY2(f.dialogs.boxes.isEmpty(), qPrintable(f.lastBox().prompt));
        const QImage written = QImage(path(save.name));
        QVERIFY2(written.colorSpace().isValid() == save.tagged, save.name);
        if (save.tagged)
            QVERIFY2(written.colorSpace() == adobe, save.name);
        QVERIFY2(near(written.pixel(24, 16), save.red, 3), qPrintable(save.name + describe(written.pixel(24, 16))));
    }
}

void TestFormats::failuresAreReported()
{
    // Colour-filter data in a plain TIFF: Qt's reader returns false and
    // leaves a black picture behind.
    writeFile(path("cfa.tif"), testpictures::dng(patches(), 1, false));
    const QString tiff = errorOf([&] { picture::LoadPicture(native(path("cfa.tif"))); });
    QVERIFY2(tiff.contains(u"is damaged or uses a kind of TIFF"), qPrintable(tiff));

    // A HEIC cut in half: libheif's reason is given.
    QString why;
    if (!encode({"heif-enc", "-q", "90", path("patches.png"), "-o", path("whole.heic")}, &why))
        QSKIP(qPrintable(why));
    const QByteArray heic = fileContent(path("whole.heic"));
    const QString cut = errorOf([&] {
        writeFile(path("cut.heic"), heic.left(heic.size() / 2));
        picture::LoadPicture(native(path("cut.heic")));
    });
    QVERIFY2(cut.contains(u"kind of HEIC this program cannot decode ("), qPrintable(cut));
}

void TestFormats::damagedFilesAreReported_data()
{
    QTest::addColumn<QString>("file");
    for (const char *name : {"a.heic", "a.avif", "t.jxl", "a.jxl", "a.dng", "adobe.png"})
        QTest::newRow(name) << path(name);
}

void TestFormats::damagedFilesAreReported()
{
    QFETCH(QString, file);
    const QByteArray good = fileContent(file);
    if (good.isEmpty())
        QSKIP("the file was not made");
    // Cut at many points and with bytes flipped all over: each either shows
    // a picture or is reported, and nothing crashes or hangs.
    QList<QByteArray> damaged;
    for (int i = 1; i < 12; ++i)
        damaged << good.left(good.size() * i / 12);
    for (int i = 0; i < 24; ++i) {
        QByteArray flipped = good;
        const qsizetype at = 12 + (qsizetype(i) * 7919) % qMax<qsizetype>(1, flipped.size() - 12);
        flipped[at] = char(~flipped[at]);
        damaged << flipped;
    }
    int reported = 0;
    for (const QByteArray &content : damaged) {
        writeFile(path("damaged"), content);
        QImage shown;
        const QString error = errorOf([&] { shown = picture::LoadPicture(native(path("damaged"))); });
        QVERIFY2(!error.isEmpty() || !shown.isNull(), "neither a picture nor a report");
        reported += !error.isEmpty();
    }
    QVERIFY(reported >= 11 - 1); // every cut but perhaps the last
}

void TestFormats::damagedFilesSayNothing()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("a sanitized decoder keeps its stderr for its reports");
#endif
    QString why;
    if (!encode({"cjxl", "-d", "1", path("patches.png"), path("chatty.jxl")}, &why))
        QSKIP(qPrintable(why));
    const QByteArray good = fileContent(path("chatty.jxl"));
    writeFile(path("cut.jxl"), good.left(good.size() / 2));
    // The decoders write where this process does, from their start.
    fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    QFile capture(path("stderr.txt"));
    QVERIFY(capture.open(QIODevice::ReadWrite | QIODevice::Truncate));
    ::dup2(capture.handle(), STDERR_FILENO);
    QString error;
    {
        DecoderPool decoders;
        error = errorOf([&] { decoders.LoadPicture(native(path("cut.jxl"))); });
    }
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    QVERIFY(!error.isEmpty());
    capture.seek(0);
    const QByteArray said = capture.readAll();
    QVERIFY2(said.isEmpty(), said.constData());
}

VELLUPIX_TEST_MAIN(TestFormats)
#include "tst_formats.moc"
