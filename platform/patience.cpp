#include "platform/patience.h"

#include "platform/dialogs.h"
#include "platform/runtimeerror.h"
#include "platform/windowwake.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QTimer>

void Patience::wake()
{
    windowwake::notify();
}

static QString verb(Patience::Activity activity)
{
    return activity == Patience::Activity::Writing ? QStringLiteral("Writing") : QStringLiteral("Reading");
}

QString Patience::unexpectedFailure(const QString &name, Activity activity)
{
    return QStringLiteral("%1 \u201c%2\u201d failed.").arg(verb(activity), name);
}

void Patience::wait(const QString &name, const std::function<bool()> &done, Activity activity,
                    const std::function<bool()> &giveUp)
{
    // Work that ends at once, as a local folder's nearly always does, is
    // waited for here: the loop below would first paint whatever is pending,
    // and a window just shown would be painted twice, without and with what
    // the command puts in it.
    // The work's thread wakes this one when it is done; a wait that some
    // work forgets to end still looks again every millisecond.
    QElapsedTimer grace;
    grace.start();
    for (;;) {
        const std::uint64_t seen = windowwake::count();
        if (done())
            return;
        const auto left = std::chrono::nanoseconds(m_grace) - std::chrono::nanoseconds(grace.nsecsElapsed());
        if (left <= std::chrono::nanoseconds::zero())
            break;
        windowwake::waitFor(seen, std::min<std::chrono::nanoseconds>(left, std::chrono::milliseconds(1)));
    }
    struct Guard
    {
        Patience &patience;
        bool busy = false;
        explicit Guard(Patience &p) : patience(p) { patience.m_waiting = true; }
        ~Guard()
        {
            patience.m_waiting = false;
            if (busy)
                QApplication::restoreOverrideCursor();
        }
    } guard(*this);

    QElapsedTimer clock;
    clock.start();
    // Wakes the loop for the pointer and the box when nothing else does.
    QTimer beat;
    beat.start(50);
    while (!done()) {
        const auto elapsed = std::chrono::milliseconds(clock.elapsed());
        if (!guard.busy && elapsed >= kBusyPointerAfter) {
            QApplication::setOverrideCursor(Qt::BusyCursor);
            guard.busy = true;
        }
        if (elapsed >= kBoxAfter) {
            const QString prompt = QStringLiteral("%1 \u201c%2\u201d\u2026").arg(verb(activity), name);
            if (m_dialogs.ShowWaiting(m_window, prompt, done) && (!giveUp || giveUp()))
                throw RuntimeError(QStringLiteral("%1 \u201c%2\u201d was cancelled.").arg(verb(activity), name));
            continue;
        }
        // Input stays queued and runs after the command, in order.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    }
}
