// Start-up, the frame's layout, Exit and the end of the process.

#include "app/pluginpaths.h"
#include "app/toolbarstyle.h"
#include "support/framefixture.h"
#include "support/testmain.h"
#include "support/testpictures.h"

#include <QImageReader>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QSignalSpy>
#include <QSlider>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QToolBar>

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void startsReadyWithTheSplash();
    void splashIsPlacedFromTheOuterSizes();
    void splashOfAStartWithAPictureLiesBeneathIt();
    void exitAnsweredNoChangesNothing();
    void exitAnsweredYesClosesEverything();
    void closeControlAsksNothing();
    void pluginsAreFoundAgainOnceTheFrameIsPainted();
    void toolbarLooksAsItsStylePaintsIt();
};

void TestStartup::startsReadyWithTheSplash()
{
    FrameFixture f;
    QCOMPARE(f.frame->windowTitle(), QStringLiteral("Vellupix 5.0"));
    QVERIFY(f.frame->windowState() & Qt::WindowMaximized);
    QVERIFY(!f.frame->windowIcon().isNull());
    QCOMPARE(f.panel(1), QStringLiteral("Vellupix Ready"));
    QCOMPARE(f.panel(2), QString());
    QCOMPARE(f.panel(3), QString());
    QCOMPARE(f.panel(4), QString());
    QVERIFY(!f.form1().isLoaded());
    QVERIFY(f.frame->frmAbout().isLoaded());
    QCOMPARE(f.frame->mdiArea()->background().color(), QColor(Qt::black));
    QCOMPARE(f.module1().Index, 0);

    // The slider sits in the toolbar, in the gap the placeholder keeps.
    QCOMPARE(f.frame->Slider1()->parentWidget(), f.frame->Toolbar1());
    QCOMPARE(f.frame->Slider1()->minimum(), 0);
    QCOMPARE(f.frame->Slider1()->maximum(), 6000);
    QCOMPARE(f.frame->Slider1()->size(), QSize(113, 25)); // 1695 x 375 twips
}

void TestStartup::splashIsPlacedFromTheOuterSizes()
{
    FrameFixture f;
    ChildWindow &about = f.frame->frmAbout().child();
    const float expectedLeft = f.frame->Width() / 2.0f - about.Width() / 2.0f;
    const float expectedTop = f.frame->Height() / 2.0f - about.Height() / 2.0f;
    QCOMPARE(about.subWindow()->x(), qRound(expectedLeft / 15.0f));
    QCOMPARE(about.subWindow()->y(), qRound(expectedTop / 15.0f));
    // Inside the frame's inner area, roughly in its middle.
    QVERIFY(f.frame->mdiArea()->viewport()->rect().contains(about.subWindow()->geometry().center()));
}

// Started with a file, the About window is made once the picture is on
// screen, or once the file is reported, and left where showing it first
// would have: beneath the picture window, which stays active.
void TestStartup::splashOfAStartWithAPictureLiesBeneathIt()
{
    const QTemporaryDir dir;
    const QString picture = testpictures::write(dir.path(), QStringLiteral("a.png"));
    for (const QString &file : {picture, dir.filePath(QStringLiteral("missing.png"))}) {
        const QString workingDirectory = QDir::currentPath();
        ScriptedDialogs dialogs;
        MDIForm1 frame(dialogs);
        frame.greetBeneathStartPicture();
        frame.Show();
        QVERIFY(!frame.frmAbout().isLoaded());
        frame.Open_File(QFile::encodeName(file));
        QTRY_VERIFY(frame.frmAbout().isLoaded());
        QCOMPARE(dialogs.boxes.size(), file == picture ? 0 : 1);
        QMdiArea &area = *frame.mdiArea();
        const QList<QMdiSubWindow *> stack = area.subWindowList(QMdiArea::StackingOrder);
        QCOMPARE(stack.size(), 2);
        QCOMPARE(stack.first(), frame.frmAbout().child().subWindow());
        QCOMPARE(stack.last(), frame.form1().subWindow());
        QCOMPARE(area.activeSubWindow(), frame.form1().subWindow());
        ChildWindow &about = frame.frmAbout().child();
        QVERIFY(!about.subWindow()->isMaximized());
        QCOMPARE(about.subWindow()->x(), qRound((frame.Width() / 2.0f - about.Width() / 2.0f) / 15.0f));
        QDir::setCurrent(workingDirectory);
    }
}

void TestStartup::exitAnsweredNoChangesNothing()
{
    FrameFixture f;
    f.frame->Auto_Play_Click();
    f.dialogs.answers.append(vb::vbNo);
    f.frame->Exit_Click();
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(f.lastBox().prompt, QStringLiteral("Are you sure you want to exit the Vellupix?"));
    QCOMPARE(f.lastBox().style, 36);
    QCOMPARE(f.lastBox().caption, QStringLiteral("Question"));
    QVERIFY(f.frame->isVisible());
    QVERIFY(f.form1().Timer1().isActive());
    QVERIFY(f.frame->frmAbout().isLoaded());
}

void TestStartup::exitAnsweredYesClosesEverything()
{
    FrameFixture f;
    f.frame->Open_Click(); // cancelled: the picture window is loaded all the same
    QVERIFY(f.form1().isLoaded());
    QVERIFY(f.frame->frmAbout().isLoaded());
    f.dialogs.answers.append(vb::vbYes);
    f.frame->Exit_Click();
    QVERIFY(!f.frame->isVisible());
    QVERIFY(!f.form1().isLoaded());
    QVERIFY(!f.frame->frmAbout().isLoaded());
    // With no window left the process ends.
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
}

void TestStartup::closeControlAsksNothing()
{
    FrameFixture f;
    QVERIFY(f.frame->close());
    QVERIFY(f.dialogs.boxes.isEmpty());
    QVERIFY(!f.frame->isVisible());
    QVERIFY(!f.frame->frmAbout().isLoaded());
}

// The frame is built without image plugins; the cursor's .cur, Save's WebP
// and the dialogs' icons need them back.
void TestStartup::pluginsAreFoundAgainOnceTheFrameIsPainted()
{
    const QStringList paths = QCoreApplication::libraryPaths();
    {
        const PluginPathsHeld held;
        QVERIFY(QCoreApplication::libraryPaths().isEmpty());
        FrameFixture f;
        QTRY_COMPARE(QCoreApplication::libraryPaths(), paths);
    }
    QVERIFY(QImageReader::supportedImageFormats().contains("webp"));
}

// The toolbar's background is stretched from a slice: it must look as the
// style paints the whole bar, the style must be asked for a slice only, and a
// background that changes along the bar is left to the style.
void TestStartup::toolbarLooksAsItsStylePaintsIt()
{
    // Fusion, recording where it is asked to paint a toolbar; shaded, it
    // paints one that changes along the bar.
    class Recording : public QProxyStyle
    {
    public:
        explicit Recording(bool shaded) : QProxyStyle(QStringLiteral("fusion")), m_shaded(shaded) {}
        void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                         const QWidget *widget) const override
        {
            if (element == CE_ToolBar) {
                asked.append(option->rect);
                if (m_shaded) {
                    QLinearGradient along(option->rect.topLeft(), option->rect.bottomRight());
                    along.setColorAt(0, Qt::red);
                    along.setColorAt(1, Qt::blue);
                    painter->fillRect(option->rect, along);
                    return;
                }
            }
            QProxyStyle::drawControl(element, option, painter, widget);
        }
        mutable QList<QRect> asked;

    private:
        bool m_shaded;
    };

    for (const Qt::ToolBarArea area : {Qt::TopToolBarArea, Qt::LeftToolBarArea}) {
        for (const bool shaded : {false, true}) {
            QImage painted[2];
            QList<QRect> asked;
            for (const bool sliced : {false, true}) {
                QMainWindow window;
                window.resize(640, 480);
                auto *bar = new QToolBar(&window);
                window.addToolBar(area, bar);
                bar->addAction(QStringLiteral("A"));
                auto *recording = new Recording(shaded);
                QStyle *style = sliced ? static_cast<QStyle *>(new ToolBarStyle(recording)) : recording;
                style->setParent(&window);
                bar->setStyle(style);
                window.show();
                painted[sliced] = bar->grab().toImage();
                asked = recording->asked;
            }
            const QString where = QStringLiteral("area %1, shaded %2").arg(area).arg(shaded);
            QVERIFY2(painted[1] == painted[0], qPrintable(where));
            QVERIFY2(!asked.isEmpty(), qPrintable(where));
            // Fusion is asked for a slice only; the shaded style's slice
            // changes along the bar, and it is asked for the whole of it.
            const bool horizontal = area == Qt::TopToolBarArea;
            const int along = horizontal ? painted[0].width() : painted[0].height();
            QVERIFY2(along > 4 * ToolBarStyle::kSliceLength, qPrintable(where));
            int longest = 0;
            for (const QRect &r : asked)
                longest = std::max(longest, horizontal ? r.width() : r.height());
            QVERIFY2(longest == (shaded ? along : ToolBarStyle::kSliceLength), qPrintable(where));
        }
    }
}

VELLUPIX_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
