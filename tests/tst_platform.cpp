// The platform pieces on the window side: twips, the picture box's painting,
// the dialog filter, and the real message box and file dialog.

#include "platform/backingstorewarmer.h"
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
#include <QElapsedTimer>
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
#include <atomic>
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

class TestPlatform : public QObject
{
    Q_OBJECT
private slots:
    void twipsFollowTheLogicalDpi();
    void pictureIsSharpAtDoubleDensity();
    void partRepaintMatchesWholePaint_data();
    void partRepaintMatchesWholePaint();
    void paintCoversWhatTheWindowHeld_data();
    void paintCoversWhatTheWindowHeld();
    void shrunkPictureFromCopiesLooksAsSmoothScaling_data();
    void shrunkPictureFromCopiesLooksAsSmoothScaling();
    void backingStoreWarmerIsDoneBeforeThePaint();
    void filterMatchesWhateverTheCase();
    void realMessageBoxMapsTheStyle_data();
    void realMessageBoxMapsTheStyle();
    void realFileDialogOffersTheFileChosenLast();
};

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

void TestPlatform::paintCoversWhatTheWindowHeld_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<double>("zoom");
    QTest::addColumn<double>("beyond"); // pixels of the source rectangle past the picture
    const QImage opaque = testpictures::make(QSize(61, 47), Qt::darkCyan);
    QImage seeThrough = opaque.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < seeThrough.height(); y += 2)
        for (int x = 0; x < seeThrough.width(); ++x)
            seeThrough.setPixel(x, y, qRgba(0, 0, 0, 0));
    QTest::newRow("opaque") << opaque << 1.0 << 0.0;
    QTest::newRow("opaque, enlarged") << opaque << 1.37 << 0.0;
    QTest::newRow("opaque, shrunk") << opaque << 0.61 << 0.0;
    QTest::newRow("opaque, from beyond its edge") << opaque << 1.0 << 9.0;
    QTest::newRow("see-through") << seeThrough << 1.0 << 0.0;
}

void TestPlatform::paintCoversWhatTheWindowHeld()
{
    // A box larger than its picture, at a fraction of a pixel, and a box
    // above it with the picture painted at a scale: whatever the window
    // held before must not show anywhere, so the same paint over red and
    // over blue gives the same pixels.
    QFETCH(QImage, picture);
    QFETCH(double, zoom);
    QFETCH(double, beyond);
    PictureBoxHost host;
    host.resize(140, 100);
    PictureBox below;
    PictureBox above;
    host.addBox(&below);
    host.addBox(&above);
    below.setPicture(picture);
    below.setLeft(7.0f * 15 + 3.75f);
    below.setTop(5.0f * 15 + 7.5f);
    below.setWidth(below.Width() + 20.5f * 15);
    above.setLeft(50 * 15 + 7.5f);
    above.setTop(40 * 15);
    above.setWidth(80 * 15 + 3.75f);
    above.setHeight(55 * 15);
    const QRectF source(0, 0, (picture.width() + beyond) * 15.0, (picture.height() + beyond) * 15.0);
    above.PaintPicture(picture, QRectF(3.75, 7.5, source.width() * zoom, source.height() * zoom), source);

    const auto paintOver = [&](QColor held) {
        QImage screen(host.size(), QImage::Format_RGB32);
        screen.fill(held);
        host.render(&screen, QPoint(), QRegion(), QWidget::RenderFlags());
        return screen;
    };
    const QImage overRed = paintOver(Qt::red);
    QCOMPARE(overRed, paintOver(Qt::blue));
    // The lower box starts at whole pixel (7, 6); the see-through rows are
    // the even ones, over black.
    QCOMPARE(overRed.pixelColor(30, 30), picture.hasAlphaChannel() ? QColor(Qt::black) : picture.pixelColor(23, 24));
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

// The thread that maps a window's backing store reads the memory the first
// paint writes: it must have ended by then. Here it is still busy when the
// window is exposed, each part waiting to be told to stop.
void TestPlatform::backingStoreWarmerIsDoneBeforeThePaint()
{
    QWidget window;
    window.resize(640, 480);
    QElapsedTimer clock;
    clock.start();
    std::atomic<BackingStoreWarmer *> made{nullptr};
    BackingStoreWarmer warmer(window, [&] {
        while ((!made.load() || !made.load()->stopping()) && clock.elapsed() < 5000)
            QThread::msleep(1);
    });
    made = &warmer;
    QVERIFY(warmer.running());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!warmer.running());
    QVERIFY2(clock.elapsed() < 4000, "stopped by its own time limit, not by the expose");
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

VELLUPIX_TEST_MAIN(TestPlatform)
#include "tst_platform.moc"
