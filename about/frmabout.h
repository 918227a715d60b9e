#pragma once

#include "platform/childwindow.h"

#include <QWidget>

#include <cstdint>

class QLabel;
class QTimer;

// The controls of the About window, as one loading creates them.
class FrmAboutWindow : public QWidget
{
    Q_OBJECT
public:
    FrmAboutWindow();

    QLabel *Picture1;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7;
    QTimer *Timer1;
};

// The About window: a splash at start-up that closes itself on the sixth tick
// of its one-second timer, and the same window on demand. The tick count n
// belongs to the window object and is never reset, so the count goes on
// across showings.
class FrmAbout : public QObject
{
    Q_OBJECT
public:
    explicit FrmAbout(QMdiArea &area);

    bool isLoaded() const { return m_child.isLoaded(); }
    FrmAboutWindow *window() const { return static_cast<FrmAboutWindow *>(m_child.content()); }
    ChildWindow &child() { return m_child; }

    // Loads the window if needed, then shows it; a window already on screen
    // only comes to the front.
    void Show();
    // The same, beneath the other child windows (the area still makes it
    // the active one).
    void ShowBeneath();
    void Unload() { m_child.unload(); }

    void Timer1_Timer();

    std::int32_t n = 0;

private:
    void Form_Load();
    QMdiSubWindow *loadedAndShown();

    ChildWindow m_child;
};
