#pragma once

#include <QString>

#include "platform/runtimeerror.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

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
    // Runs work on a thread of its own and waits for it as wait() does; its
    // result or its run-time error is the caller's. Given up on, the work
    // finishes alone, so it must own everything it touches.
    template <typename Work>
    auto run(const QString &name, Work work) -> decltype(work());

    // True while a wait is on: events that would start a command (the slide
    // show's tick) are dropped meanwhile.
    bool waiting() const { return m_waiting; }

    // From any thread: a wait looks at its done() again.
    static void wake();

private:
    static QString unexpectedFailure(const QString &name);

    Dialogs &m_dialogs;
    QWidget *m_window;
    bool m_waiting = false;
};

template <typename Work>
auto Patience::run(const QString &name, Work work) -> decltype(work())
{
    using Result = decltype(work());
    struct State
    {
        std::atomic<bool> done{false};
        std::optional<Result> result;
        std::optional<QString> error;
    };
    auto state = std::make_shared<State>();
    std::thread([state, name, work = std::move(work)]() mutable {
        try {
            state->result.emplace(work());
        } catch (const RuntimeError &error) {
            state->error = error.description();
        } catch (...) {
            state->error = unexpectedFailure(name);
        }
        state->done = true;
        wake();
    }).detach();
    wait(name, [state] { return state->done.load(); });
    if (state->error)
        throw RuntimeError(*state->error);
    return std::move(*state->result);
}
