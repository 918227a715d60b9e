// Start-up, the frame's layout, Exit and the end of the process.

#include "app/pluginpaths.h"
#include "support/framefixture.h"
#include "support/testmain.h"
#include "support/testpictures.h"

#include <QImageReader>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSignalSpy>
#include <QSlider>
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

VELLUPIX_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
