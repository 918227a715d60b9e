#pragma once

#include "platform/childwindow.h"
#include "platform/commondialog.h"
#include "platform/filelist.h"
#include "platform/picturebox.h"

#include <QCursor>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstdint>

class Dialogs;
class QMdiArea;
class QMdiSubWindow;

// Where the mouse events of Picture1 and of the bare window go: to the drag,
// which lives with the zoom in the view layer.
class Form1MouseEvents
{
public:
    virtual ~Form1MouseEvents() = default;
    virtual void Picture1_MouseDown(const PictureBoxHost::MouseArgs &e) = 0;
    virtual void Picture1_MouseUp(const PictureBoxHost::MouseArgs &e) = 0;
    virtual void Picture1_MouseMove(const PictureBoxHost::MouseArgs &e) = 0;
    virtual void Form_MouseMove(const PictureBoxHost::MouseArgs &e) = 0;
};

// The controls of the picture window, as one loading of it creates them.
// They live until the user closes the window.
class Form1Window : public PictureBoxHost
{
    Q_OBJECT
public:
    explicit Form1Window(Dialogs &dialogs);

    PictureBox Picture1;
    PictureBox Picture2; // never visible: holds the zoom's source picture
    FileListBox File1;
    DirListBox Dir1;
    DriveListBox Drive1;
    CommonDialog commDilg;
    QTimer Timer1;
};

// The picture window: one object for the whole process. Its controls are
// created when it is first referred to and again after each close; its
// window-level variables outlive them.
class Form1 : public QObject
{
    Q_OBJECT
public:
    Form1(QMdiArea &area, Dialogs &dialogs);
    ~Form1() override;

    bool isLoaded() const { return m_child.isLoaded(); }
    // Referring to the window loads and shows it, maximized in the frame.
    Form1Window &window();
    QMdiSubWindow *subWindow() const { return m_child.subWindow(); }
    void Show();
    void Unload() { m_child.unload(); }

    PictureBox &Picture1() { return window().Picture1; }
    PictureBox &Picture2() { return window().Picture2; }
    FileListBox &File1() { return window().File1; }
    DirListBox &Dir1() { return window().Dir1; }
    CommonDialog &commDilg() { return window().commDilg; }
    QTimer &Timer1() { return window().Timer1; }

    // The folder of Dir1 joined with the selected entry of File1: the file
    // that the show and the zoom load.
    QByteArray selectedPath() { return joinNativePath(Dir1().Path(), File1().nativeFileName()); }

    // The inner area, where the picture box is centred.
    float ScaleWidth() { return window().ScaleWidth(); }
    float ScaleHeight() { return window().ScaleHeight(); }
    // Every show centres the box on its present size in the inner area.
    void centrePicture1();

    // 0: the default pointer; 99: MouseIcon.
    int MousePointer() const { return m_mousePointer; }
    void setMousePointer(int pointer);
    void setMouseIcon(const QCursor &cursor);

    // The drag's window-level variables.
    float BeginPosX = 0;
    std::int32_t BeginPosY = 0;
    float EndPosY = 0;
    std::int32_t EndPosX = 0;
    float ScalX = 0;
    std::int32_t ScalY = 0;

    void setMouseEvents(Form1MouseEvents *events) { m_mouseEvents = events; }
    // How File1 reads its folder, in every loading of the window.
    void setFolderReader(FileListBox::Reader reader);

signals:
    void timer1Ticked(); // Timer1's period has passed
    void loaded();

private:
    void load();

    ChildWindow m_child;
    Dialogs &m_dialogs;
    Form1MouseEvents *m_mouseEvents = nullptr;
    FileListBox::Reader m_folderReader;
    int m_mousePointer = 0;
    QCursor m_mouseIcon;
};
