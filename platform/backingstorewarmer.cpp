#include "platform/backingstorewarmer.h"

#include "platform/jpegrows.h"

#include <QBackingStore>
#include <QEvent>
#include <QImage>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdint>
#include <system_error>

#include <unistd.h>

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
    const std::uintptr_t end = start + std::uintptr_t(image->sizeInBytes());
    handle->installEventFilter(this);
    try {
        m_thread = std::thread([this, start, end, page, afterChunk = std::move(afterChunk)] {
            // In parts, so that a stop waits for one part at most.
            for (std::uintptr_t at = start; at < end && !m_stop.load(std::memory_order_relaxed);) {
                const std::uintptr_t to = std::min(end, (at / page + 64) * page);
                jpegrows::prefaultAndRead(reinterpret_cast<void *>(at), to - at);
                at = to;
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
