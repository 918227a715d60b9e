// The menu tree, the toolbar and its dispatch, Save, and the About window.

#include "support/framefixture.h"
#include "support/testmain.h"
#include "support/testpictures.h"

#include "platform/resources.h"

#include <QAccessible>
#include <QImageReader>
#include <QLabel>
#include <QSlider>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>

using testpictures::write;

namespace {
// The drawing for a device pixel ratio of 2 of toolbar image n.
QString art2x(int n)
{
    static const char *const names[] = {"01_open", "02_save", "03_first",   "04_previous", "05_next",
                                        "06_last", "07_delete", "08_print", "09_start",    "10_stop",
                                        "11_magnify", "12_shrink", "13_about", "14_exit"};
    return QStringLiteral(":/vellupix/toolbar/%1@2x.png").arg(QLatin1String(names[n - 1]));
}

// Whether every 2 x 2 block is one colour: a small picture blown up.
bool isDoubled(const QImage &image)
{
    for (int y = 0; y + 1 < image.height(); y += 2)
        for (int x = 0; x + 1 < image.width(); x += 2)
            if (image.pixel(x + 1, y) != image.pixel(x, y) || image.pixel(x, y + 1) != image.pixel(x, y)
                || image.pixel(x + 1, y + 1) != image.pixel(x, y))
                return false;
    return true;
}
} // namespace

class TestCommands : public QObject
{
    Q_OBJECT
private slots:
    void menuTree();
    void inertItemsDoNothing();
    void toolbarButtons();
    void toolbarClicksRunTheMenuHandlers();
    void applicationIconIsDrawnForEachSize();
    void startStopSwitchOnlyFromTheToolbar();
    void saveWritesTheShownPicture();
    void saveCancelAndNoPicture();
    void aboutCountsAcrossShowings();
    void aboutCommandNeitherReloadsNorMoves();
    void accessibleNamesAndDescriptions();
};

void TestCommands::menuTree()
{
    FrameFixture f;
    // name, caption, shortcut, parent
    const QList<QStringList> expected = {
        {"New", "&New", "Ctrl+N", "File"}, {"Open", "&Open", "Ctrl+O", "File"}, {"Save", "&Save", "Ctrl+S", "File"},
        {"Save_As", "Save &As", "Ctrl+A", "File"}, {"Rotate90", "90'Rotate(&P)", "Ctrl+P", "Rotate"},
        {"Rotate180", "180'Rotate(&M)", "Ctrl+M", "Rotate"}, {"Auto_Play", "&Auto Play", "Ctrl+X", "Translation"},
        {"Stop_AutoPlay", "&Stop Auto Play", "Ctrl+Y", "Translation"}, {"Zoom_In", "Zoom &In", "Ctrl+I", "View"},
        {"Zoom_Out", "Zoom &Out", "Ctrl+T", "View"}, {"Next_picture", "&Next Picture", "F1", "View"},
        {"precursive_picture", "&Precursive Picture", "F2", "View"}, {"Go_to_First", "Go to First", "F3", "View"},
        {"Go_to_Last", "Go to last", "F4", "View"}, {"AboutImage", "About Vellupix", "Ctrl+V", "Help"},
        {"Content", "&Content", "Ctrl+C", "Help"},
    };
    for (const QStringList &row : expected) {
        QAction *a = f.frame->menuItem(row[0].toStdString());
        QVERIFY2(a, qPrintable(row[0]));
        QCOMPARE(a->text(), row[1]);
        QCOMPARE(a->shortcut(), QKeySequence(row[2]));
        QVERIFY(a->isEnabled() && a->isVisible() && !a->isChecked());
        bool inParent = false;
        for (QObject *o : a->associatedObjects())
            if (auto *menu = qobject_cast<QMenu *>(o); menu && menu->objectName() == row[3])
                inParent = true;
        QVERIFY2(inParent, qPrintable(row[0]));
    }
    QStringList bar;
    for (QAction *a : f.frame->menuBar()->actions())
        bar << a->text();
    QCOMPARE(bar, (QStringList{"&File", "&Translation", "&View", "&Help", "&Exit"}));
    QMenu *file = f.frame->findChild<QMenu *>("File");
    QStringList fileItems;
    for (QAction *a : file->actions())
        fileItems << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(fileItems, (QStringList{"&New", "&Open", "-", "&Save", "Save &As"}));
    QMenu *translation = f.frame->findChild<QMenu *>("Translation");
    QCOMPARE(translation->actions().first()->text(), QStringLiteral("&Rotate"));
}

void TestCommands::inertItemsDoNothing()
{
    FrameFixture f;
    for (auto key : {Qt::Key_N, Qt::Key_A, Qt::Key_P, Qt::Key_M, Qt::Key_C})
        QTest::keyClick(f.frame.get(), key, Qt::ControlModifier);
    for (const char *name : {"New", "Save_As", "Rotate90", "Rotate180", "Content"})
        f.frame->menuItem(name)->trigger();
    QVERIFY(f.dialogs.boxes.isEmpty());
    QVERIFY(f.dialogs.fileDialogs.isEmpty());
    QVERIFY(!f.form1().isLoaded());
    QCOMPARE(f.panel(1), QStringLiteral("Vellupix Ready"));
}

void TestCommands::toolbarButtons()
{
    FrameFixture f;
    const QStringList tips = {"Open a new file", "", "Save the current file", "", "", "GO to the first picture", "",
                              "Go to the next picture", "", "Go to the next picture", "", "Go to the last picture", "",
                              "", "Delete the current picture", "", "Print the current picture", "",
                              "Start the Auto Mode", "", "Stop the Auto Mode", "", "Magnify the current picture", "",
                              "Shrink the current picture", "", "About some question", "", "Exit the Velupix"};
    QCOMPARE(f.frame->Toolbar1()->actions().size(), 29);
    for (int k = 1; k <= 29; ++k) {
        QAction *b = f.frame->Button(k);
        QCOMPARE(f.frame->Toolbar1()->actions().at(k - 1), b);
        if (tips[k - 1].isEmpty())
            continue;
        QCOMPARE(b->toolTip(), tips[k - 1]);
        QVERIFY2(!b->icon().isNull(), qPrintable(tips[k - 1]));
        QCOMPARE(b->isCheckable(), k == 19 || k == 21 || k == 27);
    }
    QCOMPARE(f.frame->Toolbar1()->widgetForAction(f.frame->Button(18)), static_cast<QWidget *>(f.frame->Slider1()));

    // At a device pixel ratio of 2 every image shows its 32-pixel drawing as
    // drawn: not the 16-pixel art doubled or smoothed, not some other size.
    int image = 0;
    for (int k = 1; k <= 29; ++k) {
        const QIcon icon = f.frame->Button(k)->icon();
        if (icon.isNull())
            continue;
        ++image;
        const QPixmap normal = icon.pixmap(QSize(16, 16), 1.0);
        QCOMPARE(normal.size(), QSize(16, 16));
        const QPixmap sharp = icon.pixmap(QSize(16, 16), 2.0);
        QCOMPARE(sharp.size(), QSize(32, 32));
        QCOMPARE(sharp.deviceIndependentSize(), QSizeF(16, 16));
        const QImage drawn = QImage(art2x(image)).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(drawn.size(), QSize(32, 32));
        QVERIFY2(sharp.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) == drawn, qPrintable(art2x(image)));
    }
    QCOMPARE(image, 14);

    // The About logo likewise: 48 x 36 as designed, 96 x 72 drawn for 2x.
    QCOMPARE(art::aboutLogo(1.0).size(), QSize(48, 36));
    const QPixmap logo = art::aboutLogo(2.0);
    QCOMPARE(logo.size(), QSize(96, 72));
    QCOMPARE(logo.deviceIndependentSize(), QSizeF(48, 36));
    QVERIFY(!isDoubled(logo.toImage()));
}

void TestCommands::applicationIconIsDrawnForEachSize()
{
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString path = QStringLiteral("resources/hicolor/%1x%1/apps/org.vellupix.Vellupix.png").arg(size);
        const QImage icon(path);
        QCOMPARE(icon.size(), QSize(size, size));
        // Rendered for its size, not a smaller one blown up.
        if (size > 16)
            QVERIFY2(!isDoubled(icon), qPrintable(path));
    }
    // At 16 pixels the frame is whole: a dark, opaque line on all four sides
    // of the 14 x 12 picture.
    const QImage small(QStringLiteral("resources/hicolor/16x16/apps/org.vellupix.Vellupix.png"));
    auto frame = [&](int x, int y) {
        const QRgb p = small.pixel(x, y);
        return qAlpha(p) == 255 && qGray(p) < 80;
    };
    for (int x = 1; x <= 14; ++x)
        QVERIFY2(frame(x, 2) && frame(x, 13), qPrintable(QString::number(x)));
    for (int y = 2; y <= 13; ++y)
        QVERIFY2(frame(1, y) && frame(14, y), qPrintable(QString::number(y)));
}

void TestCommands::toolbarClicksRunTheMenuHandlers()
{
    QTemporaryDir dir;
    const QString a = write(dir.path(), "a.png", QSize(40, 40));
    write(dir.path(), "b.png", QSize(40, 40));
    write(dir.path(), "c.png", QSize(40, 40));
    FrameFixture f;
    auto click = [&](int k) {
        auto *button = qobject_cast<QToolButton *>(f.frame->Toolbar1()->widgetForAction(f.frame->Button(k)));
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    };
    f.dialogs.files.append(a);
    click(1);
    QCOMPARE(f.panel(3), QStringLiteral("1 of  3 Pictures"));
    click(10);
    QCOMPARE(f.panel(3), QStringLiteral("2 of  3 Pictures"));
    click(12);
    QCOMPARE(f.panel(3), QStringLiteral("3 of  3 Pictures"));
    click(8);
    QCOMPARE(f.panel(3), QStringLiteral("2 of  3 Pictures"));
    click(6);
    QCOMPARE(f.panel(3), QStringLiteral("1 of  3 Pictures"));
    click(23);
    QCOMPARE(f.form1().Picture1().Width(), 900.0f);
    click(25);
    QCOMPARE(f.form1().Picture1().Width(), 540.0f);
    click(3); // Save dialog, cancelled
    QCOMPARE(f.dialogs.fileDialogs.last().save, true);
    const int boxes = f.dialogs.boxes.size();
    click(15);
    click(17);
    click(27);
    QVERIFY(f.frame->Button(27)->isChecked()); // only its own look changes
    QCOMPARE(f.dialogs.boxes.size(), boxes);
    QCOMPARE(f.frame->frmAbout().child().subWindow()->isVisible(), true); // the splash, untouched
    f.dialogs.answers.append(vb::vbNo);
    click(29);
    QCOMPARE(f.lastBox().caption, QStringLiteral("Question"));
}

void TestCommands::startStopSwitchOnlyFromTheToolbar()
{
    FrameFixture f;
    f.frame->Toolbar1_ButtonClick(19);
    QVERIFY(!f.frame->Button(19)->isEnabled());
    QVERIFY(f.frame->Button(21)->isEnabled());
    QVERIFY(f.form1().Timer1().isActive());
    f.frame->Toolbar1_ButtonClick(21);
    QVERIFY(f.frame->Button(19)->isEnabled());
    QVERIFY(!f.frame->Button(21)->isEnabled());
    QVERIFY(!f.form1().Timer1().isActive());
    f.frame->menuItem("Auto_Play")->trigger();
    QVERIFY(f.form1().Timer1().isActive());
    QVERIFY(f.frame->Button(19)->isEnabled());
    QVERIFY(!f.frame->Button(21)->isEnabled());

    // A screen reader's action on the buttons does what a click does.
    f.frame->Stop_AutoPlay_Click();
    const auto act = [&](int k) {
        QWidget *button = f.frame->Toolbar1()->widgetForAction(f.frame->Button(k));
        QAccessibleActionInterface *actions = QAccessible::queryAccessibleInterface(button)->actionInterface();
        QVERIFY(actions && !actions->actionNames().isEmpty());
        actions->doAction(actions->actionNames().constFirst());
    };
    act(19);
    QVERIFY(f.form1().Timer1().isActive());
    QVERIFY(!f.frame->Button(19)->isEnabled());
    act(21);
    QVERIFY(!f.form1().Timer1().isActive());
    QVERIFY(f.frame->Button(19)->isEnabled());
}

void TestCommands::saveWritesTheShownPicture()
{
    QTemporaryDir dir;
    const QString opened = write(dir.path(), "a.png", QSize(64, 48));
    write(dir.path(), "b.png");
    FrameFixture f;
    f.open(opened);
    const QStringList panels{f.panel(1), f.panel(2), f.panel(3)};
    f.frame->Zoom_In_Click();
    f.dialogs.files.append(dir.filePath("copy.jpg"));
    f.frame->Save_Click();
    QVERIFY2(f.dialogs.boxes.isEmpty(), qPrintable(f.lastBox().prompt));
    const FileDialogRequest &request = f.dialogs.fileDialogs.last().request;
    QCOMPARE(request.title, QStringLiteral("打开文件"));
    QCOMPARE(request.fileName, opened);
    f.frame->Save_Click(); // cancelled; the next one still offers the file chosen last
    f.frame->Save_Click();
    QCOMPARE(f.dialogs.fileDialogs.last().request.fileName, dir.filePath("copy.jpg"));
    QImageReader reader(dir.filePath("copy.jpg"));
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    QCOMPARE(reader.read().size(), QSize(64, 48)); // natural size, also after a zoom
    QCOMPARE((QStringList{f.panel(1), f.panel(2), f.panel(3)}), panels);
    QCOMPARE(f.form1().File1().ListCount(), 2);
    QCOMPARE(f.module1().Index, 0);
}

void TestCommands::saveCancelAndNoPicture()
{
    QTemporaryDir dir;
    FrameFixture f;
    f.frame->Save_Click(); // no picture: the dialog is cancelled, nothing happens
    QVERIFY(f.dialogs.boxes.isEmpty());
    f.dialogs.files.append(dir.filePath("nothing.png"));
    f.frame->Save_Click();
    QCOMPARE(f.lastBox().prompt, QStringLiteral("Error Ocurred:There is no picture to save."));
    QCOMPARE(f.lastBox().style, vb::vbOKOnly);
    QCOMPARE(f.lastBox().caption, QStringLiteral("Error"));
    QVERIFY(!QFile::exists(dir.filePath("nothing.png")));
    f.frame->Save_Click(); // a name is left in the dialog, but this one is cancelled
    QCOMPARE(f.dialogs.boxes.size(), 1);
}

void TestCommands::aboutCountsAcrossShowings()
{
    FrameFixture f;
    FrmAbout &about = f.frame->frmAbout();
    about.Timer1_Timer();
    about.Timer1_Timer();
    about.child().subWindow()->close(); // by hand after two ticks
    QVERIFY(!about.isLoaded());
    f.frame->AboutImage_Click();
    QVERIFY(about.window()->Timer1->isActive());
    for (int i = 0; i < 3; ++i)
        about.Timer1_Timer();
    QVERIFY(about.isLoaded());
    about.Timer1_Timer(); // the sixth tick overall
    QVERIFY(!about.isLoaded());
    f.frame->AboutImage_Click();
    for (int i = 0; i < 20; ++i)
        about.Timer1_Timer();
    QVERIFY(about.isLoaded()); // past six it stays open
    about.n = 2147483647;
    about.Timer1_Timer();
    QCOMPARE(about.n, 2147483647);
    QVERIFY(about.isLoaded());
}

void TestCommands::aboutCommandNeitherReloadsNorMoves()
{
    FrameFixture f;
    FrmAbout &about = f.frame->frmAbout();
    FrmAboutWindow *splash = about.window();
    about.Timer1_Timer();
    about.child().subWindow()->move(5, 7);
    QTest::keyClick(f.frame.get(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(about.window(), splash);
    QCOMPARE(about.n, 1);
    QCOMPARE(about.child().subWindow()->pos(), QPoint(5, 7));
    QCOMPARE(splash->Label3->text(), QStringLiteral("Writed by: The Vellupix developers"));
    QCOMPARE(splash->Label2->palette().color(QPalette::WindowText), QColor(0, 128, 128));
    QVERIFY(splash->Label1->font().bold());
}

void TestCommands::accessibleNamesAndDescriptions()
{
    FrameFixture f;
    auto read = [](QObject *o, QAccessible::Text t) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(o);
        return iface ? iface->text(t) : QStringLiteral("<none>");
    };
    QWidget *next = f.frame->Toolbar1()->widgetForAction(f.frame->Button(10));
    QCOMPARE(read(next, QAccessible::Name), QStringLiteral("Next Picture"));
    QCOMPARE(read(next, QAccessible::Description), QStringLiteral("Go to the next picture"));
    QWidget *previous = f.frame->Toolbar1()->widgetForAction(f.frame->Button(8));
    QCOMPARE(read(previous, QAccessible::Name), QStringLiteral("Previous Picture"));
    QCOMPARE(read(f.frame->Slider1(), QAccessible::Name), QStringLiteral("Slide show speed"));
    QCOMPARE(read(f.frame->frmAbout().window(), QAccessible::Name), QStringLiteral("About Vellupix"));
    f.frame->Open_Click();
    QCOMPARE(read(&f.form1().window(), QAccessible::Name), QStringLiteral("Picture window"));
    // Each status panel reads as the user sees it, and says which it is.
    const QList<QLabel *> panels = f.frame->StatusBar1()->findChildren<QLabel *>();
    QCOMPARE(panels.size(), 4);
    QCOMPARE(read(panels[0], QAccessible::Name), QStringLiteral("Vellupix Ready"));
    QCOMPARE(read(panels[0], QAccessible::Description), QStringLiteral("Status panel 1"));
    f.frame->panning().Picture1_MouseMove({0, 0, 15, 30});
    QCOMPARE(read(panels[3], QAccessible::Name), QStringLiteral("XScale:15  YScale:30"));
}

VELLUPIX_TEST_MAIN(TestCommands)
#include "tst_commands.moc"
