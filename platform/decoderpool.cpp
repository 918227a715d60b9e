#include "platform/decoderpool.h"

#include "platform/colour.h"
#include "platform/decoderprotocol.h"
#include "platform/decoderproperties.h"
#include "platform/jpegbands.h"
#include "platform/runtimeerror.h"
#include "platform/sandbox.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <deque>
#include <optional>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace std::chrono;
namespace proto = decoderprotocol;

static_assert(proto::kFormatRgb32 == QImage::Format_RGB32 && proto::kFormatGrayscale8 == QImage::Format_Grayscale8);

namespace {

// The launcher's first decode does not take the picture it was asked for:
// another decoder is to.
struct Declined
{
};

constexpr std::size_t kStartPicturePopulated = std::size_t(8) << 22; // 8 MP of four bytes

std::mutex g_testingMutex;
std::optional<DecoderPool::Settings> g_testingSettings;

QString findProgram(const QString &name, const QString &built)
{
    // Beside the viewer: installed, both are in <prefix>/libexec/vellupix/;
    // built, in the build tree's root. Anything else (a test, the benchmark)
    // takes the one built. Asked of the kernel, not of Qt: the viewer starts
    // its first decoder before the application object exists.
    const QString here = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
    const QFileInfo beside(here + u'/' + name);
    return beside.isExecutable() ? beside.canonicalFilePath() : built;
}

// close_range is Linux 5.9's; on an older kernel, or under a filter that
// refuses it, what /proc lists is closed one by one.
void closeFrom(int lowest)
{
    if (::close_range(unsigned(lowest), ~0U, 0) == 0)
        return;
    std::vector<int> open;
    if (DIR *fds = ::opendir("/proc/self/fd")) {
        while (const dirent *entry = ::readdir(fds)) {
            const int fd = std::atoi(entry->d_name);
            if (fd >= lowest && fd != ::dirfd(fds))
                open.push_back(fd);
        }
        ::closedir(fds);
    }
    for (int fd : open)
        ::close(fd);
}

bool singleThreaded()
{
    struct stat task;
    return ::stat("/proc/self/task", &task) == 0 && task.st_nlink == 3; // ".", ".." and one thread
}

QString signalName(int sig)
{
    switch (sig) {
    case SIGSEGV: return QStringLiteral("segmentation fault");
    case SIGBUS: return QStringLiteral("bus error");
    case SIGABRT: return QStringLiteral("aborted");
    case SIGFPE: return QStringLiteral("arithmetic fault");
    case SIGILL: return QStringLiteral("illegal instruction");
    case SIGKILL: return QStringLiteral("killed");
    case SIGSYS: return QStringLiteral("forbidden system call");
    default: return QString::fromLocal8Bit(::strsignal(sig)).toLower();
    }
}

struct Mapping
{
    void *address;
    std::size_t size;
    int memfd = -1; // kept, to be offered to a decoder once the picture is dropped
};

// The last unmapping of a decoder's picture frees its memory, page by page:
// some ten milliseconds for a 12-MP picture, which the window thread would
// pay when a step drops the picture it showed. A thread of its own does it.
// Never ended nor destroyed: the process may end while it waits.
//
// The memfds of the last two dropped pictures are kept as spares, for a
// decoder to write its next picture into when it is about the same size:
// the kernel allocates and clears a new page in 2.7 us here, 32 ms of a
// 12-MP picture that takes libjpeg 85, and frees it again when the picture
// is dropped. Held unmapped, they are closed two seconds after the last
// picture was dropped, so that no more than two pictures' memory outlives
// its use while the viewer idles. A decoder that kept one mapped could
// write to the picture decoded into it later: colours only, as with its
// own pictures, since whatever could lead the viewer astray is copied.
class Unmapper
{
public:
    static constexpr std::size_t kSpares = 2;
    static constexpr std::chrono::seconds kSpareLife{2};

    static Unmapper &instance()
    {
        static Unmapper *unmapper = new Unmapper;
        return *unmapper;
    }
    void post(Mapping *mapping)
    {
        {
            std::lock_guard lock(m_mutex);
            m_mappings.push_back(mapping);
        }
        m_posted.notify_one();
    }
    // The most recently dropped picture's memfd, or -1; the caller's to close.
    int takeSpare()
    {
        std::lock_guard lock(m_mutex);
        if (m_spares.empty())
            return -1;
        const int fd = m_spares.back();
        m_spares.pop_back();
        return fd;
    }

private:
    Unmapper()
    {
        std::thread([this] {
            std::unique_lock lock(m_mutex);
            for (;;) {
                const auto posted = [this] { return !m_mappings.empty(); };
                if (m_spares.empty()) {
                    m_posted.wait(lock, posted);
                } else if (!m_posted.wait_for(lock, kSpareLife, posted)) {
                    for (const int fd : m_spares)
                        ::close(fd);
                    m_spares.clear();
                    continue;
                }
                Mapping *mapping = m_mappings.front();
                m_mappings.pop_front();
                // Spared before it is unmapped: nothing reads the picture
                // any more, and once it is unmapped it is there to be had.
                if (mapping->memfd >= 0 && sparable(mapping->memfd)) {
                    m_spares.push_back(mapping->memfd);
                    if (m_spares.size() > kSpares) {
                        ::close(m_spares.front());
                        m_spares.pop_front();
                    }
                } else if (mapping->memfd >= 0) {
                    ::close(mapping->memfd);
                }
                lock.unlock();
                ::munmap(mapping->address, mapping->size);
                delete mapping;
                lock.lock();
            }
        }).detach();
    }
    // Sealed against resizing and nothing more: a decoder can map it to
    // write. One that sealed its memfd against writing would otherwise
    // make the next picture fail.
    static bool sparable(int memfd)
    {
        const int seals = ::fcntl(memfd, F_GET_SEALS);
        return seals >= 0 && (seals & ~(F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL)) == 0;
    }

    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<Mapping *> m_mappings;
    std::deque<int> m_spares;
};

void unmap(void *info)
{
    Unmapper::instance().post(static_cast<Mapping *>(info));
}

std::atomic<bool> g_confinementReported{false};

// An indexed pixel past the end of its colour table (Qt's BMP decoder makes
// some from damaged files, a subverted decoder could make any) would be
// looked up beyond it by code that trusts the table: such a table is
// completed with opaque black, as Qt's own conversions do.
void completeColourTable(QImage &image)
{
    int needed = 0;
    if (image.format() == QImage::Format_Indexed8) {
        for (int y = 0; y < image.height(); ++y) {
            const uchar *line = image.constScanLine(y);
            for (int x = 0; x < image.width(); ++x)
                needed = std::max(needed, int(line[x]) + 1);
        }
    } else if (image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB) {
        needed = 2;
    }
    if (image.colorCount() < needed) {
        QList<QRgb> table = image.colorTable();
        table.resize(needed, qRgb(0, 0, 0));
        image.setColorTable(table);
    }
}

// Starts decoders, all from one thread that lives as long as the process.
// A decoder is told to die with the thread that started it (the kernel's
// notion of its parent), and the threads that ask for decodes come and go:
// a worker pool's idle thread ends after a while.
class Launcher
{
public:
    static Launcher &instance()
    {
        static Launcher *launcher = new Launcher; // never ends, never freed
        return *launcher;
    }

    // The decoder's pid, or -1 with errno set.
    pid_t launch(const char *program, char *const argv[], int childEnd)
    {
        Request request{program, argv, childEnd};
        std::unique_lock lock(m_mutex);
        m_queue.push_back(&request);
        m_wake.notify_all();
        m_wake.wait(lock, [&] { return request.done; });
        errno = request.error;
        return request.pid;
    }

private:
    struct Request
    {
        const char *program;
        char *const *argv;
        int childEnd;
        pid_t pid = -1;
        int error = 0;
        bool done = false;
    };

    Launcher()
    {
        std::thread([this] {
            std::unique_lock lock(m_mutex);
            for (;;) {
                m_wake.wait(lock, [&] { return !m_queue.empty(); });
                Request *request = m_queue.front();
                m_queue.pop_front();
                lock.unlock();
                request->pid = start(request->program, request->argv, request->childEnd, request->error);
                lock.lock();
                request->done = true;
                m_wake.notify_all();
            }
        }).detach();
    }

    static pid_t start(const char *program, char *const argv[], int childEnd, int &error)
    {
        const pid_t viewer = ::getpid();
        // The child shares this process's memory until it execs, so no
        // handler of ours may run in it: every signal stays blocked until
        // the child has put the handlers back to their defaults.
        sigset_t all, previous;
        sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &previous);
        volatile int execError = 0;
        const pid_t pid = ::vfork();
        if (pid == 0) {
            // System calls only from here on: nothing that allocates or
            // takes a lock another thread of the viewer may hold.
            for (int sig = 1; sig < NSIG; ++sig) {
                struct sigaction action;
                if (::sigaction(sig, nullptr, &action) == 0 && action.sa_handler != SIG_IGN
                    && action.sa_handler != SIG_DFL) {
                    action.sa_handler = SIG_DFL;
                    action.sa_flags = 0;
                    ::sigaction(sig, &action, nullptr);
                }
            }
            // A decoder outlives a viewer that crashed or was killed only
            // by being killed with it. The viewer may be gone already.
            if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != viewer)
                ::_exit(127);
            sigset_t none;
            sigemptyset(&none);
            if (::dup2(childEnd, proto::kSocketFd) < 0 || ::sigprocmask(SIG_SETMASK, &none, nullptr) != 0) {
                execError = errno;
                ::_exit(127);
            }
            ::execve(program, argv, environ);
            execError = errno;
            ::_exit(127);
        }
        error = pid < 0 ? errno : execError;
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (pid > 0 && error != 0) {
            ::waitpid(pid, nullptr, 0);
            return -1;
        }
        return pid;
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Request *> m_queue;
};

} // namespace

DecoderPool::Settings DecoderPool::defaultSettings()
{
    {
        std::lock_guard lock(g_testingMutex);
        if (g_testingSettings)
            return *g_testingSettings;
    }
    Settings settings;
    settings.program = findProgram(QStringLiteral("vellupix-decoder"), QStringLiteral(VELLUPIX_DECODER_BUILT));
    settings.leanProgram =
        findProgram(QStringLiteral("vellupix-decoder-lean"), QStringLiteral(VELLUPIX_LEAN_DECODER_BUILT));
    // Only a quicker start: where it is missing, the full program does.
    if (!QFileInfo(settings.leanProgram).isExecutable())
        settings.leanProgram.clear();
    settings.processes = std::max(1, QThread::idealThreadCount()) + 1;
    settings.deadline = kDeadline;
    settings.addressSpaceBytes = kAddressSpaceBytes;
    return settings;
}

void DecoderPool::setDefaultSettingsForTesting(const std::optional<Settings> &settings)
{
    std::lock_guard lock(g_testingMutex);
    g_testingSettings = settings;
}

DecoderPool::DecoderPool(Settings settings)
    : m_settings(std::move(settings)), m_processes(size_t(std::max(1, m_settings.processes)))
{
}

DecoderPool::~DecoderPool()
{
    killAll();
    {
        std::lock_guard tidying(m_tidierMutex);
        if (m_tidier.joinable())
            m_tidier.join();
    }
    std::lock_guard lock(m_mutex);
    for (Process &process : m_processes) {
        if (process.pid > 0)
            ::waitpid(process.pid, nullptr, WNOHANG);
        if (process.socket >= 0)
            ::close(process.socket);
    }
}

int DecoderPool::coresFree() const
{
    std::lock_guard lock(m_mutex);
    const int busy = int(std::count_if(m_processes.begin(), m_processes.end(), [](const Process &p) { return p.busy; }));
    // The caller's own decoder is counted busy already.
    return std::max(1, std::max(1, QThread::idealThreadCount()) - (busy - 1));
}

int DecoderPool::started() const
{
    std::lock_guard lock(m_mutex);
    return m_started;
}

void DecoderPool::start()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_ending)
            return;
        m_startWhenIdle = true;
        // Starting a decoder takes a core for some 30 ms: while a picture is
        // being decoded (the one named on the command line), that would come
        // out of its time. The rest start when it is done.
        if (std::any_of(m_processes.begin(), m_processes.end(), [](const Process &p) { return p.busy; }))
            return;
    }
    tidyBeside();
}

void DecoderPool::tidyBeside()
{
    // Starting processes and ending them takes milliseconds that neither the
    // window thread nor a picture just decoded need wait for.
    std::lock_guard tidying(m_tidierMutex);
    if (m_tidier.joinable())
        m_tidier.join();
    m_tidier = std::thread([this] { tidy(); });
}

void DecoderPool::restartIdle()
{
    std::lock_guard lock(m_mutex);
    for (Process &process : m_processes) {
        if (process.pid > 0 && !process.busy)
            finish(process, true);
    }
}

void DecoderPool::killAll()
{
    std::lock_guard lock(m_mutex);
    m_ending = true;
    for (Process &process : m_processes) {
        if (process.pid > 0)
            ::kill(process.pid, SIGKILL);
    }
    m_freed.notify_all();
}

bool DecoderPool::spawn(Process &process)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    // Kept away from the number it gets in the child, where dup2 onto itself
    // would leave it close-on-exec.
    const int childEnd = ::fcntl(ends[1], F_DUPFD_CLOEXEC, proto::kSocketFd + 1);
    ::close(ends[1]);

    const QByteArray program = QFile::encodeName(process.lean ? m_settings.leanProgram : m_settings.program);
    const QByteArray limit = "--address-space=" + QByteArray::number(qint64(m_settings.addressSpaceBytes));
    // The decoder converts to the monitor's colours itself; a profile too
    // large for an argument leaves it at sRGB.
    const QByteArray display = colour::displayProfile();
    const QByteArray profile = "--display-profile=" + display.toBase64();
    std::vector<char *> argv{const_cast<char *>(program.constData())};
    if (m_settings.addressSpaceBytes > 0)
        argv.push_back(const_cast<char *>(limit.constData()));
    if (!display.isEmpty() && profile.size() < 100000)
        argv.push_back(const_cast<char *>(profile.constData()));
    argv.push_back(nullptr);

    const pid_t pid = Launcher::instance().launch(program.constData(), argv.data(), childEnd);
    const int failed = pid < 0 ? errno : 0;
    ::close(childEnd);
    if (failed) {
        ::close(ends[0]);
        errno = failed;
        return false;
    }
    process.pid = pid;
    process.socket = ends[0];
    process.greeted = false;
    ++m_started;
    return true;
}

pid_t DecoderPool::forkLean(const QByteArray &nativePath, int (*serve)(int argc, char **argv))
{
    // A copy of a process with other threads could find a lock held by one
    // of them, and never taken back.
    if (!singleThreaded())
        return -1;
    // By its name: the file itself is read on a worker, as a folder that
    // stopped answering must not hold up the start. Where the name lies, a
    // full decoder takes the picture and the copy is retired unused.
    const qsizetype dot = nativePath.lastIndexOf('.');
    const QByteArray suffix = dot > nativePath.lastIndexOf('/') ? nativePath.mid(dot + 1).toLower() : QByteArray();
    if (suffix != "jpg" && suffix != "jpeg" && suffix != "jpe" && suffix != "jfif" && suffix != "png")
        return -1;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return -1;
    QByteArray name = QByteArrayLiteral("vellupix-decoder-lean");
    QByteArray limit = "--address-space=" + QByteArray::number(qint64(m_settings.addressSpaceBytes));
    std::vector<char *> argv{name.data()};
    if (m_settings.addressSpaceBytes > 0)
        argv.push_back(limit.data());
    argv.push_back(nullptr);

    const pid_t viewer = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // As a started decoder: killed with the viewer, holding nothing of
        // its but the socket.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != viewer
            || ::dup2(ends[1], proto::kSocketFd) < 0)
            ::_exit(127);
        closeFrom(proto::kSocketFd + 1);
        ::prctl(PR_SET_NAME, name.constData());
        ::_exit(serve(int(argv.size()) - 1, argv.data()));
    }
    ::close(ends[1]);
    if (pid < 0) {
        ::close(ends[0]);
        return -1;
    }
    std::lock_guard lock(m_mutex);
    Process &process = m_processes.front();
    process.pid = pid;
    process.socket = ends[0];
    process.greeted = false;
    process.lean = true;
    process.fresh = true;
    ++m_started;
    return pid;
}

bool DecoderPool::adoptFirstDecode(int socket, pid_t pid)
{
    ::fcntl(socket, F_SETFD, FD_CLOEXEC);
    // Only a socket pair this process made, before it became the viewer,
    // and a child of its that still runs: nothing else is ever killed here.
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.pid != ::getpid()
        || ::waitpid(pid, nullptr, WNOHANG) != 0) {
        ::close(socket);
        return false;
    }
    Process process;
    process.pid = pid;
    process.socket = socket;
    // It has read the file by now, unless its folder is slow to answer;
    // the viewer's own first decoder does not wait for that.
    pollfd ready{socket, POLLIN, 0};
    proto::Started started;
    int extra = -1;
    const bool said = ::poll(&ready, 1, 250) == 1
        && proto::receiveWithFd(socket, &started, sizeof started, &extra) == ssize_t(sizeof started)
        && started.magic == proto::kMagic;
    if (extra >= 0)
        ::close(extra);
    std::lock_guard lock(m_mutex);
    if (!said || !started.taken || m_processes.front().pid > 0) {
        finish(process, true);
        return false;
    }
    process.lean = true;
    process.fresh = true;
    process.only = picture::FileStamp{started.device, started.inode, started.size, started.modifiedNs};
    m_processes.front() = process;
    ++m_started;
    return true;
}

DecoderPool::Process *DecoderPool::acquire(bool leanEnough, const picture::FileStamp *file)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_ending)
            throw RuntimeError(QStringLiteral("The program is ending."));
        Process *free = nullptr;
        for (Process &process : m_processes) {
            // A lean one that has served its picture is being retired; a
            // fresh one waits for the first picture, if it can read it.
            if (process.busy || (process.lean && process.pid > 0 && !(process.fresh && leanEnough)))
                continue;
            if (process.only && process.pid > 0 && !(file && *file == *process.only))
                continue;
            // One already running is ready sooner than one to be started.
            if (!free || (free->pid < 0 && process.pid > 0))
                free = &process;
        }
        if (free) {
            // Whoever takes the first picture, a fresh decoder is fresh no
            // more: it is retired, used or not.
            for (Process &process : m_processes)
                process.fresh = false;
            if (free->pid < 0)
                free->lean = leanEnough && m_started == 0 && !m_settings.leanProgram.isEmpty();
            if (free->pid < 0 && !spawn(*free))
                throw RuntimeError(QStringLiteral("The decoding program \u201c%1\u201d cannot be started (%2).")
                                       .arg(m_settings.program, QString::fromLocal8Bit(std::strerror(errno))));
            free->busy = true;
            return free;
        }
        m_freed.wait(lock);
    }
}

void DecoderPool::release(Process *process)
{
    {
        std::lock_guard lock(m_mutex);
        // A decoder that died is replaced at once, so that its start overlaps
        // with whatever the viewer does next.
        if (process->pid < 0 && !m_ending) {
            process->lean = false;
            spawn(*process);
        }
        process->busy = false;
        m_freed.notify_one();
        // The lean decoder is retired, and the rest started, when the
        // next picture is asked for or the viewer says to start them: it
        // does once the first is on screen, and starting them before would
        // take the cores its paint needs.
        if (m_ending || !m_startWhenIdle)
            return;
    }
    tidyBeside();
}

bool DecoderPool::tidyDue() const
{
    std::lock_guard lock(m_mutex);
    return !m_ending && std::any_of(m_processes.begin(), m_processes.end(), [](const Process &p) {
        return p.lean && p.pid > 0 && !p.busy && !p.fresh;
    });
}

void DecoderPool::tidy()
{
    std::lock_guard lock(m_mutex);
    if (m_ending)
        return;
    for (Process &process : m_processes) {
        if (process.lean && process.pid > 0 && !process.busy) {
            finish(process, true);
            process.lean = false;
            spawn(process);
        }
    }
    if (m_startWhenIdle && std::none_of(m_processes.begin(), m_processes.end(), [](const Process &p) { return p.busy; })) {
        m_startWhenIdle = false;
        for (Process &process : m_processes) {
            if (process.pid < 0 && !process.busy)
                spawn(process);
        }
    }
    m_freed.notify_all();
}

QString DecoderPool::finish(Process &process, bool kill)
{
    if (kill)
        ::kill(process.pid, SIGKILL);
    int status = 0;
    pid_t reaped = 0;
    // A crashed decoder is gone or going; one that only closed its socket is
    // made to go. A process stuck in the kernel is left, not waited for.
    for (int i = 0; i < 50 && reaped == 0; ++i) {
        reaped = ::waitpid(process.pid, &status, WNOHANG);
        if (reaped == 0) {
            if (i == 10)
                ::kill(process.pid, SIGKILL);
            ::usleep(i < 10 ? 1000 : 10000);
        }
    }
    ::close(process.socket);
    process.socket = -1;
    process.pid = -1;
    process.greeted = false;
    process.only.reset();
    if (reaped <= 0)
        return QStringLiteral("it does not answer");
    if (WIFSIGNALED(status))
        return signalName(WTERMSIG(status));
    if (WIFEXITED(status))
        return QStringLiteral("it ended with code %1").arg(WEXITSTATUS(status));
    return QStringLiteral("it ended");
}

QImage DecoderPool::LoadPicture(const QByteArray &nativePath, picture::FileStamp *stamp)
{
    if (nativePath.isEmpty() || nativePath.startsWith(":/"))
        return picture::LoadPicture(nativePath, stamp);
    const int fd = picture::openPictureFile(nativePath, stamp);
    return decode(fd, picture::displayedName(nativePath));
}

QImage DecoderPool::LoadOwnPicture(const QByteArray &nativePath)
{
    const int fd = picture::openPictureFile(nativePath);
    return decode(fd, picture::displayedName(nativePath), true);
}

QImage DecoderPool::decode(int fd, const QString &name, bool own)
{
    // Only the first bytes, at an offset: the decoder reads from the start.
    // A JPEG or a PNG is what the lean decoder reads.
    char head[4] = {};
    const bool read = ::pread(fd, head, sizeof head, 0) == ssize_t(sizeof head);
    const bool leanEnough = read && (std::memcmp(head, "\xFF\xD8\xFF", 3) == 0 || std::memcmp(head, "\x89PNG", 4) == 0);
    if (tidyDue())
        tidyBeside();
    const picture::FileStamp file = picture::stampOfOpen(fd);
    Process *process = nullptr;
    try {
        process = acquire(leanEnough, file.isValid() ? &file : nullptr);
    } catch (...) {
        ::close(fd);
        throw;
    }
    // Kept for another decoder, should the launcher's first one decline.
    const int spare = process->only ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    QImage image;
    bool declined = false;
    {
        struct Releaser
        {
            DecoderPool *pool;
            Process *process;
            ~Releaser() { pool->release(process); }
        } releaser{this, process};
        try {
            image = roundTrip(*process, fd, name, own);
        } catch (const Declined &) {
            declined = true;
        } catch (...) {
            if (spare >= 0)
                ::close(spare);
            throw;
        }
    }
    if (!declined) {
        if (spare >= 0)
            ::close(spare);
        return image;
    }
    if (spare < 0)
        throw RuntimeError(QStringLiteral("The file \u201c%1\u201d cannot be read (%2).")
                               .arg(name, QString::fromLocal8Bit(std::strerror(EMFILE))));
    return decode(spare, name, own);
}

QImage DecoderPool::roundTrip(Process &process, int fd, const QString &name, bool own)
{
    auto deadline = steady_clock::now() + (process.greeted ? m_settings.deadline : kStartDeadline);
    const auto readable = [&] {
        for (;;) {
            const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
            if (left <= 0)
                return false;
            pollfd p{process.socket, POLLIN, 0};
            const int r = ::poll(&p, 1, int(std::min<long long>(left, INT_MAX)));
            if (r > 0)
                return true;
            if (r == 0)
                return false;
            if (errno != EINTR)
                return true; // the read that follows says what is wrong
        }
    };
    const auto tooLong = [&] {
        finish(process, true);
        return RuntimeError(QStringLiteral("The picture \u201c%1\u201d took too long to decode.").arg(name));
    };
    const auto stopped = [&] {
        // The launcher's first decode ending without an answer may have been
        // refused something its own start did not foresee: another decoder
        // tries, and reports the file if it fails on it too.
        if (process.only) {
            finish(process, true);
            throw Declined();
        }
        return RuntimeError(
            QStringLiteral("The decoder stopped on \u201c%1\u201d (%2).").arg(name, finish(process, false)));
    };
    const auto malformed = [&] {
        finish(process, true); // what it says can no longer be believed
        return RuntimeError(QStringLiteral("The decoder gave no usable answer for \u201c%1\u201d.").arg(name));
    };

    if (!process.greeted) {
        // Its first answer says it is ready and how it is confined.
        if (!readable()) {
            ::close(fd);
            throw tooLong();
        }
        proto::Hello hello;
        int extra = -1;
        const ssize_t n = proto::receiveWithFd(process.socket, &hello, sizeof hello, &extra);
        if (extra >= 0)
            ::close(extra);
        if (n != ssize_t(sizeof hello) || hello.magic != proto::kMagic) {
            ::close(fd);
            throw stopped();
        }
        process.greeted = true;
        deadline = steady_clock::now() + m_settings.deadline;
        sandbox::Confinement confinement;
        confinement.seccomp = hello.confinement & proto::kSeccomp;
        confinement.landlock = hello.confinement & proto::kLandlock;
        if (!confinement.missing().empty() && !g_confinementReported.exchange(true))
            std::fprintf(stderr, "vellupix: decoders run without full confinement on this system: %s.\n",
                         confinement.missing().c_str());
    }

    QByteArray request(sizeof(proto::Request), '\0');
    const QByteArray utf8 = name.toUtf8();
    proto::Request header;
    header.nameBytes = std::uint32_t(utf8.size());
    header.own = own ? 1 : 0;
    header.cores = std::uint32_t(coresFree());
    // The lean decoder serves the picture the viewer starts with.
    header.windowStarting = process.lean ? 1 : 0;
    // The launcher's first decode has its picture already.
    const int spare = process.only ? -1 : Unmapper::instance().takeSpare();
    header.spare = spare >= 0 ? 1 : 0;
    std::memcpy(request.data(), &header, sizeof header);
    request += utf8;
    const int fds[] = {fd, spare};
    const ssize_t sent = proto::sendWithFds(process.socket, request.constData(), size_t(request.size()), fds,
                                            spare >= 0 ? 2 : 1);
    ::close(fd);
    if (spare >= 0)
        ::close(spare);
    if (sent != ssize_t(request.size()))
        throw stopped();

    if (!readable())
        throw tooLong();
    std::vector<char> buffer(sizeof(proto::Reply) + 65536);
    int memfd = -1;
    const ssize_t n = proto::receiveWithFd(process.socket, buffer.data(), buffer.size(), &memfd);
    if (n == 0 || (n < 0 && errno != EMSGSIZE))
        throw stopped();
    proto::Reply reply;
    if (n < ssize_t(sizeof reply))
        throw malformed();
    std::memcpy(&reply, buffer.data(), sizeof reply);
    if (reply.magic != proto::kMagic)
        throw malformed();
    if (!reply.ok) {
        if (memfd >= 0)
            ::close(memfd);
        if (reply.kind == proto::kDeclined && process.only) {
            finish(process, true);
            throw Declined();
        }
        if (reply.errorBytes > size_t(n) - sizeof reply)
            throw malformed();
        throw RuntimeError(QString::fromUtf8(buffer.data() + sizeof reply, qsizetype(reply.errorBytes)));
    }

    // The answer is checked as anything from outside: a decoder that was
    // taken over could say anything.
    struct stat st;
    const std::int64_t maxPixelBytes = 4 * picture::kAllocationLimitBytes;
    const bool valid = memfd >= 0 && reply.width > 0 && reply.height > 0 && reply.format > QImage::Format_Invalid
        && reply.format < QImage::NImageFormats && reply.bytesPerLine > 0 && reply.bytesPerLine % 4 == 0
        && reply.bytesPerLine <= INT_MAX && reply.bytesPerLine * 8 / QImage::toPixelFormat(QImage::Format(reply.format)).bitsPerPixel() >= reply.width
        && std::int64_t(reply.pixelBytes) == reply.bytesPerLine * reply.height
        && std::int64_t(reply.pixelBytes) <= maxPixelBytes && reply.extraBytes <= (64u << 20)
        && ::fstat(memfd, &st) == 0 && std::uint64_t(st.st_size) >= reply.pixelBytes + reply.extraBytes
        && (::fcntl(memfd, F_GET_SEALS) & F_SEAL_SHRINK) == F_SEAL_SHRINK;
    if (!valid) {
        if (memfd >= 0)
            ::close(memfd);
        throw malformed();
    }
    const std::size_t total = reply.pixelBytes + reply.extraBytes;
    // Shared and read-only: the pages are the decoder's, not copied; the
    // image is marked read-only, so that anything that would write to it
    // makes its own copy first. Not populated: a picture larger than the
    // window only ever has its shown rows read, and a picture read ahead
    // and stepped over not even those.
    void *address = ::mmap(nullptr, total, PROT_READ, MAP_SHARED, memfd, 0);
    if (address == MAP_FAILED) {
        ::close(memfd);
        throw std::bad_alloc();
    }
    // Except the picture the viewer starts with, when it is decoded well
    // before the window is up (up to 8 MP): its pages are mapped here, on
    // the worker, rather than page by page as the first paint reads them,
    // which took that paint from about 2.1 ms to 1.25. By reading a byte of
    // each page: a fault maps the pages around it as well, where
    // MADV_POPULATE_READ maps one page at a time and took 1.7 ms for 4 MP
    // against 1.1. The memfd is sealed at no less than this size: no read
    // falls past its end.
    if (process.lean && total <= kStartPicturePopulated) {
        static const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
        const volatile unsigned char *bytes = static_cast<const unsigned char *>(address);
        for (std::size_t offset = 0; offset < total; offset += page)
            (void)bytes[offset];
    }
    auto *mapping = new Mapping{address, total, memfd};
    QImage image(static_cast<const uchar *>(address), reply.width, reply.height, qsizetype(reply.bytesPerLine),
                 QImage::Format(reply.format), unmap, mapping);
    if (image.isNull()) {
        unmap(mapping);
        throw malformed();
    }
    // The decoder may still write to the buffer (it unmaps it after it has
    // answered, off the window's wait): whatever could lead the viewer's
    // reading astray is copied before it is checked. The properties are;
    // so are pixels that index a colour table. Any other pixel is a colour.
    const QByteArray properties(static_cast<const char *>(address) + reply.pixelBytes, qsizetype(reply.extraBytes));
    if (reply.kind == proto::kJfifDensity && process.only) {
        // From the launcher's first decode, which has no Qt to say more.
        proto::JfifDensity density;
        if (properties.size() != qsizetype(sizeof density))
            throw malformed();
        std::memcpy(&density, properties.constData(), sizeof density);
        if (density.unit < 0 || density.unit > 2 || density.x < 0 || density.x > 65535 || density.y < 0
            || density.y > 65535)
            throw malformed();
        jpegbands::applyDensity(image, density.unit, density.x, density.y);
    } else if (!proto::decodeProperties(properties, image)) {
        throw malformed();
    }
    if (image.format() == QImage::Format_Indexed8)
        image = image.copy();
    completeColourTable(image);
    return image;
}
