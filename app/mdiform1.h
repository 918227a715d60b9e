#pragma once

#include "platform/errorreport.h"
#include "browse/module1.h"
#include "app/menutable.h"

#include <QMainWindow>

#include <map>
#include <memory>
#include <string>
#include <vector>

class BackingStoreWarmer;
class Browsing;
class DecoderPool;
class Patience;
class Dialogs;
class Form1;
class FrmAbout;
class Panning;
class PictureCache;
class QMdiArea;
class QSlider;
class QToolBar;
class StatusBar;
class Zoom;

// The decoder processes and the cache that reads through them. Made before
// the frame when the viewer is started with a file, so that its picture is
// read while the window system comes up.
struct Decoding
{
    Decoding();
    Decoding(Decoding &&) noexcept;
    ~Decoding();
    std::unique_ptr<DecoderPool> decoders;
    std::unique_ptr<PictureCache> cache;
};

// The frame of the program: a multiple-document window with the menus, the
// toolbar and its speed slider, and the four-panel status bar.
class MDIForm1 : public QMainWindow
{
    Q_OBJECT
public:
    explicit MDIForm1(Dialogs &dialogs, Decoding decoding = Decoding(), QWidget *parent = nullptr);
    ~MDIForm1() override;

    // Runs the load step once, then shows the frame maximized.
    void Show();
    // Before Show(), for a start with a picture to open (Open_File with the
    // file's bytes): the picture window would cover the About window the load
    // step shows at once, so the About window is made once the picture is on
    // screen, beneath it, off the first picture's way.
    void greetBeneathStartPicture() { m_greetingBeneathPicture = true; }

    // Menu commands; the toolbar runs the same ones.
    void Open_Click();
    void Open_File(const QString &path);
    void Open_File(const QByteArray &nativePath);
    void Save_Click();
    void Auto_Play_Click();
    void Stop_AutoPlay_Click();
    void Zoom_In_Click();
    void Zoom_Out_Click();
    void Next_picture_Click();
    void precursive_picture_Click();
    void Go_to_First_Click();
    void Go_to_Last_Click();
    void AboutImage_Click();
    void Exit_Click();

    void Toolbar1_ButtonClick(int index);

    QMdiArea *mdiArea() const { return m_area; }
    QToolBar *Toolbar1() const { return m_toolbar; }
    QSlider *Slider1() const { return m_slider; }
    StatusBar *StatusBar1() const { return m_statusBar; }
    QAction *menuItem(const std::string &name) const;
    QAction *Button(int index) const; // 1-based position on the toolbar

    Module1 &module1() { return m_module1; }
    Form1 &form1() { return *m_form1; }
    FrmAbout &frmAbout() { return *m_about; }
    PictureCache &pictureCache() { return *m_cache; }
    Panning &panning() { return *m_panning; }
    DecoderPool &decoderPool() { return *m_decoders; }

    // The end of the process once the frame is gone: decoders are killed and
    // nothing is waited for, neither a worker nor a read stuck in the kernel.
    [[noreturn]] void endProcess(int exitCode);

    // Outer size in twips.
    float Width() const;
    float Height() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void MDIForm_Load();
    // The About window's start-up showing, centred on the frame.
    void greet(bool beneath);
    void greetBeneathPicture();
    void buildMenus();
    void buildToolbar();
    void run(Handler handler);

    Dialogs &m_dialogs;
    Module1 m_module1;
    ErrorReport m_report;
    QMdiArea *m_area;
    QToolBar *m_toolbar;
    QSlider *m_slider;
    StatusBar *m_statusBar;
    // Before the cache, which decodes through them and goes first.
    std::unique_ptr<DecoderPool> m_decoders;
    std::unique_ptr<Patience> m_patience;
    std::unique_ptr<PictureCache> m_cache;
    std::unique_ptr<Form1> m_form1;
    std::unique_ptr<FrmAbout> m_about;
    std::unique_ptr<Browsing> m_browsing;
    std::unique_ptr<Zoom> m_zoom;
    std::unique_ptr<Panning> m_panning;
    std::map<std::string, QAction *> m_menuItems;
    std::vector<QAction *> m_buttons;
    bool m_loaded = false;
    bool m_greetingBeneathPicture = false;
    bool m_openedAtStart = false; // a file named on the command line starts the decoders
    // Last: stopped before the frame's backing store can go.
    std::unique_ptr<BackingStoreWarmer> m_backingStoreWarmer;
};
