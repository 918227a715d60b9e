#pragma once

#include "platform/picture.h"
#include "platform/reducedcopies.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QString>
#include <QThreadPool>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Where the commands get their pictures from. It reads ahead on worker
// threads what the user is likely to ask for next and keeps what was read
// within a byte budget, yet every answer is the one a load on the spot would
// give: the same picture, or the same error raised when the file is asked
// for, never before. A file whose stamp changed since it was read is read
// again.
class PictureCache
{
public:
    // Reads a file and gives its stamp; the platform's loader unless a test
    // wants to hold or count decodes.
    using Decoder = std::function<QImage(const QByteArray &nativePath, picture::FileStamp *stamp)>;

    explicit PictureCache(std::int64_t budgetBytes = defaultBudgetBytes(), int workers = defaultWorkers(),
                          Decoder decoder = {});
    // Waits for the workers: none may outlive the cache it writes into.
    ~PictureCache();

    PictureCache(const PictureCache &) = delete;
    PictureCache &operator=(const PictureCache &) = delete;

    // Same results and errors as the platform's picture loader. Takes a
    // picture read ahead, waits for one being read, and reads it here
    // otherwise.
    QImage LoadPicture(const QByteArray &nativePath);
    // The file's own pixels with its own colour space, not the display's,
    // for saving; read afresh, waited for as LoadPicture waits.
    QImage LoadOwnPicture(const QByteArray &nativePath);
    using OwnLoader = std::function<QImage(const QByteArray &nativePath)>;
    void setOwnLoader(OwnLoader loader) { m_ownLoader = std::move(loader); }

    // Halves, quarters… of a giant picture given out by LoadPicture, made on
    // a worker right after it was read. While they are being made, or when
    // the budget has no room for them, no copies: a zoom never waits, and
    // paints only what is in view. Null for pictures too small to need them.
    std::shared_ptr<const ReducedCopies> reducedCopies(const QByteArray &nativePath);

    // How the window thread waits: given, LoadPicture does its work (the
    // file's stamp, the decoding, waiting for a worker) on a thread of its
    // own and waits through this for it to be done; it may raise the
    // run-time error to give up, and the work is then left to finish alone.
    using Wait = std::function<void(const QString &name, const std::function<bool()> &done)>;
    void setWait(Wait wait) { m_wait = std::move(wait); }

    // The files worth reading ahead now, most wanted first. Reading ahead of
    // earlier wishes that has not started yet is dropped.
    void prefetch(const std::vector<QByteArray> &nativePaths);

    // A quarter of the physical memory, at most 1 GiB.
    static std::int64_t defaultBudgetBytes();
    // One per core: the window thread mostly waits while a worker decodes.
    static int defaultWorkers();

    struct Counters
    {
        int decodedHere = 0;  // read on the caller's thread
        int decodedAhead = 0; // read by a worker
        int taken = 0;        // answered from what was read ahead or kept
        int waited = 0;       // answered after waiting for a worker
    };
    Counters counters() const;
    std::int64_t cachedBytes() const;
    std::int64_t budgetBytes() const { return m_budget; }
    bool holds(const QByteArray &nativePath) const; // read and kept, whatever its result
    // Until no reading ahead is queued or running.
    void waitForReadAhead();
    // Forgets everything kept: the next load of any file is cold.
    void clear();

    // Pictures kept besides the shown and the wanted ones.
    static constexpr int kKeptBehind = 3;

private:
    struct Entry
    {
        enum class State { Queued, Running, Ready };
        QByteArray path;
        State state = State::Queued;
        QImage image;
        QString error; // the run-time error's description when reading failed
        bool failed = false;
        picture::FileStamp stamp;
        std::int64_t bytes = 0; // the picture and its copies
        std::uint64_t lastUse = 0;
        std::shared_ptr<const ReducedCopies> copies;
        bool copiesAsked = false; // their making is queued or running
    };
    using EntryPtr = std::shared_ptr<Entry>;

    QImage loadHere(const QByteArray &nativePath);
    // Runs work on a thread of its own and waits for it through m_wait.
    QImage waitFor(const QByteArray &nativePath, std::function<QImage()> work);
    void read(Entry &entry);
    // Reads the entry with the lock let go meanwhile, then wakes its waiters.
    void readUnlocked(std::unique_lock<std::mutex> &lock, const EntryPtr &entry);
    void readAhead(const EntryPtr &entry);
    // Starts making the entry's reduced copies on a worker, when worth it
    // and while it is the window's picture: one merely read ahead may be
    // stepped over, and stepping quickly over 24-MP pictures, their copies
    // took a quarter of the processor time.
    void makeCopiesLater(const EntryPtr &entry);
    // Drops what the budget and the few kept behind leave no room for, and
    // gives it to the caller to free outside the lock.
    std::vector<EntryPtr> trim();
    std::int64_t readyBytes() const;

    const std::int64_t m_budget;
    const Decoder m_decoder;
    OwnLoader m_ownLoader = &picture::LoadOwnPicture;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QHash<QByteArray, EntryPtr> m_entries;
    std::vector<QByteArray> m_wanted;
    QByteArray m_current; // the last file given out: kept while it is shown
    std::uint64_t m_clock = 0;
    int m_pending = 0;
    Counters m_counters;

    Wait m_wait;

    QThreadPool m_pool;
    // The window's own loads: never queued behind reading ahead that is
    // stuck on a file system that stopped answering.
    QThreadPool m_windowPool;
};
