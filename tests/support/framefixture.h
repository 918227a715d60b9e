#pragma once

#include "about/frmabout.h"
#include "app/mdiform1.h"
#include "browse/form1.h"
#include "view/panning.h"
#include "platform/statusbar.h"
#include "support/scripteddialogs.h"

#include <QDir>
#include <QTest>

#include <memory>

// A started frame whose dialogs and boxes are scripted.
struct FrameFixture
{
    ScriptedDialogs dialogs;
    std::unique_ptr<MDIForm1> frame;

    // Open moves the working directory; each test starts where the last began.
    const QString workingDirectory = QDir::currentPath();

    FrameFixture()
    {
        frame = std::make_unique<MDIForm1>(dialogs);
        frame->Show();
        if (!QTest::qWaitForWindowExposed(frame.get()))
            qFatal("the frame was never shown");
    }

    ~FrameFixture() { QDir::setCurrent(workingDirectory); }

    QString panel(int n) const { return frame->StatusBar1()->panelText(n); }
    Form1 &form1() { return frame->form1(); }
    Module1 &module1() { return frame->module1(); }

    // Opens a file as if chosen in the Open dialog.
    void open(const QString &path)
    {
        dialogs.files.append(path);
        frame->Open_Click();
    }
    ScriptedDialogs::Box lastBox() const { return dialogs.boxes.isEmpty() ? ScriptedDialogs::Box{} : dialogs.boxes.last(); }
};
