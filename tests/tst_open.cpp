// Open and the show-picture sequence it shares with the other commands.

#include "support/framefixture.h"
#include "support/testmain.h"
#include "support/testpictures.h"

#include <QDir>
#include <QMdiSubWindow>
#include <QTemporaryDir>

#include <unistd.h>

using testpictures::write;

namespace {
const QString kFilter = QStringLiteral("JPG文件(*.JPG)|*.jpg|位图文件(*.bmp)|*.bmp|图标文件(*.ICO)|*.Ico|光标文件(*.cur)|*.cur");

void verifyCentred(Form1 &form)
{
    PictureBox &box = form.Picture1();
    QCOMPARE(box.Left(), form.ScaleWidth() / 2.0f - box.Width() / 2.0f);
    QCOMPARE(box.Top(), form.ScaleHeight() / 2.0f - box.Height() / 2.0f);
}
} // namespace

class TestOpen : public QObject
{
    Q_OBJECT
private slots:
    void opensTheChosenEntryOfItsFolder();
    void laterDialogsKeepTitleFilterAndFolder();
    void cancelChangesNothing();
    void firstCancelLeavesTheDesignTimeBox();
    void nonPictureIsReportedAndKeepsTheShownPicture();
    void folderOfOnlyTheOpenedFile();
    void fileInTheRootFolder();
    void ctrlOOpensThroughTheMenu();
    void closedWindowComesBackInItsDesignState();
    void fileNamedOnTheCommandLine();
};

void TestOpen::opensTheChosenEntryOfItsFolder()
{
    QTemporaryDir dir;
    write(dir.path(), "a.png", QSize(40, 30), Qt::red);
    write(dir.path(), "b.jpg", QSize(60, 20), Qt::green, "jpeg");
    const QString chosen = write(dir.path(), "c.bmp", QSize(200, 100), Qt::blue, "bmp");
    FrameFixture f;
    f.open(chosen);

    QVERIFY(f.dialogs.boxes.isEmpty());
    QCOMPARE(f.dialogs.fileDialogs.size(), 1);
    QCOMPARE(f.dialogs.fileDialogs[0].request.filter, kFilter);
    QCOMPARE(f.dialogs.fileDialogs[0].request.title, QString());

    QCOMPARE(f.panel(2), QStringLiteral("There are 3 Pictures in the current Path"));
    QCOMPARE(f.panel(1), dir.path() + QStringLiteral("/c.bmp"));
    QCOMPARE(f.panel(3), QStringLiteral("3 of  3 Pictures"));
    QCOMPARE(f.module1().Index, 2);
    QCOMPARE(f.module1().CurrentPath, dir.path());
    QCOMPARE(f.module1().CurrentTitle, QStringLiteral("c.bmp"));
    QCOMPARE(f.form1().File1().ListIndex(), 2);
    QCOMPARE(f.form1().File1().Path(), dir.path());
    QCOMPARE(f.form1().Dir1().Path(), dir.path());

    PictureBox &box = f.form1().Picture1();
    QCOMPARE(box.Picture().size(), QSize(200, 100));
    QCOMPARE(box.Width(), 3000.0f);
    QCOMPARE(box.Height(), 1500.0f);
    QVERIFY(box.Visible());
    verifyCentred(f.form1());
    QVERIFY(f.form1().subWindow()->isMaximized());
    QCOMPARE(f.form1().subWindow()->windowTitle(), QStringLiteral("Vellupix Open File"));
}

void TestOpen::laterDialogsKeepTitleFilterAndFolder()
{
    QTemporaryDir dir;
    const QString first = write(dir.path(), "a.png");
    FrameFixture f;
    f.open(first);
    f.frame->Open_Click(); // cancelled
    QCOMPARE(f.dialogs.fileDialogs.size(), 2);
    const FileDialogRequest &again = f.dialogs.fileDialogs[1].request;
    QCOMPARE(again.title, QStringLiteral("打开文件"));
    QCOMPARE(again.fileName, first); // the dialog opens where the last choice was
    QCOMPARE(again.filter, kFilter);
}

void TestOpen::cancelChangesNothing()
{
    QTemporaryDir dir;
    write(dir.path(), "a.png");
    const QString chosen = write(dir.path(), "b.png", QSize(30, 30));
    FrameFixture f;
    f.open(chosen);
    PictureBox &box = f.form1().Picture1();
    box.setLeft(-77); // as a drag would leave it
    const QStringList panels{f.panel(1), f.panel(2), f.panel(3)};
    write(dir.path(), "c.png"); // would change the count if the folder were listed again

    f.frame->Open_Click(); // no file queued: the user cancels
    QVERIFY(f.dialogs.boxes.isEmpty());
    QCOMPARE((QStringList{f.panel(1), f.panel(2), f.panel(3)}), panels);
    QCOMPARE(f.module1().Index, 1);
    QCOMPARE(box.Left(), -77.0f);
    QCOMPARE(f.form1().File1().ListCount(), 2);
    QCOMPARE(f.form1().File1().ListIndex(), 1);
}

void TestOpen::firstCancelLeavesTheDesignTimeBox()
{
    FrameFixture f;
    f.frame->Open_Click();
    QVERIFY(f.form1().isLoaded());
    PictureBox &box = f.form1().Picture1();
    QCOMPARE(box.Left(), 120.0f);
    QCOMPARE(box.Top(), 600.0f);
    QCOMPARE(box.Width(), 11895.0f);
    QCOMPARE(box.Height(), 8535.0f);
    QCOMPARE(f.module1().CurrentPath, QString());
    QCOMPARE(f.panel(1), QStringLiteral("Vellupix Ready"));
    QCOMPARE(f.form1().File1().Path(), QDir::currentPath());
}

void TestOpen::nonPictureIsReportedAndKeepsTheShownPicture()
{
    QTemporaryDir first, second;
    const QString picture = write(first.path(), "shown.png", QSize(50, 40));
    const QString text = second.filePath("notes.jpg");
    testpictures::writeText(text, "not a picture at all");
    write(second.path(), "other.png");
    FrameFixture f;
    f.open(picture);
    const QStringList panels{f.panel(1), f.panel(2), f.panel(3)};
    const float left = f.form1().Picture1().Left();

    f.open(text);
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QVERIFY2(f.lastBox().prompt.startsWith(QStringLiteral("Error!\u201c") + text), qPrintable(f.lastBox().prompt));
    QCOMPARE(f.lastBox().style, vb::vbCritical);
    QCOMPARE(f.lastBox().caption, QStringLiteral("Error"));
    QCOMPARE(f.form1().Picture1().Picture().size(), QSize(50, 40));
    QCOMPARE(f.form1().Picture1().Left(), left);
    QCOMPARE((QStringList{f.panel(1), f.panel(2), f.panel(3)}), panels);
    QCOMPARE(f.form1().File1().Path(), first.path()); // the lists were not switched
    QCOMPARE(f.module1().CurrentTitle, QStringLiteral("notes.jpg"));

    // Still fully usable.
    f.open(picture);
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(f.panel(3), QStringLiteral("1 of  1 Pictures"));
}

void TestOpen::folderOfOnlyTheOpenedFile()
{
    QTemporaryDir dir;
    const QString only = write(dir.path(), "only.jpg", QSize(10, 10), Qt::yellow, "jpeg");
    FrameFixture f;
    f.open(only);
    QVERIFY(f.dialogs.boxes.isEmpty());
    QCOMPARE(f.panel(2), QStringLiteral("There are 1 Pictures in the current Path"));
    QCOMPARE(f.panel(3), QStringLiteral("1 of  1 Pictures"));
    QCOMPARE(f.module1().Index, 0);
}

void TestOpen::fileInTheRootFolder()
{
    const QString path = QStringLiteral("/vellupix-open-test-%1.png").arg(::getpid());
    if (!testpictures::make(QSize(8, 8), Qt::cyan).save(path))
        QSKIP("the root folder is not writable here, so no picture can be put there");
    FrameFixture f;
    f.open(path);
    QFile::remove(path);
    QVERIFY2(f.dialogs.boxes.isEmpty(), qPrintable(f.lastBox().prompt));
    QCOMPARE(f.module1().CurrentPath, QString());
    QCOMPARE(f.panel(1), path);
    QVERIFY(f.panel(1).startsWith(u'/'));
    QCOMPARE(f.form1().File1().Path(), QStringLiteral("/"));
    QCOMPARE(f.form1().Dir1().Path(), QStringLiteral("/"));
}

void TestOpen::ctrlOOpensThroughTheMenu()
{
    QTemporaryDir dir;
    const QString chosen = write(dir.path(), "keyed.png", QSize(16, 16));
    FrameFixture f;
    f.dialogs.files.append(chosen);
    QTest::keyClick(f.frame.get(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(f.dialogs.fileDialogs.size(), 1);
    QCOMPARE(f.panel(1), chosen);
}

void TestOpen::closedWindowComesBackInItsDesignState()
{
    QTemporaryDir dir;
    const QString chosen = write(dir.path(), "a.png", QSize(16, 16));
    FrameFixture f;
    f.open(chosen);
    f.form1().BeginPosX = 42;
    f.form1().subWindow()->close();
    QVERIFY(!f.form1().isLoaded());
    QCOMPARE(f.module1().Index, 0);

    f.frame->Open_Click(); // cancelled; the window is created anew
    QVERIFY(f.form1().isLoaded());
    QCOMPARE(f.form1().Picture1().Width(), 11895.0f);
    QVERIFY(f.form1().Picture1().Picture().isNull());
    // Open left the working directory at the chosen file's folder, where the
    // window made anew lists.
    QCOMPARE(f.form1().File1().Path(), QDir(dir.path()).canonicalPath());
    QCOMPARE(f.form1().commDilg().DialogTitle, QString());
    QCOMPARE(f.form1().BeginPosX, 42.0f); // window-level variables outlive the controls
    QCOMPARE(f.dialogs.fileDialogs.last().request.title, QString());
}

void TestOpen::fileNamedOnTheCommandLine()
{
    QTemporaryDir dir;
    write(dir.path(), "a.png");
    const QString chosen = write(dir.path(), "b.png", QSize(25, 15));
    FrameFixture f;
    f.frame->Open_File(chosen);
    QVERIFY(f.dialogs.fileDialogs.isEmpty()); // no dialog is shown
    QVERIFY(f.dialogs.boxes.isEmpty());
    QCOMPARE(f.panel(1), chosen);
    QCOMPARE(f.panel(2), QStringLiteral("There are 2 Pictures in the current Path"));
    QCOMPARE(f.panel(3), QStringLiteral("2 of  2 Pictures"));
    QCOMPARE(f.form1().commDilg().DialogTitle, QStringLiteral("打开文件"));

    testpictures::writeText(dir.filePath("c.txt"), "words");
    f.frame->Open_File(dir.filePath("c.txt"));
    QVERIFY(f.lastBox().prompt.startsWith(QStringLiteral("Error!")));
    f.frame->Open_File(dir.filePath("missing.png"));
    QCOMPARE(f.dialogs.boxes.size(), 2);
    QVERIFY2(f.lastBox().prompt.contains(u"cannot be found"), qPrintable(f.lastBox().prompt));
    QCOMPARE(f.panel(1), chosen);
}

VELLUPIX_TEST_MAIN(TestOpen)
#include "tst_open.moc"
