// First, Last, Next, Previous and the slide show with its slider.

#include "platform/picturecache.h"
#include "platform/runtimeerror.h"
#include "support/framefixture.h"
#include "support/testmain.h"
#include "support/testpictures.h"

#include <QFile>
#include <QMdiArea>
#include <QSlider>
#include <QTemporaryDir>

using testpictures::write;

class TestNavigation : public QObject
{
    Q_OBJECT
private slots:
    void walksWrapsAndClamps();
    void onePictureFolder();
    void nonPictureIsPassedOver();
    void emptyListIsSilentAndCounts();
    void overflowOfIndexIsReported();
    void indexLeftOutsideTheListFailsAtSelection();
    void functionKeysRunTheCommands();
    void tickStepsWrapsAndFollowsCommands();
    void onlyOneTickBoxAtATime();
    void sliderSetsThePeriod();
    void sliderHint();
    void closingTheWindowStopsTheShow();

    // Reading ahead as the steps drive it.
    void quickStepsReadFurtherAheadWithinTheBudget();
    void startedWithAFileReadsAheadOnceItIsPainted();
    void stepsReadAheadInTheirDirection();
    void prefetchedFailureIsReportedOnlyOnTheStep();
};

namespace {

// Pictures p1.png... in a folder of their own, by their native paths.
struct Pictures
{
    QTemporaryDir dir;
    QList<QByteArray> paths;
    explicit Pictures(int n)
    {
        for (int i = 0; i < n; ++i)
            paths << QFile::encodeName(write(dir.path(), QStringLiteral("p%1.png").arg(i + 1), QSize(64, 48),
                                             QColor::fromHsv(i * 40, 200, 200)));
    }
};

struct Folder
{
    QTemporaryDir dir;
    QStringList paths;
    explicit Folder(int n)
    {
        for (int i = 0; i < n; ++i)
            paths << write(dir.path(), QStringLiteral("p%1.png").arg(i + 1), QSize(20 + i, 10 + i));
    }
};
} // namespace

void TestNavigation::walksWrapsAndClamps()
{
    Folder folder(4);
    FrameFixture f;
    f.open(folder.paths[2]);
    f.frame->Go_to_First_Click();
    QCOMPARE(f.panel(3), QStringLiteral("1 of  4 Pictures"));
    for (int i = 2; i <= 4; ++i) {
        f.frame->Next_picture_Click();
        QCOMPARE(f.panel(3), QStringLiteral("%1 of  4 Pictures").arg(i));
        QCOMPARE(f.panel(1), folder.paths[i - 1]);
        QCOMPARE(f.form1().Picture1().Picture().width(), 20 + i - 1);
    }
    f.frame->Next_picture_Click();
    QCOMPARE(f.panel(3), QStringLiteral("1 of  4 Pictures")); // wrapped, no message
    f.frame->precursive_picture_Click();
    QCOMPARE(f.module1().Index, 0); // stops at the first entry
    QCOMPARE(f.panel(3), QStringLiteral("1 of  4 Pictures"));
    f.frame->Go_to_Last_Click();
    QCOMPARE(f.panel(3), QStringLiteral("4 of  4 Pictures"));
    f.frame->precursive_picture_Click();
    QCOMPARE(f.panel(3), QStringLiteral("3 of  4 Pictures"));
    QVERIFY(f.dialogs.boxes.isEmpty());
    // Every show centres the box on the picture it now holds.
    PictureBox &box = f.form1().Picture1();
    QCOMPARE(box.Left(), f.form1().ScaleWidth() / 2 - box.Width() / 2);
}

void TestNavigation::onePictureFolder()
{
    Folder folder(1);
    FrameFixture f;
    f.open(folder.paths[0]);
    for (auto command : {&MDIForm1::Go_to_First_Click, &MDIForm1::Go_to_Last_Click, &MDIForm1::Next_picture_Click,
                         &MDIForm1::precursive_picture_Click}) {
        f.form1().Picture1().setPicture(QImage());
        (f.frame.get()->*command)();
        QCOMPARE(f.panel(3), QStringLiteral("1 of  1 Pictures"));
        QVERIFY(!f.form1().Picture1().Picture().isNull()); // loaded anew
    }
    QVERIFY(f.dialogs.boxes.isEmpty());
}

void TestNavigation::nonPictureIsPassedOver()
{
    QTemporaryDir dir;
    const QString first = write(dir.path(), "a.png", QSize(30, 30));
    testpictures::writeText(dir.filePath("b.txt"), "hello");
    write(dir.path(), "c.png", QSize(50, 50));
    FrameFixture f;
    f.open(first);
    const QString panel1 = f.panel(1), panel3 = f.panel(3);
    f.frame->Next_picture_Click();
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QVERIFY2(f.lastBox().prompt.startsWith(QStringLiteral("Error:\u201c") + dir.filePath("b.txt")), qPrintable(f.lastBox().prompt));
    QCOMPARE(f.lastBox().style, vb::vbCritical);
    QCOMPARE(f.lastBox().caption, QStringLiteral("Error"));
    QCOMPARE(f.module1().Index, 1);
    QCOMPARE(f.form1().Picture1().Picture().width(), 30);
    QCOMPARE(f.panel(1), panel1);
    QCOMPARE(f.panel(3), panel3);
    f.frame->Next_picture_Click();
    QCOMPARE(f.form1().Picture1().Picture().width(), 50);
    QCOMPARE(f.panel(3), QStringLiteral("3 of  3 Pictures"));
}

void TestNavigation::emptyListIsSilentAndCounts()
{
    Folder folder(2);
    FrameFixture f;
    f.open(folder.paths[0]);
    QTemporaryDir empty;
    f.form1().File1().setPath(empty.path());
    const QString panel3 = f.panel(3);
    f.frame->Next_picture_Click();
    f.frame->Next_picture_Click();
    QCOMPARE(f.module1().Index, 2);
    f.frame->precursive_picture_Click();
    QCOMPARE(f.module1().Index, 1);
    f.frame->Go_to_Last_Click();
    QCOMPARE(f.module1().Index, -1);
    f.frame->Go_to_First_Click();
    QCOMPARE(f.module1().Index, 0);
    QVERIFY(f.dialogs.boxes.isEmpty());
    QCOMPARE(f.panel(3), panel3);
}

void TestNavigation::overflowOfIndexIsReported()
{
    QTemporaryDir empty;
    FrameFixture f;
    f.form1().File1().setPath(empty.path());
    f.module1().Index = 2147483647;
    f.frame->Next_picture_Click();
    QCOMPARE(f.lastBox().prompt, QStringLiteral("Error:Overflow"));
    QCOMPARE(f.module1().Index, 2147483647);
    emit f.form1().timer1Ticked();
    QCOMPARE(f.dialogs.boxes.size(), 2);
}

void TestNavigation::indexLeftOutsideTheListFailsAtSelection()
{
    Folder folder(2);
    FrameFixture f;
    f.open(folder.paths[0]);
    f.module1().Index = -5;
    f.frame->Next_picture_Click(); // -4 passes the wrap test and is refused by the list
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QVERIFY(f.lastBox().prompt.startsWith(QStringLiteral("Error:")));
    QCOMPARE(f.module1().Index, -4);
    f.frame->Go_to_First_Click();
    QCOMPARE(f.panel(3), QStringLiteral("1 of  2 Pictures"));
}

void TestNavigation::functionKeysRunTheCommands()
{
    Folder folder(3);
    FrameFixture f;
    f.open(folder.paths[0]);
    QTest::keyClick(f.frame.get(), Qt::Key_F1);
    QCOMPARE(f.panel(3), QStringLiteral("2 of  3 Pictures"));
    QTest::keyClick(f.frame.get(), Qt::Key_F4);
    QCOMPARE(f.panel(3), QStringLiteral("3 of  3 Pictures"));
    QTest::keyClick(f.frame.get(), Qt::Key_F2);
    QCOMPARE(f.panel(3), QStringLiteral("2 of  3 Pictures"));
    QTest::keyClick(f.frame.get(), Qt::Key_F3);
    QCOMPARE(f.panel(3), QStringLiteral("1 of  3 Pictures"));
}

void TestNavigation::tickStepsWrapsAndFollowsCommands()
{
    Folder folder(3);
    FrameFixture f;
    f.open(folder.paths[2]);
    f.frame->Auto_Play_Click();
    QVERIFY(f.form1().Timer1().isActive());
    QCOMPARE(f.form1().Timer1().interval(), 1000); // whatever the slider shows
    QCOMPARE(f.panel(3), QStringLiteral("3 of  3 Pictures")); // shows nothing by itself
    emit f.form1().timer1Ticked();
    QCOMPARE(f.panel(3), QStringLiteral("1 of  3 Pictures"));
    QCOMPARE(f.panel(1), folder.paths[0]);
    f.frame->Go_to_Last_Click();
    emit f.form1().timer1Ticked();
    QCOMPARE(f.panel(3), QStringLiteral("1 of  3 Pictures"));
    f.frame->Stop_AutoPlay_Click();
    QVERIFY(!f.form1().Timer1().isActive());
    PictureBox &box = f.form1().Picture1();
    QCOMPARE(box.Left(), f.form1().ScaleWidth() / 2 - box.Width() / 2);
}

void TestNavigation::onlyOneTickBoxAtATime()
{
    QTemporaryDir dir;
    const QString first = write(dir.path(), "a.png");
    testpictures::writeText(dir.filePath("b.txt"), "x");
    testpictures::writeText(dir.filePath("c.txt"), "x");
    FrameFixture f;
    f.open(first);
    f.frame->Slider1()->setValue(0);
    QCOMPARE(f.form1().Timer1().interval(), 50);
    int ticksWhileOpen = 0;
    f.dialogs.whileBoxOpen = [&] {
        // The box is on screen: the timer keeps firing, and more ticks come.
        for (int i = 0; i < 5; ++i) {
            emit f.form1().timer1Ticked();
            ++ticksWhileOpen;
        }
    };
    emit f.form1().timer1Ticked(); // onto b.txt
    QCOMPARE(ticksWhileOpen, 5);
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(f.module1().Index, 1);
    f.dialogs.whileBoxOpen = nullptr;
    emit f.form1().timer1Ticked(); // the show goes on after the box: c.txt
    QCOMPARE(f.dialogs.boxes.size(), 2);
    emit f.form1().timer1Ticked();
    QCOMPARE(f.panel(3), QStringLiteral("1 of  3 Pictures"));
}

void TestNavigation::sliderSetsThePeriod()
{
    FrameFixture f;
    QSlider *slider = f.frame->Slider1();
    for (auto [value, period] : {std::pair{0, 50}, {1, 1}, {6000, 6000}, {2500, 2500}}) {
        slider->setValue(value);
        QCOMPARE(f.form1().Timer1().interval(), period);
    }
    QVERIFY(!f.form1().Timer1().isActive()); // neither starts nor stops the show
}

void TestNavigation::sliderHint()
{
    FrameFixture f;
    QSlider *slider = f.frame->Slider1();
    QTest::mouseMove(slider, QPoint(10, 5));
    QTRY_COMPARE(f.panel(4), QStringLiteral("Tune the Timer Speed"));
    slider->setFocus();
    QTest::mouseMove(f.frame->mdiArea(), QPoint(200, 200));
    QCOMPARE(f.panel(4), QStringLiteral("Tune the Timer Speed")); // leaving does not clear it
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(slider, &out);
    QCOMPARE(f.panel(4), QString());
}

void TestNavigation::closingTheWindowStopsTheShow()
{
    Folder folder(2);
    FrameFixture f;
    f.open(folder.paths[1]);
    f.frame->Slider1()->setValue(3000);
    f.frame->Auto_Play_Click();
    QTimer *timer = &f.form1().Timer1();
    f.form1().Unload();
    QVERIFY(!timer->isActive());
    QCOMPARE(f.module1().Index, 1);
    QVERIFY(!f.form1().Timer1().isActive()); // created anew: off, one second
    QCOMPARE(f.form1().Timer1().interval(), 1000);
}

void TestNavigation::quickStepsReadFurtherAheadWithinTheBudget()
{
    Pictures pictures(14);
    FrameFixture f;
    PictureCache &cache = f.frame->pictureCache();
    f.open(QFile::decodeName(pictures.paths[0]));
    // The neighbours read first: a decoder's start (a slow one, sanitized)
    // must not fall between steps that key repeat makes quick.
    cache.waitForReadAhead();
    // Three steps one way in quick succession, as key repeat makes them.
    for (int i = 0; i < 3; ++i)
        f.frame->Next_picture_Click();
    cache.waitForReadAhead();
    QVERIFY(cache.holds(pictures.paths[4]));
    QVERIFY(cache.holds(pictures.paths[11])); // eight ahead
    QVERIFY(!cache.holds(pictures.paths[12]));
    // Turning round starts afresh: one behind, as always.
    cache.clear();
    f.frame->precursive_picture_Click();
    cache.waitForReadAhead();
    QVERIFY(cache.holds(pictures.paths[1]));
    QVERIFY(!cache.holds(pictures.paths[0]));
}

void TestNavigation::startedWithAFileReadsAheadOnceItIsPainted()
{
    Pictures pictures(3);
    FrameFixture f;
    PictureCache &cache = f.frame->pictureCache();
    f.frame->Open_File(QFile::decodeName(pictures.paths[0]));
    cache.waitForReadAhead();
    QVERIFY(!cache.holds(pictures.paths[1])); // the first picture has the cores to itself
    QTRY_VERIFY(cache.holds(pictures.paths[1]));
    cache.waitForReadAhead();
    QVERIFY(cache.holds(pictures.paths[2]));
}

void TestNavigation::stepsReadAheadInTheirDirection()
{
    Pictures pictures(5);
    FrameFixture f;
    PictureCache &cache = f.frame->pictureCache();
    f.open(QFile::decodeName(pictures.paths[0]));
    cache.waitForReadAhead();
    QVERIFY(cache.holds(pictures.paths[1]));
    QVERIFY(cache.holds(pictures.paths[2]));

    const auto before = cache.counters();
    f.frame->Next_picture_Click();
    QCOMPARE(cache.counters().decodedHere, before.decodedHere);
    QCOMPARE(cache.counters().taken, before.taken + 1);
    QCOMPARE(f.form1().Picture1().Picture(), picture::LoadPicture(pictures.paths[1]));

    cache.clear();
    f.frame->Go_to_Last_Click(); // from the end the way is back
    cache.waitForReadAhead();
    QVERIFY(cache.holds(pictures.paths[3]));
    QVERIFY(!cache.holds(pictures.paths[0]));

    cache.clear();
    f.frame->precursive_picture_Click();
    cache.waitForReadAhead();
    QVERIFY(cache.holds(pictures.paths[2]));
    QVERIFY(!cache.holds(pictures.paths[4]));

    // The slide show wraps past the last entry, and reads ahead across it.
    f.frame->Go_to_Last_Click();
    cache.clear();
    f.form1().Timer1().setInterval(3600 * 1000);
    f.frame->Auto_Play_Click();
    emit f.form1().timer1Ticked();
    f.frame->Stop_AutoPlay_Click();
    QCOMPARE(f.module1().Index, 0);
    cache.waitForReadAhead();
    QVERIFY(cache.holds(pictures.paths[1]));
    QVERIFY(cache.holds(pictures.paths[2]));
    QVERIFY(f.dialogs.boxes.isEmpty());
}

void TestNavigation::prefetchedFailureIsReportedOnlyOnTheStep()
{
    QTemporaryDir dir;
    const QString first = write(dir.path(), QStringLiteral("a.png"));
    testpictures::writeText(dir.filePath(QStringLiteral("b.jpg")), "no picture here");
    write(dir.path(), QStringLiteral("c.png"));
    FrameFixture f;
    f.open(first);
    f.frame->pictureCache().waitForReadAhead();
    QVERIFY(f.frame->pictureCache().holds(QFile::encodeName(dir.filePath(QStringLiteral("b.jpg")))));
    QVERIFY(f.dialogs.boxes.isEmpty());

    QString direct;
    try {
        picture::LoadPicture(QFile::encodeName(dir.filePath(QStringLiteral("b.jpg"))));
    } catch (const RuntimeError &e) {
        direct = e.description();
    }
    f.frame->Next_picture_Click();
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(f.lastBox().prompt, QStringLiteral("Error:") + direct);
    QCOMPARE(f.lastBox().style, 16);
    QCOMPARE(f.module1().Index, 1);
    f.frame->Next_picture_Click(); // and the step after it shows
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(f.panel(3), QStringLiteral("3 of  3 Pictures"));
}

VELLUPIX_TEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
