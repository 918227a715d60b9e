#include "platform/windowwake.h"

#include <QCoreApplication>

#include <condition_variable>
#include <mutex>

namespace windowwake {

namespace {
std::mutex g_mutex;
std::condition_variable g_woken;
std::uint64_t g_count = 0;
} // namespace

std::uint64_t count()
{
    std::lock_guard lock(g_mutex);
    return g_count;
}

void notify()
{
    {
        std::lock_guard lock(g_mutex);
        ++g_count;
    }
    g_woken.notify_all();
    // A wait past its grace runs the event loop instead: an event wakes it.
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [] {}, Qt::QueuedConnection);
}

void waitFor(std::uint64_t seen, std::chrono::nanoseconds longest)
{
    std::unique_lock lock(g_mutex);
    g_woken.wait_for(lock, longest, [seen] { return g_count != seen; });
}

} // namespace windowwake
