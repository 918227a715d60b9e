#include "platform/windowwake.h"

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
}

void waitFor(std::uint64_t seen, std::chrono::nanoseconds longest)
{
    std::unique_lock lock(g_mutex);
    g_woken.wait_for(lock, longest, [seen] { return g_count != seen; });
}

} // namespace windowwake
