#pragma once

#include "browse/errorreport.h"
#include "browse/module1.h"

#include <QByteArray>
#include <QImage>

class Form1;
class Patience;
class PictureCache;
class StatusBar;

// The browsing commands: Open, Save, the four steps through the folder and
// the slide show with its speed slider. Each handler runs to its end on the
// window thread.
class Browsing
{
public:
    Browsing(Module1 &module1, Form1 &form1, StatusBar &statusBar, const ErrorReport &report, PictureCache &cache,
             Patience &patience);

    void Open_Click();
    // Opens a file exactly as if it had been chosen in the Open dialog: a
    // file named on the command line by a file manager.
    void Open_File(const QString &path);
    void Save_Click();

    void Go_to_First_Click();
    void Go_to_Last_Click();
    void Next_picture_Click();
    void precursive_picture_Click();

    void Auto_Play_Click();
    void Stop_AutoPlay_Click();
    void Timer1_Timer();
    void Slider1_Change(int value);
    void Slider1_MouseMove();
    void Slider1_LostFocus();

private:
    // Which way the user is moving through the list, for reading ahead.
    enum class Travel { Forward, Backward };

    template <typename FirstStep, typename EndRule>
    void navigate(Travel travel, FirstStep firstStep, EndRule endRule);
    void ShowPicture(Travel travel);
    // Asks the cache for the pictures the next step in that direction shows.
    void readAhead(Travel travel);
    void openChosenFile();
    // Assigning a picture and centring the box on its new size: every show.
    void showInBox(const QImage &image);
    void writePanel1();
    void writePanel3();

    Module1 &m_module1;
    Form1 &m_form1;
    StatusBar &m_statusBar;
    const ErrorReport &m_report;
    PictureCache &m_cache;
    Patience &m_patience;
    bool m_tickBoxOpen = false;
};
