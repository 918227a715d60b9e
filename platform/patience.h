#pragma once

#include <QString>

#include "platform/runtimeerror.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>

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
    // Waited without painting, for work that ends at once.
    static constexpr std::chrono::microseconds kGrace{3000};
    // The same, for the picture a window not yet painted opens with: painted
    // first without it, the window is painted twice, and the second frame
    // waits for the display to take the first.
    static constexpr std::chrono::microseconds kFirstFrameGrace{20000};

    // What the box says is being done to the file or folder NAME.
    enum class Activity { Reading, Writing };

    Patience(Dialogs &dialogs, QWidget *window) : m_dialogs(dialogs), m_window(window) { }

    // Returns once done() holds. Raises the run-time error "Reading “NAME”
    // was cancelled." (or "Writing …") when the user gives up; the work is
    // then abandoned, not waited for. giveUp, when given, is asked first: it
    // answers false when the work can no longer be given up on (a write that
    // is replacing its target), and the wait then goes on.
    void wait(const QString &name, const std::function<bool()> &done, Activity activity = Activity::Reading,
              const std::function<bool()> &giveUp = {});
    // Runs work on a thread of its own and waits for it as wait() does; its
    // result or its run-time error is the caller's. Given up on, the work
    // finishes alone, so it must own everything it touches.
    template <typename Work>
    auto run(const QString &name, Work work, Activity activity = Activity::Reading,
             const std::function<bool()> &giveUp = {}) -> decltype(work());

    // True while a wait is on: events that would start a command (the slide
    // show's tick) are dropped meanwhile.
    bool waiting() const { return m_waiting; }

    void setGrace(std::chrono::microseconds grace) { m_grace = grace; }

    // From any thread: a wait looks at its done() again.
    static void wake();

private:
    static QString unexpectedFailure(const QString &name, Activity activity);

    Dialogs &m_dialogs;
    QWidget *m_window;
    bool m_waiting = false;
    std::chrono::microseconds m_grace = kGrace;
};

template <typename Work>
auto Patience::run(const QString &name, Work work, Activity activity, const std::function<bool()> &giveUp)
    -> decltype(work())
{
    using Result = decltype(work());
    using Kept = std::conditional_t<std::is_void_v<Result>, bool, Result>;
    struct State
    {
        std::atomic<bool> done{false};
        std::optional<Kept> result;
        std::optional<QString> error;
    };
    auto state = std::make_shared<State>();
    std::thread([state, name, activity, work = std::move(work)]() mutable {
        try {
            if constexpr (std::is_void_v<Result>) {
                work();
                state->result.emplace(true);
            } else {
                state->result.emplace(work());
            }
        } catch (const RuntimeError &error) {
            state->error = error.description();
        } catch (...) {
            state->error = unexpectedFailure(name, activity);
        }
        state->done = true;
        wake();
    }).detach();
    wait(name, [state] { return state->done.load(); }, activity, giveUp);
    if (state->error)
        throw RuntimeError(*state->error);
    if constexpr (!std::is_void_v<Result>)
        return std::move(*state->result);
}
