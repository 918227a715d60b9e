#pragma once

#include "platform/errorreport.h"
#include "browse/module1.h"

#include <QByteArray>
#include <QImage>

#include <chrono>
#include <cstdint>

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
    // The same for an absolute path byte for byte as the file system has it.
    void Open_File(const QByteArray &nativePath);
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

    // Next Picture's step, shared by the slide show's tick: one on, past the
    // last entry back to the first, and the entry there shown.
    void stepToNext();
    void ShowPicture(Travel travel);
    // Asks the cache for the pictures the next step in that direction shows;
    // further ahead while the user steps quickly one way.
    void readAhead(Travel travel);
    // Notes a step for the pace of stepping; Open starts afresh.
    void noteStep(Travel travel);
    // nativePath, when given, is the chosen file's own bytes. Reads ahead at
    // once, or once the picture window has painted the picture (the file the
    // viewer was started with).
    void openChosenFile(const QByteArray &nativePath = {}, bool readAheadAfterPaint = false);
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

    // The pace of the last steps: how many in a row went one way, each soon
    // after the one before.
    Travel m_lastTravel = Travel::Forward;
    int m_quickSteps = 0;
    std::chrono::steady_clock::time_point m_lastStep;
    std::int64_t m_shownBytes = 0; // of the last picture shown, to size reading ahead
};
