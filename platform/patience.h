#pragma once

#include <QString>

#include <chrono>
#include <functional>

class Dialogs;
class QWidget;

// How the window thread waits for work it has handed to another thread: the
// window goes on painting, but no input is taken until the wait ends, so
// commands still run one at a time and in order. A long wait shows a busy
// pointer, then a box that lets the user give up.
class Patience
{
public:
    static constexpr std::chrono::milliseconds kBusyPointerAfter{300};
    static constexpr std::chrono::milliseconds kBoxAfter{1000};

    Patience(Dialogs &dialogs, QWidget *window) : m_dialogs(dialogs), m_window(window) { }

    // Returns once done() holds. Raises the run-time error "Reading “NAME”
    // was cancelled." when the user gives up; the work is then abandoned, not
    // waited for.
    void wait(const QString &name, const std::function<bool()> &done);
    // True while a wait is on: events that would start a command (the slide
    // show's tick) are dropped meanwhile.
    bool waiting() const { return m_waiting; }

    // From any thread: a wait looks at its done() again.
    static void wake();

private:
    Dialogs &m_dialogs;
    QWidget *m_window;
    bool m_waiting = false;
};
