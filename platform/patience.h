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
    // Work on a thread of its own, begun by start() and waited for by
    // finish(); until then the window thread may do something of its own.
    template <typename Result>
    struct Trip
    {
        std::atomic<bool> done{false};
        std::optional<std::conditional_t<std::is_void_v<Result>, bool, Result>> result;
        std::optional<QString> error;
    };
    template <typename Work>
    static auto start(const QString &name, Work work, Activity activity = Activity::Reading)
        -> std::shared_ptr<Trip<decltype(work())>>;
    // Waits for the trip as wait() does; its result or its run-time error is
    // the caller's. Given up on, or never finished, the work ends alone, so
    // it must own everything it touches.
    template <typename Result>
    Result finish(const QString &name, const std::shared_ptr<Trip<Result>> &trip,
                  Activity activity = Activity::Reading, const std::function<bool()> &giveUp = {});
    // Both at once.
    template <typename Work>
    auto run(const QString &name, Work work, Activity activity = Activity::Reading,
             const std::function<bool()> &giveUp = {}) -> decltype(work())
    {
        return finish(name, start(name, std::move(work), activity), activity, giveUp);
    }

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
auto Patience::start(const QString &name, Work work, Activity activity) -> std::shared_ptr<Trip<decltype(work())>>
{
    using Result = decltype(work());
    auto trip = std::make_shared<Trip<Result>>();
    std::thread([trip, name, activity, work = std::move(work)]() mutable {
        try {
            if constexpr (std::is_void_v<Result>) {
                work();
                trip->result.emplace(true);
            } else {
                trip->result.emplace(work());
            }
        } catch (const RuntimeError &error) {
            trip->error = error.description();
        } catch (...) {
            trip->error = unexpectedFailure(name, activity);
        }
        trip->done = true;
        wake();
    }).detach();
    return trip;
}

template <typename Result>
Result Patience::finish(const QString &name, const std::shared_ptr<Trip<Result>> &trip, Activity activity,
                        const std::function<bool()> &giveUp)
{
    wait(name, [trip] { return trip->done.load(); }, activity, giveUp);
    if (trip->error)
        throw RuntimeError(*trip->error);
    if constexpr (!std::is_void_v<Result>)
        return std::move(*trip->result);
}
