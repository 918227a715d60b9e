#include "platform/backingstorewarmer.h"

#include <QBackingStore>
#include <QEvent>
#include <QImage>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdint>
#include <system_error>

#include <sys/mman.h>
#include <unistd.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

BackingStoreWarmer::BackingStoreWarmer(QWidget &window, std::function<void()> afterChunk)
{
    window.winId();
    QBackingStore *store = window.backingStore();
    QWindow *handle = window.windowHandle();
    if (!store || !handle)
        return;
    if (store->size() != window.size())
        store->resize(window.size());
    QPaintDevice *device = store->paintDevice();
    if (!device || device->devType() != QInternal::Image)
        return;
    const auto *image = static_cast<const QImage *>(device);
    const auto start = reinterpret_cast<std::uintptr_t>(image->constBits());
    if (!start)
        return;
    const std::uintptr_t page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t first = start / page * page;
    const std::uintptr_t end = start + std::uintptr_t(image->sizeInBytes());
    handle->installEventFilter(this);
    try {
        m_thread = std::thread([this, start, first, end, page, afterChunk = std::move(afterChunk)] {
            // In parts, so that a stop waits for one part at most.
            const std::uintptr_t chunk = 64 * page;
            for (std::uintptr_t at = first; at < end && !m_stop.load(std::memory_order_relaxed); at += chunk) {
                const std::uintptr_t to = std::min(end, at + chunk);
                // Whole pages: the image's first and last may be shared with
                // other memory, which may not be written even with zeroes.
                const std::uintptr_t from = (at + page - 1) / page * page;
                const std::uintptr_t wholeTo = to / page * page;
                if (wholeTo > from)
                    ::madvise(reinterpret_cast<void *>(from), wholeTo - from, MADV_POPULATE_WRITE);
                for (std::uintptr_t p = std::max(at, start); p < to; p = (p / page + 1) * page)
                    (void)*reinterpret_cast<const volatile unsigned char *>(p);
                if (afterChunk)
                    afterChunk();
            }
        });
    } catch (const std::system_error &) {
        // No thread to be had: the paint takes the traps, as it would anyway.
    }
}

BackingStoreWarmer::~BackingStoreWarmer()
{
    stop();
}

bool BackingStoreWarmer::eventFilter(QObject *, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Expose:
    case QEvent::UpdateRequest:
    case QEvent::Resize:
    case QEvent::Hide:
    case QEvent::Close:
    case QEvent::PlatformSurface:
        stop();
        break;
    default:
        break;
    }
    return false;
}

void BackingStoreWarmer::stop()
{
    if (!m_thread.joinable())
        return;
    m_stop.store(true, std::memory_order_relaxed);
    m_thread.join();
}
