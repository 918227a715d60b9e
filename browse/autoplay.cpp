// The slide show: Form1's Timer1 steps through the list by itself, and the
// toolbar's slider sets its period.

#include "browse/browsing.h"

#include "browse/form1.h"
#include "platform/statusbar.h"

void Browsing::Auto_Play_Click()
{
    QTimer &timer = m_form1.Timer1();
    if (!timer.isActive()) // enabling a running timer does not restart its period
        timer.start();
}

void Browsing::Stop_AutoPlay_Click()
{
    m_form1.Timer1().stop();
}

void Browsing::Timer1_Timer()
{
    // One tick's error box at a time: ticks that come while it is on screen
    // are dropped rather than stacking boxes up behind it. The timer runs on.
    if (m_tickBoxOpen)
        return;
    m_report.trapped(traps::Navigation, [&] { stepToNext(); }, &m_tickBoxOpen);
}

void Browsing::Slider1_Change(int value)
{
    m_form1.Timer1().setInterval(value == 0 ? 50 : value);
}

void Browsing::Slider1_MouseMove()
{
    m_statusBar.setPanelText(4, QStringLiteral("Tune the Timer Speed"));
}

void Browsing::Slider1_LostFocus()
{
    m_statusBar.setPanelText(4, QString());
}
