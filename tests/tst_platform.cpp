// The small platform layer: checked whole numbers, twips, the file list and
// its order, the dialog filter, and the picture loader and saver.

#include "platform/checked.h"
#include "platform/dialogs.h"
#include "platform/filelist.h"
#include "platform/naturalorder.h"
#include "platform/picture.h"
#include "platform/picturebox.h"
#include "platform/reducedcopies.h"
#include "platform/twips.h"
#include "support/testmain.h"
#include "support/testpictures.h"

#include <QBuffer>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QTimer>
#include <QImageReader>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <memory>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <zlib.h>

using testpictures::write;

namespace {

QString errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const RuntimeError &e) {
        return e.description();
    }
    return QString();
}

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

class TestPlatform : public QObject
{
    Q_OBJECT
private slots:
    void roundsHalfToEvenAndDetectsOverflow_data();
    void roundsHalfToEvenAndDetectsOverflow();
    void addAndSubtractDetectOverflow();
    void twipsFollowTheLogicalDpi();

    void pictureIsSharpAtDoubleDensity();
    void partRepaintMatchesWholePaint_data();
    void partRepaintMatchesWholePaint();
    void shrunkPictureFromCopiesLooksAsSmoothScaling_data();
    void shrunkPictureFromCopiesLooksAsSmoothScaling();
    void naturalOrder_data();
    void naturalOrder();
    void fileListHoldsOnlyRegularFiles();
    void fileListPositionIsChecked();
    void fileListKeepsNamesThatAreNotText();
    void unreadableFolderIsReported();

    void filterMatchesWhateverTheCase();

    void realMessageBoxMapsTheStyle_data();
    void realMessageBoxMapsTheStyle();
    void realFileDialogOffersTheFileChosenLast();

    void loaderReportsWhatIsWrong();
    void loaderRefusesAFifoWithoutBlocking();
    void loaderRefusesHugeHeadersQuickly();
    void loaderAppliesExifOrientation();
    void loaderReadsIconsAndCursors();

    void saverEncodingFollowsTheSuffix_data();
    void saverEncodingFollowsTheSuffix();
    void failedSaveLeavesTheOldFile();
};

void TestPlatform::roundsHalfToEvenAndDetectsOverflow_data()
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

void TestPlatform::roundsHalfToEvenAndDetectsOverflow()
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

void TestPlatform::addAndSubtractDetectOverflow()
{
    QCOMPARE(checked::add(2147483646, 1), 2147483647);
    QCOMPARE(errorOf([] { checked::add(2147483647, 1); }), QStringLiteral("Overflow"));
    QCOMPARE(errorOf([] { checked::sub(-2147483647 - 1, 1); }), QStringLiteral("Overflow"));
    QCOMPARE(checked::sub(0, 1), -1);
}

void TestPlatform::twipsFollowTheLogicalDpi()
{
    const TwipScale at96{96, 1};
    QCOMPARE(at96.twipsPerPixel(), 15.0);
    QCOMPARE(at96.toTwips(40), 600.0f);
    QCOMPARE(at96.toPixels(11895), 793.0);
    QCOMPARE(at96.pictureTwips(100), 1500.0f);

    const TwipScale at192{192, 1};
    QCOMPARE(at192.twipsPerPixel(), 7.5);
    QCOMPARE(at192.toPixels(1500), 200.0);

    // With a device pixel ratio of 2 a picture pixel takes one device pixel:
    // half a logical pixel.
    const TwipScale doubled{96, 2};
    QCOMPARE(doubled.pictureTwips(100), 750.0f);
    QCOMPARE(doubled.toPixels(doubled.pictureTwips(100)), 50.0);
}

void TestPlatform::pictureIsSharpAtDoubleDensity()
{
    QImage picture(4, 4, QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            picture.setPixel(x, y, qRgb(x * 60, y * 60, (x + y) * 30));
    PictureBox box;
    box.setScale({96, 2});
    box.setPicture(picture);
    QCOMPARE(box.Width(), 30.0f); // two logical pixels

    QImage screen(8, 8, QImage::Format_RGB32);
    screen.setDevicePixelRatio(2);
    screen.fill(Qt::gray);
    {
        QPainter painter(&screen);
        box.paint(painter, QRect(0, 0, 4, 4));
    }
    // One picture pixel to one device pixel: nothing interpolated.
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            QCOMPARE(screen.pixel(x, y), picture.pixel(x, y));
}

void TestPlatform::partRepaintMatchesWholePaint_data()
{
    QTest::addColumn<double>("dpr");
    QTest::newRow("1x") << 1.0;
    QTest::newRow("2x") << 2.0;
}

void TestPlatform::partRepaintMatchesWholePaint()
{
    // A box centred at a fraction of a pixel, as centring leaves it; a part
    // exposed alone (a window above it closing) must match the whole paint.
    QFETCH(double, dpr);
    PictureBox box;
    box.setScale({96, dpr});
    box.setPicture(testpictures::make(QSize(61, 47), Qt::darkCyan));
    box.setLeft(7.0f * 15 + 3.75f); // 7.25 pixels
    box.setTop(5.0f * 15 + 7.5f);

    const auto paint = [&](const QRect &exposed) {
        QImage screen(QSize(90, 70) * dpr, QImage::Format_RGB32);
        screen.setDevicePixelRatio(dpr);
        screen.fill(Qt::gray);
        QPainter painter(&screen);
        box.paint(painter, exposed);
        return screen;
    };
    const QImage whole = paint(QRect(0, 0, 90, 70));
    const QRect part(30, 20, 25, 18);
    const QImage alone = paint(part);
    const QRect device(part.topLeft() * dpr, part.size() * dpr);
    QCOMPARE(alone.copy(device), whole.copy(device));
}

void TestPlatform::shrunkPictureFromCopiesLooksAsSmoothScaling_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<bool>("fromACopy");
    QTest::newRow("0.6: the picture itself") << 0.6 << false;
    QTest::newRow("0.36: the half") << 0.36 << true;
    QTest::newRow("0.13: an eighth") << 0.13 << true;
}

void TestPlatform::shrunkPictureFromCopiesLooksAsSmoothScaling()
{
    QFETCH(double, scale);
    QFETCH(bool, fromACopy);
    // Photo-like: soft shapes, edges and a fine grain that a careless
    // reduction would alias or blur.
    QImage picture(2400, 1700, QImage::Format_RGB32);
    std::uint32_t noise = 12345;
    for (int y = 0; y < picture.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = int(noise >> 27) - 16;
            const int wave = int(50 * std::sin(x / 97.0) + 40 * std::cos(y / 61.0));
            const int edge = ((x / 150 + y / 110) % 2) ? 50 : -50;
            line[x] = qRgb(std::clamp(120 + wave + grain, 0, 255), std::clamp(110 + edge + grain, 0, 255),
                           std::clamp(140 - wave / 2 + edge / 2 + grain, 0, 255));
        }
    }
    const auto copies = std::make_shared<const ReducedCopies>(picture);
    QCOMPARE(copies->atLeast(scale, scale).image != nullptr, fromACopy);

    PictureBox box;
    box.setScale({96, 1});
    const QSize shown(qRound(picture.width() * scale), qRound(picture.height() * scale));
    box.setWidth(float(shown.width() * 15));
    box.setHeight(float(shown.height() * 15));
    box.PaintPicture(picture, QRectF(0, 0, shown.width() * 15, shown.height() * 15),
                     QRectF(0, 0, picture.width() * 15, picture.height() * 15), copies);
    QImage screen(shown, QImage::Format_RGB32);
    {
        QPainter painter(&screen);
        box.paint(painter, screen.rect());
    }
    const QImage expected = picture.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double sum = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            const QRgb a = screen.pixel(x, y), b = expected.pixel(x, y);
            sum += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
        }
    }
    const double meanDifference = sum / (3.0 * 255.0 * shown.width() * shown.height());
    QVERIFY2(meanDifference < 0.01, qPrintable(QString::number(meanDifference * 100) + " %"));
}

void TestPlatform::naturalOrder_data()
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

void TestPlatform::naturalOrder()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, sorted);
    QTemporaryDir dir;
    for (const QString &n : names)
        testpictures::writeText(dir.filePath(n), "x");
    QCOMPARE(listed(dir.path()), sorted);
}

void TestPlatform::fileListHoldsOnlyRegularFiles()
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

void TestPlatform::fileListPositionIsChecked()
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

void TestPlatform::fileListKeepsNamesThatAreNotText()
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

void TestPlatform::unreadableFolderIsReported()
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

void TestPlatform::filterMatchesWhateverTheCase()
{
    const QStringList filters = qtNameFilters(QStringLiteral("JPG文件(*.JPG)|*.jpg|图标文件(*.ICO)|*.Ico"));
    QCOMPARE(filters.size(), 2);
    QVERIFY(filters[0].startsWith(QStringLiteral("JPG文件(*.JPG) (")));

    QTemporaryDir dir;
    for (const char *n : {"IMG_0001.JPG", "b.jpg", "c.Jpg", "d.png", "e.ICO", "f.ico"})
        testpictures::writeText(dir.filePath(QString::fromLatin1(n)), "x");
    // A desktop's own dialog (GTK's) matches the patterns case-sensitively.
    QStringList taken;
    const QString patterns = filters[0].section(u'(', -1).chopped(1);
    for (const QString &name : QDir(dir.path()).entryList(QDir::Files, QDir::Name)) {
        for (const QString &pattern : patterns.split(u' ')) {
            if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern)).match(name).hasMatch())
                taken << name;
        }
    }
    QCOMPARE(taken, (QStringList{"IMG_0001.JPG", "b.jpg", "c.Jpg"}));

    // Qt's own dialog reads the same patterns.
    QFileDialog dialog(nullptr, QString(), dir.path());
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setNameFilters(filters);
    auto *view = dialog.findChild<QListView *>(QStringLiteral("listView"));
    QVERIFY(view);
    const auto shown = [&] {
        QStringList names;
        for (int i = 0; i < view->model()->rowCount(view->rootIndex()); ++i)
            names << view->model()->index(i, 0, view->rootIndex()).data().toString();
        names.sort();
        return names;
    };
    QTRY_COMPARE(shown(), (QStringList{"IMG_0001.JPG", "b.jpg", "c.Jpg"}));
    dialog.selectNameFilter(filters[1]);
    QTRY_COMPARE(shown(), (QStringList{"e.ICO", "f.ico"}));
}

namespace {
// Runs check on the modal dialog once it is up; check must close it.
template <typename Dialog>
void whenShown(std::function<void(Dialog *)> check)
{
    auto *poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, check] {
        if (auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            check(dialog);
        }
    });
    poll->start();
}
} // namespace

void TestPlatform::realMessageBoxMapsTheStyle_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("answer");
    QTest::newRow("critical, OK, Escape") << (vb::vbOKOnly | vb::vbCritical) << int(QMessageBox::Critical)
                                          << int(Qt::Key_Escape) << vb::vbOK;
    QTest::newRow("no icon") << vb::vbOKOnly << int(QMessageBox::NoIcon) << int(Qt::Key_Return) << vb::vbOK;
    QTest::newRow("question, Yes is the default") << (vb::vbYesNo | vb::vbQuestion) << int(QMessageBox::Question)
                                                  << int(Qt::Key_Return) << vb::vbYes;
    QTest::newRow("question, Escape is No") << (vb::vbYesNo | vb::vbQuestion) << int(QMessageBox::Question)
                                            << int(Qt::Key_Escape) << vb::vbNo;
}

void TestPlatform::realMessageBoxMapsTheStyle()
{
    QFETCH(int, style);
    QFETCH(int, icon);
    QFETCH(int, key);
    QFETCH(int, answer);
    QtDialogs dialogs;
    QString text, caption;
    int shownIcon = -1;
    whenShown<QMessageBox>([&](QMessageBox *box) {
        text = box->text();
        caption = box->windowTitle();
        shownIcon = box->icon();
        QTest::keyClick(box, Qt::Key(key));
    });
    QCOMPARE(dialogs.MsgBox(nullptr, QStringLiteral("Error:gone"), style, QStringLiteral("Error")), answer);
    QCOMPARE(text, QStringLiteral("Error:gone"));
    QCOMPARE(caption, QStringLiteral("Error"));
    QCOMPARE(shownIcon, icon);
}

void TestPlatform::realFileDialogOffersTheFileChosenLast()
{
    QTemporaryDir dir;
    write(dir.path(), "a.jpg", QSize(4, 4), Qt::red, "jpeg");
    const QString chosen = write(dir.path(), "chosen.bmp", QSize(4, 4), Qt::red, "bmp");
    QWidget frame;
    frame.resize(1000, 800);
    QtDialogs dialogs;
    QString title, name, filter;
    QSize size;
    whenShown<QFileDialog>([&](QFileDialog *dialog) {
        title = dialog->windowTitle();
        filter = dialog->selectedNameFilter();
        name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
        size = dialog->size();
        dialog->reject();
    });
    const FileDialogRequest request{QStringLiteral("打开文件"),
                                    QStringLiteral("JPG文件(*.JPG)|*.jpg|位图文件(*.bmp)|*.bmp"), chosen, dir.path()};
    QCOMPARE(dialogs.ShowSave(&frame, request), std::nullopt);
    QCOMPARE(title, QStringLiteral("打开文件"));
    QCOMPARE(name, QStringLiteral("chosen.bmp"));
    QVERIFY2(filter.startsWith(QStringLiteral("位图文件")), qPrintable(filter));
    // Qt's own 475 x 330 cuts every column; the offscreen screen is 800 x 600.
    QVERIFY2(size.width() >= 780 && size.height() >= 480, qPrintable(QStringLiteral("%1 x %2").arg(size.width()).arg(size.height())));
}

void TestPlatform::loaderReportsWhatIsWrong()
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

void TestPlatform::loaderRefusesAFifoWithoutBlocking()
{
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath("pipe.jpg"));
    QCOMPARE(::mkfifo(fifo.constData(), 0644), 0);
    // Would block for ever in a plain open(); the test's time-out catches that.
    QVERIFY(errorOf([&] { picture::LoadPicture(fifo); }).contains(u"not a regular file"));
}

void TestPlatform::loaderRefusesHugeHeadersQuickly()
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

void TestPlatform::loaderAppliesExifOrientation()
{
    const QByteArray path = QFile::encodeName(testpictures::testdata("jpeg/pillow/good/orientation_rectangle.jpg"));
    QImageReader raw(QString::fromUtf8(path));
    const QSize stored = raw.size();
    const QImage shown = picture::LoadPicture(path);
    QVERIFY(stored.isValid());
    QCOMPARE(shown.size(), stored.transposed());
}

void TestPlatform::loaderReadsIconsAndCursors()
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

void TestPlatform::saverEncodingFollowsTheSuffix_data()
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

void TestPlatform::saverEncodingFollowsTheSuffix()
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

void TestPlatform::failedSaveLeavesTheOldFile()
{
    QTemporaryDir dir;
    const QString path = write(dir.path(), "keep.png", QSize(10, 10), Qt::green);
    QFile original(path);
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray before = original.readAll();
    original.close();

    // A file size limit makes the write fail halfway, as a full disk would.
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
    QVERIFY2(error.contains(u"keep.png"), qPrintable(error));
    QVERIFY(original.open(QIODevice::ReadOnly));
    QCOMPARE(original.readAll(), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"keep.png"});

    QVERIFY(errorOf([&] { picture::SavePicture(QImage(), dir.filePath("none.png")); }).contains(u"no picture"));
    QVERIFY(!QFile::exists(dir.filePath("none.png")));
    const QString noFolder = errorOf([&] { picture::SavePicture(testpictures::make(QSize(5, 5), Qt::red), dir.filePath("missing/x.png")); });
    QVERIFY2(noFolder.contains(u"x.png"), qPrintable(noFolder));
}

VELLUPIX_TEST_MAIN(TestPlatform)
#include "tst_platform.moc"
