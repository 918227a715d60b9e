#include "app/mdiform1.h"

#include "about/frmabout.h"
#include "app/menutable.h"
#include "app/toolbarstyle.h"
#include "platform/resources.h"
#include "browse/browsing.h"
#include "browse/form1.h"
#include "platform/picturecache.h"
#include "platform/backingstorewarmer.h"
#include "platform/decoderpool.h"
#include "platform/dialogs.h"
#include "platform/display.h"
#include "platform/patience.h"
#include "platform/statusbar.h"
#include "platform/twips.h"
#include "view/panning.h"
#include "view/zoom.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <cstdio>

#include <unistd.h>

Decoding::Decoding()
    : decoders(std::make_unique<DecoderPool>()),
      cache(std::make_unique<PictureCache>(PictureCache::defaultBudgetBytes(), PictureCache::defaultWorkers(),
                                           [pool = decoders.get()](const QByteArray &path, picture::FileStamp *stamp) {
                                               return pool->LoadPicture(path, stamp);
                                           }))
{
    // Saving reads the file's own pixels again: in a decoder too.
    cache->setOwnLoader([pool = decoders.get()](const QByteArray &path) { return pool->LoadOwnPicture(path); });
}

Decoding::Decoding(Decoding &&) noexcept = default;
Decoding::~Decoding() = default;

MDIForm1::MDIForm1(Dialogs &dialogs, Decoding decoding, QWidget *parent)
    : QMainWindow(parent), m_dialogs(dialogs), m_report(dialogs, this), m_decoders(std::move(decoding.decoders)),
      m_cache(std::move(decoding.cache))
{
    art::initResources();
    const TwipScale scale = TwipScale::forWidget(this);
    setWindowTitle(QStringLiteral("Vellupix 5.0"));
    setWindowIcon(art::frameIcon());
    // Shown, the frame is maximized (Show). On X11 it takes the screen's
    // available area at once, and its window and backing store are made now,
    // so that the backing store's pages are mapped while the rest of the
    // frame is built.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (const QScreen *s = screen()) {
            setGeometry(s->availableGeometry());
            m_backingStoreWarmer = std::make_unique<BackingStoreWarmer>(*this);
        }
    }

    m_area = new QMdiArea(this);
    m_area->setBackground(Qt::black);
    setCentralWidget(m_area);

    m_statusBar = new StatusBar({3000, 4000, 2000, 30000});
    statusBar()->addWidget(m_statusBar, 1);
    statusBar()->setSizeGripEnabled(false);

    m_slider = new QSlider(Qt::Horizontal);
    m_slider->setRange(0, 6000);
    m_slider->setSingleStep(50);
    m_slider->setPageStep(500);
    m_slider->setValue(1000);
    m_slider->setFixedSize(qRound(scale.toPixels(1695)), qRound(scale.toPixels(375)));
    m_slider->setMouseTracking(true);
    m_slider->setAccessibleName(QStringLiteral("Slide show speed"));
    m_slider->setAccessibleDescription(QStringLiteral("Tune the Timer Speed"));
    m_slider->installEventFilter(this);

    m_patience = std::make_unique<Patience>(m_dialogs, this);
    m_cache->setWait([this](const QString &name, const std::function<bool()> &done) { m_patience->wait(name, done); });
    m_form1 = std::make_unique<Form1>(*m_area, m_dialogs);
    // The working folder, listed when a step comes before any Open, is read
    // as Open reads its folder: a mount that stopped answering must not
    // freeze the window.
    m_form1->setFolderReader([this](const QString &folder) {
        return m_patience->run(displayName(folder), [folder] { return FileListBox::readFolder(folder); });
    });
    m_about = std::make_unique<FrmAbout>(*m_area);
    m_browsing = std::make_unique<Browsing>(m_module1, *m_form1, *m_statusBar, m_report, *m_cache, *m_patience);
    m_zoom = std::make_unique<Zoom>(*m_form1, m_report, *m_cache);
    m_panning = std::make_unique<Panning>(*m_form1, *m_statusBar);
    m_form1->setMouseEvents(m_panning.get());
    connect(m_form1.get(), &Form1::timer1Ticked, this, [this] {
        // A tick while a command waits for its picture is dropped, as while
        // a tick's error box is open.
        if (!m_patience->waiting())
            m_browsing->Timer1_Timer();
    });
    // Connected after the design-time value is set: until the user moves it,
    // the slide show keeps its own one-second period.
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) { m_browsing->Slider1_Change(value); });

    buildMenus();
    buildToolbar();
    // The decoders start once the frame has painted (the toolbar always
    // does; the area may be covered by a picture opened at start-up), so
    // that starting them costs the first paint nothing.
    m_toolbar->installEventFilter(this);
    if (!m_backingStoreWarmer)
        resize(qRound(scale.toPixels(10725)), qRound(scale.toPixels(8310)));
}

MDIForm1::~MDIForm1()
{
    // Children first: their objects refer to the area and the status bar.
    m_form1.reset();
    m_about.reset();
}

void MDIForm1::run(Handler handler)
{
    if (handler)
        (this->*handler)();
}

void MDIForm1::buildMenus()
{
    std::map<std::string, QMenu *> menus;
    for (int i = 0; i < kMenuItemCount; ++i) {
        const MenuItemDef &def = kMenuItems[i];
        const QString caption = QString::fromUtf16(def.caption);
        const bool isSubmenu = std::any_of(kMenuItems, kMenuItems + kMenuItemCount, [&](const MenuItemDef &other) {
            return other.parent && std::string(other.parent) == def.name;
        });
        QMenu *parentMenu = def.parent ? menus.at(def.parent) : nullptr;
        QAction *action = nullptr;
        if (isSubmenu) {
            QMenu *menu = parentMenu ? parentMenu->addMenu(caption) : menuBar()->addMenu(caption);
            menu->setObjectName(QString::fromLatin1(def.name));
            menus[def.name] = menu;
            action = menu->menuAction();
        } else if (caption == u"-") {
            action = parentMenu->addSeparator();
        } else {
            action = new QAction(caption, this);
            if (*def.shortcut)
                action->setShortcut(QKeySequence(QString::fromLatin1(def.shortcut)));
            // Shortcuts work wherever the focus is inside the frame, also in
            // the picture window, and F1 is Next Picture, never help.
            action->setShortcutContext(Qt::WindowShortcut);
            const Handler handler = def.handler;
            connect(action, &QAction::triggered, this, [this, handler] { run(handler); });
            if (parentMenu)
                parentMenu->addAction(action);
            else
                menuBar()->addAction(action);
            addAction(action); // keeps the shortcut alive while the menu is closed
        }
        action->setObjectName(QString::fromLatin1(def.name));
        m_menuItems[def.name] = action;
    }
}

void MDIForm1::buildToolbar()
{
    m_toolbar = addToolBar(QStringLiteral("Toolbar1"));
    m_toolbar->setObjectName(QStringLiteral("Toolbar1"));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setIconSize(QSize(16, 16));
    m_toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    auto *toolbarStyle = new ToolBarStyle(QApplication::style()->name());
    toolbarStyle->setParent(m_toolbar);
    m_toolbar->setStyle(toolbarStyle);
    m_buttons.push_back(nullptr); // positions count from 1
    for (int k = 1; k <= kToolbarButtonCount; ++k) {
        const ToolbarButtonDef &def = kToolbarButtons[k - 1];
        QAction *action = nullptr;
        switch (def.style) {
        case ButtonStyle::Separator:
            action = m_toolbar->addSeparator();
            break;
        case ButtonStyle::Placeholder:
            action = m_toolbar->addWidget(m_slider);
            break;
        case ButtonStyle::Push:
        case ButtonStyle::Check:
            action = new QAction(art::toolbarImage(def.image), QString::fromLatin1(def.commandName), this);
            action->setToolTip(QString::fromLatin1(def.tooltip));
            action->setCheckable(def.style == ButtonStyle::Check);
            // A screen reader's action on a check button only toggles it, with
            // no click: the command must follow the toggle, as a click's does.
            if (action->isCheckable())
                connect(action, &QAction::toggled, this, [this, k] { Toolbar1_ButtonClick(k); });
            else
                connect(action, &QAction::triggered, this, [this, k] { Toolbar1_ButtonClick(k); });
            m_toolbar->addAction(action);
            // A screen reader names the command and reads the tooltip to it.
            if (QWidget *button = m_toolbar->widgetForAction(action)) {
                button->setAccessibleName(action->text());
                button->setAccessibleDescription(action->toolTip());
            }
            break;
        }
        action->setObjectName(QStringLiteral("Button%1").arg(k));
        m_buttons.push_back(action);
    }
}

QAction *MDIForm1::menuItem(const std::string &name) const
{
    const auto it = m_menuItems.find(name);
    return it == m_menuItems.end() ? nullptr : it->second;
}

QAction *MDIForm1::Button(int index) const
{
    return index >= 1 && index <= kToolbarButtonCount ? m_buttons[size_t(index)] : nullptr;
}

void MDIForm1::Toolbar1_ButtonClick(int index)
{
    switch (index) {
    case 19:
        Button(19)->setEnabled(false);
        Button(21)->setEnabled(true);
        Auto_Play_Click();
        break;
    case 21:
        Button(21)->setEnabled(false);
        Button(19)->setEnabled(true);
        Stop_AutoPlay_Click();
        break;
    default:
        if (index >= 1 && index <= kToolbarButtonCount)
            run(kToolbarButtons[index - 1].handler);
        break;
    }
}

float MDIForm1::Width() const
{
    return TwipScale::forWidget(this).toTwips(frameGeometry().width());
}

float MDIForm1::Height() const
{
    return TwipScale::forWidget(this).toTwips(frameGeometry().height());
}

void MDIForm1::Show()
{
    if (!m_loaded) {
        m_loaded = true;
        // The frame will be maximized: give it that size now, so that the
        // splash is placed against the frame the user is going to see.
        if (const QScreen *s = screen())
            setGeometry(s->availableGeometry());
        MDIForm_Load();
    }
    showMaximized();
}

void MDIForm1::MDIForm_Load()
{
    m_statusBar->setPanelText(1, QStringLiteral("Vellupix Ready"));
    if (!m_greetingBeneathPicture)
        greet(false);
}

void MDIForm1::greet(bool beneath)
{
    // The start-up showing of the About window: shown, then moved.
    if (beneath) {
        m_about->ShowBeneath();
        // The area makes whatever it shows active; taken back before the
        // About window is sized and placed.
        m_area->setActiveSubWindow(m_form1->subWindow());
    } else {
        m_about->Show();
    }
    m_about->child().subWindow()->adjustSize();
    m_about->child().setLeft(Width() / 2.0f - m_about->child().Width() / 2.0f);
    m_about->child().setTop(Height() / 2.0f - m_about->child().Height() / 2.0f);
}

void MDIForm1::greetBeneathPicture()
{
    if (!m_greetingBeneathPicture)
        return;
    m_greetingBeneathPicture = false;
    // Where showing it before the picture window left it: beneath, with the
    // picture window active.
    const QMdiSubWindow *picture = m_form1->subWindow();
    greet(picture && picture->isVisible());
}

void MDIForm1::endProcess(int exitCode)
{
    m_decoders->killAll();
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(exitCode);
}

void MDIForm1::closeEvent(QCloseEvent *event)
{
    // Closed while a command waits for a file: the command cannot be left
    // half done nor its read waited for; the process ends here.
    if (m_patience->waiting())
        endProcess(0);
    // Unloading the frame unloads its children first; nothing is asked.
    m_form1->Unload();
    m_about->Unload();
    event->accept();
}

bool MDIForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_toolbar && event->type() == QEvent::Paint) {
        m_toolbar->removeEventFilter(this);
        // Each decoder takes a core for tens of milliseconds: they start once
        // the server has the first frame. Started with a file, they start
        // after its picture instead (Open_File).
        QTimer::singleShot(0, this, [this] {
            if (!m_openedAtStart) {
                waitForDisplay();
                m_decoders->start();
            }
        });
    }
    if (watched == m_slider) {
        if (event->type() == QEvent::MouseMove)
            m_browsing->Slider1_MouseMove();
        else if (event->type() == QEvent::FocusOut)
            m_browsing->Slider1_LostFocus();
    }
    return QMainWindow::eventFilter(watched, event);
}

void MDIForm1::Exit_Click()
{
    if (m_dialogs.MsgBox(this, QStringLiteral("Are you sure you want to exit the Vellupix?"), vb::vbYesNo | vb::vbQuestion,
                         QStringLiteral("Question"))
        == vb::vbYes)
        close();
}

void MDIForm1::AboutImage_Click()
{
    m_about->Show();
}

void MDIForm1::Open_Click() { m_browsing->Open_Click(); }
void MDIForm1::Open_File(const QString &path) { m_browsing->Open_File(path); }
void MDIForm1::Open_File(const QByteArray &nativePath)
{
    m_openedAtStart = true;
    // The frame has not been painted yet: it is painted once, with the
    // picture, when that comes soon enough.
    m_patience->setGrace(Patience::kFirstFrameGrace);
    m_browsing->Open_File(nativePath);
    m_patience->setGrace(Patience::kGrace);
    // Its neighbours are read first, then the other decoders start; a
    // picture that failed has nothing to wait for.
    Form1Window &window = m_form1->window();
    if (window.afterNextPaint) {
        window.afterNextPaint = [this, readAhead = std::move(window.afterNextPaint)] {
            // Started while the display server still copies the frame, the
            // decoders and the reading ahead would take the cores it needs:
            // the picture would reach the screen tens of milliseconds later.
            waitForDisplay();
            greetBeneathPicture();
            readAhead();
            m_decoders->start();
        };
    } else {
        greetBeneathPicture();
        QTimer::singleShot(0, this, [this] { m_decoders->start(); });
    }
}
void MDIForm1::Save_Click() { m_browsing->Save_Click(); }
void MDIForm1::Auto_Play_Click() { m_browsing->Auto_Play_Click(); }
void MDIForm1::Stop_AutoPlay_Click() { m_browsing->Stop_AutoPlay_Click(); }
void MDIForm1::Zoom_In_Click() { m_zoom->Zoom_In_Click(); }
void MDIForm1::Zoom_Out_Click() { m_zoom->Zoom_Out_Click(); }
void MDIForm1::Next_picture_Click() { m_browsing->Next_picture_Click(); }
void MDIForm1::precursive_picture_Click() { m_browsing->precursive_picture_Click(); }
void MDIForm1::Go_to_First_Click() { m_browsing->Go_to_First_Click(); }
void MDIForm1::Go_to_Last_Click() { m_browsing->Go_to_Last_Click(); }
