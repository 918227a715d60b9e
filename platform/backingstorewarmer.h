#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <thread>

class QWidget;

// The first paint of a window writes every page of its backing store, a
// fresh image of the window's size, and the first write to each page traps:
// a page fault, and on virtual machines that shadow the guest's page tables
// a second, dearer trap to the host, which populating the pages in the
// kernel does not spare. At full screen that is 5 to 20 ms on the window
// thread, in the way of the first picture. A thread takes those traps
// meanwhile: it populates the pages and reads a byte of each. Whatever it
// has not reached when the window is first exposed, resized or hidden is
// left to the paint: the thread is stopped and waited for there, so that it
// never reads pixels being painted, nor memory being freed.
class BackingStoreWarmer : public QObject
{
public:
    // After the window's final size is set: makes its native window and its
    // backing store. afterChunk, for tests, runs on the thread after each
    // part it has mapped.
    explicit BackingStoreWarmer(QWidget &window, std::function<void()> afterChunk = {});
    ~BackingStoreWarmer() override;

    bool running() const { return m_thread.joinable(); }
    // Asked of afterChunk: whether the thread has been told to stop.
    bool stopping() const { return m_stop.load(std::memory_order_relaxed); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void stop();

    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
