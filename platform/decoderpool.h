#pragma once

#include "platform/picture.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <sys/types.h>

// Decoding in processes of their own. Files are opened here, by the viewer,
// and handed over open; each decoder has confined itself before it reads
// anything, may not grow past its address-space limit nor take longer than
// the deadline on a picture, and is replaced when it crashes or is killed.
// Whatever a decoder does, the caller gets a picture or a run-time error.
class DecoderPool
{
public:
    struct Settings
    {
        QString program;                    // the decoding program
        // The same for JPEG and PNG alone, ready sooner: the first decoder,
        // when the viewer starts with one of those, runs it. Empty: never.
        QString leanProgram;
        int processes = 1;
        std::chrono::milliseconds deadline; // per picture
        std::int64_t addressSpaceBytes = 0; // 0: no limit
    };
    static constexpr std::chrono::seconds kDeadline{15};
    // For a decoder to load its plugins and confine itself, before its first
    // picture's deadline starts.
    static constexpr std::chrono::seconds kStartDeadline{15};
    // A decoded picture may take the allocation limit, and turning it takes
    // a second copy, as does handing it over.
    static constexpr std::int64_t kAddressSpaceBytes = 2 * picture::kAllocationLimitBytes + (std::int64_t(1) << 30);

    // The decoding program installed beside the viewer (or built beside it),
    // one process per core and one for the window's own requests, which then
    // never queue behind reading ahead.
    static Settings defaultSettings();
    // For tests: what defaultSettings gives from now on (a misbehaving
    // decoder, a shorter deadline, a smaller limit).
    static void setDefaultSettingsForTesting(const std::optional<Settings> &settings);

    explicit DecoderPool(Settings settings = defaultSettings());
    // Kills every decoder; none is waited for beyond that.
    ~DecoderPool();

    DecoderPool(const DecoderPool &) = delete;
    DecoderPool &operator=(const DecoderPool &) = delete;

    // Starts the processes not running yet; loads start them when needed
    // anyway, this only saves the first picture the wait. Returns at once:
    // they are started on a thread of their own, after the decode that is
    // running, if any.
    void start();

    // As picture::LoadPicture, with the decoding in a decoder process; the
    // program's resources and the empty name are read here. Safe from any
    // thread; blocks until the answer or the deadline.
    QImage LoadPicture(const QByteArray &nativePath, picture::FileStamp *stamp = nullptr);
    // As picture::LoadOwnPicture, in a decoder process: for saving.
    QImage LoadOwnPicture(const QByteArray &nativePath);
    // Decodes an open file, which it takes over; own: the file's own pixels.
    QImage decode(int fd, const QString &name, bool own = false);

    // For the viewer's start, before it has made any thread: when the file
    // at nativePath is named as a JPEG or a PNG, forks this process into the
    // lean decoder, which runs `serve` (the lean program's work) and needs
    // nothing more loaded: the first picture is decoded some ten
    // milliseconds sooner. Its pid, or -1 when none was made: the first load
    // starts a decoder as usual then.
    pid_t forkLean(const QByteArray &nativePath, int (*serve)(int argc, char **argv));

    // For the viewer's start, before it has made any thread: takes the
    // launcher's first decode (app/firstdecode.h), its socket and pid, as
    // the first decoder, which only the picture it was started with may go
    // to. False when it does not take its picture, or does not say so in
    // time: it is ended then, and the socket closed.
    bool adoptFirstDecode(int socket, pid_t pid);

    // Ends the decoders that are idle; they start again when needed, with
    // what has changed meanwhile (the monitor's profile).
    void restartIdle();

    // Ends every decoder at once, for the end of the process.
    void killAll();

    const Settings &settings() const { return m_settings; }
    // Processes started so far, replacements included.
    int started() const;

private:
    struct Process
    {
        pid_t pid = -1;
        int socket = -1;
        bool busy = false;
        bool greeted = false; // its Hello was read
        // Runs the lean program for the one JPEG or PNG the viewer starts
        // with, and is replaced by a full decoder after it.
        bool lean = false;
        // Forked at the start and not yet asked for anything: only the
        // first picture asked for may go to it.
        bool fresh = false;
        // The launcher's first decode: it holds this file's picture, and
        // declines any other.
        std::optional<picture::FileStamp> only;
    };

    // The very first decoder, asked for a picture the lean program reads,
    // runs that program.
    // A decoder holding one file's picture is given only to that file.
    Process *acquire(bool leanEnough = false, const picture::FileStamp *file = nullptr);
    void release(Process *process);
    bool spawn(Process &process); // with m_mutex held
    // Kills and reaps a process, and says how it ended.
    QString finish(Process &process, bool kill);
    QImage roundTrip(Process &process, int fd, const QString &name, bool own);
    // Retires the lean decoder and starts the rest, on a thread of its
    // own (tidyBeside).
    void tidy();
    void tidyBeside();
    bool tidyDue() const;
    // The cores one more decode may take: those the other busy decoders
    // leave, at least one.
    int coresFree() const;

    const Settings m_settings;
    mutable std::mutex m_mutex;
    std::condition_variable m_freed;
    std::vector<Process> m_processes;
    int m_started = 0;
    bool m_startWhenIdle = false; // start() came while a decode was running
    std::mutex m_tidierMutex;
    std::thread m_tidier;
    bool m_ending = false;
};
