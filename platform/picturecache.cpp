#include "platform/picturecache.h"

#include "platform/runtimeerror.h"
#include "platform/windowwake.h"

#include <QRunnable>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <limits>

#include <unistd.h>

PictureCache::PictureCache(std::int64_t budgetBytes, int workers, Decoder decoder)
    : m_budget(budgetBytes), m_decoder(decoder ? std::move(decoder) : Decoder(&picture::LoadPicture))
{
    m_pool.setMaxThreadCount(std::max(1, workers));
    // Idle workers may go; a slide show keeps them busy anyway.
    m_pool.setExpiryTimeout(10000);
    m_windowPool.setMaxThreadCount(64);
    m_windowPool.setExpiryTimeout(10000);
}

PictureCache::~PictureCache()
{
    {
        std::lock_guard lock(m_mutex);
        m_wanted.clear();
        for (const EntryPtr &entry : std::as_const(m_entries)) {
            if (entry->state == Entry::State::Queued)
                entry->state = Entry::State::Ready; // a worker that gets to it leaves it
        }
    }
    m_pool.waitForDone();
    m_windowPool.waitForDone();
}

std::int64_t PictureCache::defaultBudgetBytes()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const std::int64_t gib = std::int64_t(1) << 30;
    if (pages <= 0 || pageSize <= 0)
        return gib / 4;
    return std::min(gib, std::int64_t(pages) * pageSize / 4);
}

int PictureCache::defaultWorkers()
{
    return std::max(1, QThread::idealThreadCount());
}

void PictureCache::read(Entry &entry)
{
    // Runs without the lock: decoding is the slow part and must not hold up
    // the window thread's questions about other files.
    picture::FileStamp stamp;
    try {
        entry.image = m_decoder(entry.path, &stamp);
        entry.failed = false;
    } catch (const RuntimeError &error) {
        entry.image = QImage();
        entry.error = error.description();
        entry.failed = true;
    } catch (const std::bad_alloc &) {
        // Whatever a decoder throws is that file's error: an entry must never
        // stay Running, nor a worker take the process down.
        entry.image = QImage();
        entry.error = QStringLiteral("There is not enough memory to load \u201c%1\u201d.").arg(picture::displayedName(entry.path));
        entry.failed = true;
    } catch (...) {
        entry.image = QImage();
        entry.error = QStringLiteral("The picture \u201c%1\u201d could not be loaded.").arg(picture::displayedName(entry.path));
        entry.failed = true;
    }
    entry.stamp = stamp;
    entry.bytes = entry.image.sizeInBytes();
}

void PictureCache::readUnlocked(std::unique_lock<std::mutex> &lock, const EntryPtr &entry)
{
    entry->state = Entry::State::Running;
    lock.unlock();
    read(*entry);
    lock.lock();
    entry->state = Entry::State::Ready;
    // Without a stamp nothing could tell later whether the result still holds.
    if (!entry->stamp.isValid() && m_entries.value(entry->path) == entry)
        m_entries.remove(entry->path);
    else
        makeCopiesLater(entry);
    m_changed.notify_all();
}

void PictureCache::makeCopiesLater(const EntryPtr &entry)
{
    if (entry->path != m_current || entry->copies || entry->copiesAsked || entry->failed
        || !ReducedCopies::worthMaking(entry->image) || entry->bytes + ReducedCopies::bytesFor(entry->image) > m_budget)
        return;
    ++m_pending;
    entry->copiesAsked = true;
    // Before reading further ahead: a zoom of the picture may wait for them.
    m_pool.start(QRunnable::create([this, entry] {
                     // Stepping on at key-repeat speed leaves each picture
                     // before its copies are done, or even begun: they give
                     // way to the decoding of the pictures ahead.
                     auto copies = std::make_shared<const ReducedCopies>(entry->image, [this, entry] {
                         std::lock_guard lock(m_mutex);
                         return entry->path == m_current;
                     });
                     std::unique_lock lock(m_mutex);
                     entry->copiesAsked = false;
                     --m_pending;
                     if (copies->stopped()) {
                         makeCopiesLater(entry); // stepped back to it meanwhile
                         m_changed.notify_all();
                         return;
                     }
                     entry->copies = std::move(copies);
                     entry->bytes += entry->copies->bytes();
                     std::vector<EntryPtr> evicted = trim();
                     m_changed.notify_all();
                     lock.unlock();
                 }),
                 std::numeric_limits<int>::max() - 1);
}

std::shared_ptr<const ReducedCopies> PictureCache::reducedCopies(const QByteArray &nativePath)
{
    static const auto none = std::make_shared<const ReducedCopies>();
    std::lock_guard lock(m_mutex);
    const EntryPtr entry = m_entries.value(nativePath);
    if (!entry || entry->state != Entry::State::Ready)
        return {};
    if (entry->copies)
        return entry->copies;
    return ReducedCopies::worthMaking(entry->image) ? none : nullptr;
}

QImage PictureCache::LoadPicture(const QByteArray &nativePath)
{
    if (nativePath.isEmpty() || nativePath.startsWith(":/"))
        return m_decoder(nativePath, nullptr);
    if (!m_wait)
        return loadHere(nativePath);
    return waitFor(nativePath, [this, nativePath] { return loadHere(nativePath); });
}

QImage PictureCache::LoadOwnPicture(const QByteArray &nativePath)
{
    if (!m_wait)
        return m_ownLoader(nativePath);
    return waitFor(nativePath, [loader = m_ownLoader, nativePath] { return loader(nativePath); });
}

QImage PictureCache::waitFor(const QByteArray &nativePath, std::function<QImage()> work)
{
    // Shared with the thread: a load given up on finishes into it alone.
    struct Job
    {
        std::atomic<bool> done{false};
        QImage image;
        bool failed = false;
        QString error;
    };
    auto job = std::make_shared<Job>();
    m_windowPool.start(QRunnable::create([job, nativePath, work = std::move(work)] {
        try {
            job->image = work();
        } catch (const RuntimeError &error) {
            job->failed = true;
            job->error = error.description();
        } catch (...) {
            job->failed = true;
            job->error = QStringLiteral("The picture \u201c%1\u201d could not be loaded.")
                             .arg(picture::displayedName(nativePath));
        }
        job->done = true;
        windowwake::notify();
    }));
    m_wait(picture::displayedName(nativePath), [job] { return job->done.load(); });
    if (job->failed)
        throw RuntimeError(job->error);
    return std::move(job->image);
}

QImage PictureCache::loadHere(const QByteArray &nativePath)
{
    std::unique_lock lock(m_mutex);
    m_current = nativePath;
    EntryPtr entry = m_entries.value(nativePath);
    if (entry && entry->state == Entry::State::Queued) {
        // Asked for before a worker got to it: no point waiting in line.
        readUnlocked(lock, entry);
        ++m_counters.decodedHere;
    } else if (entry && entry->state == Entry::State::Running) {
        ++m_counters.waited;
        m_changed.wait(lock, [&] { return entry->state == Entry::State::Ready; });
    } else if (entry) {
        ++m_counters.taken;
    }

    if (entry) {
        lock.unlock();
        // A file replaced, rewritten or deleted since it was read is read again,
        // so that what is shown and reported is always the file as it is now.
        const bool current = entry->stamp.isValid() && picture::stampOf(nativePath) == entry->stamp;
        lock.lock();
        if (!current) {
            if (m_entries.value(nativePath) == entry)
                m_entries.remove(nativePath);
            entry.reset();
        }
    }
    if (!entry) {
        entry = std::make_shared<Entry>();
        entry->path = nativePath;
        m_entries.insert(nativePath, entry);
        readUnlocked(lock, entry);
        ++m_counters.decodedHere;
    }
    entry->lastUse = ++m_clock;
    if (entry->state == Entry::State::Ready)
        makeCopiesLater(entry);
    std::vector<EntryPtr> evicted = trim();
    lock.unlock();
    if (!evicted.empty()) {
        // Giving back tens of megabytes takes milliseconds: not on the
        // window thread, between a command and its paint.
        m_pool.start(QRunnable::create([evicted = std::move(evicted)]() mutable { evicted.clear(); }),
                     std::numeric_limits<int>::max());
    }

    if (entry->failed)
        throw RuntimeError(entry->error);
    return entry->image;
}

void PictureCache::prefetch(const std::vector<QByteArray> &nativePaths)
{
    std::lock_guard lock(m_mutex);
    m_wanted = nativePaths;
    // Queued work for files no longer wanted is dropped; what is running
    // finishes and is kept if the budget allows.
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const EntryPtr &entry = it.value();
        if (entry->state == Entry::State::Queued
            && std::find(m_wanted.begin(), m_wanted.end(), it.key()) == m_wanted.end()) {
            entry->state = Entry::State::Ready; // the worker that gets to it leaves it
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
    int priority = int(nativePaths.size());
    for (const QByteArray &path : nativePaths) {
        --priority;
        if (path.isEmpty() || path.startsWith(":/") || m_entries.contains(path))
            continue;
        auto entry = std::make_shared<Entry>();
        entry->path = path;
        m_entries.insert(path, entry);
        ++m_pending;
        m_pool.start(QRunnable::create([this, entry] { readAhead(entry); }), priority);
    }
}

void PictureCache::readAhead(const EntryPtr &entry)
{
    std::unique_lock lock(m_mutex);
    if (entry->state != Entry::State::Queued) {
        // Dropped, or taken over by the window thread.
        --m_pending;
        m_changed.notify_all();
        return;
    }
    readUnlocked(lock, entry);
    entry->lastUse = ++m_clock;
    ++m_counters.decodedAhead;
    --m_pending;
    std::vector<EntryPtr> evicted = trim();
    lock.unlock(); // the evicted pictures are freed here, on the worker, unlocked
}

std::int64_t PictureCache::readyBytes() const
{
    std::int64_t total = 0;
    for (const EntryPtr &entry : m_entries) {
        if (entry->state == Entry::State::Ready)
            total += entry->bytes;
    }
    return total;
}

std::vector<PictureCache::EntryPtr> PictureCache::trim()
{
    std::vector<EntryPtr> evicted;
    // Least recently used first; the shown picture and the wanted ones go
    // last, and the shown one never (the box holds it anyway). Of the others
    // only the few last seen are kept even when the budget has room: going
    // back a step or two is common, a long way back is not, and memory the
    // process keeps touching anew costs more than decoding again.
    const auto isWanted = [&](const EntryPtr &entry) {
        return std::find(m_wanted.begin(), m_wanted.end(), entry->path) != m_wanted.end();
    };
    std::int64_t total = 0;
    int behind = 0;
    for (const EntryPtr &entry : std::as_const(m_entries)) {
        if (entry->state != Entry::State::Ready)
            continue;
        total += entry->bytes;
        if (entry->path != m_current && !isWanted(entry))
            ++behind;
    }
    while (total > m_budget || behind > kKeptBehind) {
        EntryPtr victim;
        bool victimWanted = true;
        for (const EntryPtr &entry : std::as_const(m_entries)) {
            if (entry->state != Entry::State::Ready || entry->path == m_current)
                continue;
            const bool wanted = isWanted(entry);
            if (!victim || (victimWanted && !wanted)
                || (wanted == victimWanted && entry->lastUse < victim->lastUse)) {
                victim = entry;
                victimWanted = wanted;
            }
        }
        if (!victim || (victimWanted && total <= m_budget))
            break;
        total -= victim->bytes;
        if (!victimWanted)
            --behind;
        m_entries.remove(victim->path);
        evicted.push_back(std::move(victim));
    }
    return evicted;
}

PictureCache::Counters PictureCache::counters() const
{
    std::lock_guard lock(m_mutex);
    return m_counters;
}

std::int64_t PictureCache::cachedBytes() const
{
    std::lock_guard lock(m_mutex);
    return readyBytes();
}

bool PictureCache::holds(const QByteArray &nativePath) const
{
    std::lock_guard lock(m_mutex);
    const EntryPtr entry = m_entries.value(nativePath);
    return entry && entry->state == Entry::State::Ready;
}

void PictureCache::waitForReadAhead()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_pending == 0; });
}

void PictureCache::clear()
{
    waitForReadAhead();
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_wanted.clear();
    m_current.clear();
}
