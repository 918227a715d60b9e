// Zoom In and Zoom Out, dragging the picture, and the position in panel 4.

#include "support/framefixture.h"
#include "support/testmain.h"
#include "support/testpictures.h"

#include <QTemporaryDir>

using testpictures::write;

class TestView : public QObject
{
    Q_OBJECT
private slots:
    void zoomOfTheDesignTimeBox();
    void inThenOutLeavesNineTenths();
    void zoomRecentresAfterADrag();
    void zoomOfADeletedFileLeavesAnEmptyBox();
    void zoomThatWouldOverflowChangesNothing();
    void nextPictureEndsTheZoom();
    void dragMovesByTheTravel();
    void releaseWithoutPressUsesTheStoredPress();
    void positionTexts();
    void largePhotoZoomsAndPaints();
};

void TestView::zoomOfTheDesignTimeBox()
{
    QTemporaryDir dir;
    write(dir.path(), "a.png", QSize(793, 569));
    FrameFixture f;
    f.frame->Open_Click(); // cancelled: the design-time box
    f.form1().File1().setPath(dir.path());
    f.form1().File1().setListIndex(0);
    f.form1().Dir1().setPath(dir.path());
    f.frame->Zoom_In_Click();
    QVERIFY2(f.dialogs.boxes.isEmpty(), qPrintable(f.lastBox().prompt));
    PictureBox &box = f.form1().Picture1();
    QCOMPARE(box.Width(), 17842.5f);
    QCOMPARE(box.Height(), 12802.5f);
    QVERIFY(box.Picture().isNull()); // the zoomed picture is a drawing, not the box's picture
    QCOMPARE(box.shownPicture().size(), QSize(793, 569));
    QCOMPARE(box.Left(), f.form1().ScaleWidth() / 2 - 17842.5f / 2);
}

void TestView::inThenOutLeavesNineTenths()
{
    QTemporaryDir dir;
    const QString path = write(dir.path(), "a.png", QSize(100, 80));
    FrameFixture f;
    f.open(path);
    PictureBox &box = f.form1().Picture1();
    const float w = box.Width();
    f.frame->Zoom_In_Click();
    f.frame->Zoom_Out_Click();
    QCOMPARE(box.Width(), w * 0.9f);
    for (int i = 0; i < 3; ++i)
        f.frame->Zoom_In_Click();
    for (int i = 0; i < 3; ++i)
        f.frame->Zoom_Out_Click();
    QVERIFY(qAbs(box.Width() - w * 0.9f * 0.729f) < 0.01f);
    QCOMPARE(f.form1().Picture2().Picture().size(), QSize(100, 80)); // always from the file
}

void TestView::zoomRecentresAfterADrag()
{
    QTemporaryDir dir;
    FrameFixture f;
    f.open(write(dir.path(), "a.png", QSize(100, 80)));
    PictureBox &box = f.form1().Picture1();
    box.setLeft(-5000);
    f.frame->Zoom_In_Click();
    QCOMPARE(box.Left(), f.form1().ScaleWidth() / 2 - box.Width() / 2);
}

void TestView::zoomOfADeletedFileLeavesAnEmptyBox()
{
    QTemporaryDir dir;
    const QString path = write(dir.path(), "a.png", QSize(100, 80));
    FrameFixture f;
    f.open(path);
    PictureBox &box = f.form1().Picture1();
    box.setLeft(33);
    QFile::remove(path);
    f.frame->Zoom_In_Click();
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QVERIFY2(f.lastBox().prompt.startsWith(QStringLiteral("Error Ocurrde:")), qPrintable(f.lastBox().prompt));
    QCOMPARE(f.lastBox().style, vb::vbCritical);
    QCOMPARE(box.Width(), 2250.0f);
    QVERIFY(box.shownPicture().isNull());
    QCOMPARE(box.Left(), 33.0f); // not centred
}

void TestView::zoomThatWouldOverflowChangesNothing()
{
    QTemporaryDir dir;
    FrameFixture f;
    f.open(write(dir.path(), "a.png", QSize(100, 80)));
    PictureBox &box = f.form1().Picture1();
    box.setWidth(1.5e9f);
    const float left = box.Left();
    f.frame->Zoom_In_Click();
    QCOMPARE(f.lastBox().prompt, QStringLiteral("Error Ocurrde:Overflow"));
    QCOMPARE(box.Width(), 1.5e9f);
    QCOMPARE(box.Left(), left);
    QVERIFY(!box.Picture().isNull());
}

void TestView::nextPictureEndsTheZoom()
{
    QTemporaryDir dir;
    FrameFixture f;
    write(dir.path(), "b.png", QSize(60, 40));
    f.open(write(dir.path(), "a.png", QSize(100, 80)));
    f.frame->Zoom_In_Click();
    f.frame->Next_picture_Click();
    QCOMPARE(f.form1().Picture1().Width(), 900.0f);
    QCOMPARE(f.form1().Picture1().Height(), 600.0f);
}

void TestView::dragMovesByTheTravel()
{
    QTemporaryDir dir;
    FrameFixture f;
    f.open(write(dir.path(), "a.png", QSize(400, 300)));
    PictureBox &box = f.form1().Picture1();
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        const float left = box.Left(), top = box.Top();
        QWidget *window = &f.form1().window();
        const QPoint origin = box.pixelRect().topLeft().toPoint();
        const QPointF offset = box.pixelRect().topLeft() - QPointF(origin);
        QTest::mousePress(window, button, {}, origin + QPoint(40, 30));
        QCOMPARE(f.form1().MousePointer(), 99);
        QCOMPARE(f.form1().BeginPosX, float((40 - offset.x()) * 15));
        QTest::mouseRelease(window, button, {}, origin + QPoint(60, 20));
        QCOMPARE(f.form1().MousePointer(), 0);
        QCOMPARE(box.Left(), left + 300);
        QCOMPARE(box.Top(), top - 150);
    }
}

void TestView::releaseWithoutPressUsesTheStoredPress()
{
    FrameFixture f;
    f.frame->Open_Click();
    PictureBox &box = f.form1().Picture1();
    const float left = box.Left(), top = box.Top();
    f.frame->panning().Picture1_MouseUp({1, 0, 900, 300});
    QCOMPARE(box.Left(), left + 900);
    QCOMPARE(box.Top(), top + 300);
    f.frame->panning().Picture1_MouseDown({2, 0, 600, 450});
    f.frame->panning().Picture1_MouseUp({2, 0, 900, 300});
    QCOMPARE(box.Left(), left + 1200);
    QCOMPARE(box.Top(), top + 150);
}

void TestView::positionTexts()
{
    FrameFixture f;
    f.frame->panning().Picture1_MouseMove({0, 0, 1335, 2220});
    QCOMPARE(f.panel(4), QStringLiteral("XScale:1335  YScale:2220"));
    f.frame->panning().Form_MouseMove({0, 0, 12.5f, -3});
    QCOMPARE(f.panel(4), QStringLiteral("XScale:12.5  YScale:-3"));
    QTest::mouseMove(&f.form1().window(), QPoint(3, 4));
    QTRY_COMPARE(f.panel(4), QStringLiteral("XScale:45  YScale:60"));
}

void TestView::largePhotoZoomsAndPaints()
{
    QTemporaryDir dir;
    FrameFixture f;
    f.open(write(dir.path(), "photo.jpg", QSize(4032, 3024), Qt::darkCyan, "jpeg"));
    PictureBox &box = f.form1().Picture1();
    QCOMPARE(box.Width(), 60480.0f);
    for (int i = 0; i < 3; ++i)
        f.frame->Zoom_In_Click();
    QVERIFY2(f.dialogs.boxes.isEmpty(), qPrintable(f.lastBox().prompt));
    QCOMPARE(box.Width(), 60480.0f * 1.5f * 1.5f * 1.5f);
    const QImage shot = f.form1().window().grab().toImage();
    QVERIFY(!shot.isNull());
    // The middle of the window shows the picture, not the black background.
    QVERIFY(shot.pixelColor(shot.rect().center()) != QColor(Qt::black));
    f.frame->panning().Picture1_MouseDown({1, 0, 1000, 1000});
    f.frame->panning().Picture1_MouseUp({1, 0, 5000, 1000});
    QCOMPARE(box.Left(), f.form1().ScaleWidth() / 2 - box.Width() / 2 + 4000);
}

VELLUPIX_TEST_MAIN(TestView)
#include "tst_view.moc"
