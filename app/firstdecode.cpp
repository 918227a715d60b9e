#include "app/firstdecode.h"

#include "platform/decoderprotocol.h"
#include "platform/jpegrows.h"
#include "platform/sandbox.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <jpeglib.h>
}

namespace proto = decoderprotocol;

namespace firstdecode {

namespace {

unsigned read16(const unsigned char *p, bool little)
{
    return little ? unsigned(p[0] | p[1] << 8) : unsigned(p[0] << 8 | p[1]);
}

std::uint32_t read32(const unsigned char *p, bool little)
{
    return little ? std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24
                  : std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}

// The whole of a regular file, or false.
bool readWhole(const char *path, std::vector<unsigned char> &bytes, struct stat &st)
{
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && st.st_size <= kPictureBytes;
    if (ok) {
        try {
            bytes.resize(std::size_t(st.st_size));
        } catch (const std::bad_alloc &) {
            ok = false;
        }
    }
    std::size_t filled = 0;
    while (ok && filled < bytes.size()) {
        const ssize_t got = ::pread(fd, bytes.data() + filled, bytes.size() - filled, off_t(filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            ok = false;
        else
            filled += std::size_t(got);
    }
    ::close(fd);
    return ok;
}

// Whether the viewer's decoders would give this header's picture as it is
// stored, with no properties but its resolution.
bool plain(const std::vector<unsigned char> &bytes, jpegrows::Header &header)
{
    if (bytes.size() < 3 || bytes[0] != 0xFF || bytes[1] != 0xD8 || bytes[2] != 0xFF)
        return false;
    bool quiet = true;
    int app1 = 0;
    const bool read = jpegrows::readHeader(bytes.data(), bytes.size(), &header,
                                           [&](int marker, const unsigned char *data, unsigned length) {
        if (marker == JPEG_COM)
            quiet = false; // a text for the picture
        else if (marker == JPEG_APP0 + 2 && length >= 12 && std::memcmp(data, "ICC_PROFILE", 12) == 0)
            quiet = false; // a colour profile to convert from
        else if (marker == JPEG_APP0 + 1 && (++app1 > 1 || !exifUpright(data, length)))
            quiet = false; // turned, or anything that may say so
    });
    return read && quiet && header.suitable && (header.components == 1 || header.components == 3)
        && std::int64_t(header.width) * header.height * 4 <= kPictureBytes;
}

// As the viewer's decoders share out cores while its window starts: one
// fewer than there are for a picture of up to 8 MP, all for a larger one.
int coresFor(const jpegrows::Header &header)
{
    const std::int64_t pixels = std::int64_t(header.width) * header.height;
    if (pixels < (1 << 20))
        return 1;
    cpu_set_t set;
    const int cores = ::sched_getaffinity(0, sizeof set, &set) == 0 ? std::max(1, CPU_COUNT(&set)) : 1;
    return pixels <= 8 * (1 << 20) ? std::max(1, cores - 1) : cores;
}

void send(int socket, const void *message, std::size_t size, int fd = -1)
{
    if (proto::sendWithFd(socket, message, size, fd) != ssize_t(size))
        ::_exit(0); // the viewer is gone
}

[[noreturn]] void serve(int socket, const char *path)
{
    // Bounded before the file is read, as a decoder is before it reads.
    sandbox::limitAddressSpace(kAddressSpaceBytes);
    std::vector<unsigned char> bytes;
    struct stat st = {};
    jpegrows::Header header;
    proto::Started started;
    started.taken = readWhole(path, bytes, st) && plain(bytes, header);
    started.device = std::uint64_t(st.st_dev);
    started.inode = std::uint64_t(st.st_ino);
    started.size = std::int64_t(st.st_size);
    started.modifiedNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    send(socket, &started, sizeof started);
    if (!started.taken)
        ::_exit(0);

    const sandbox::Confinement confinement = sandbox::confine();
    proto::Hello hello;
    hello.confinement = (confinement.seccomp ? proto::kSeccomp : 0) | (confinement.landlock ? proto::kLandlock : 0);
    send(socket, &hello, sizeof hello);

    // Into shared memory, with the resolution after the pixels, as the
    // decoders answer.
    proto::Reply reply;
    reply.width = header.width;
    reply.height = header.height;
    const bool grey = header.components == 1;
    reply.format = grey ? proto::kFormatGrayscale8 : proto::kFormatRgb32;
    reply.bytesPerLine = grey ? (std::int64_t(header.width) + 3) / 4 * 4 : std::int64_t(header.width) * 4;
    reply.pixelBytes = std::uint64_t(reply.bytesPerLine) * std::uint64_t(header.height);
    reply.kind = proto::kJfifDensity;
    reply.extraBytes = sizeof(proto::JfifDensity);
    const std::size_t total = reply.pixelBytes + reply.extraBytes;
    const int memfd = ::memfd_create("vellupix-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    // Written, not mapped: see jpegrows::decodeToFile.
    bool decoded = memfd >= 0 && ::ftruncate(memfd, off_t(total)) == 0
        && jpegrows::decodeToFile(bytes.data(), bytes.size(), header, memfd, std::ptrdiff_t(reply.bytesPerLine),
                                  coresFor(header));
    if (decoded) {
        proto::JfifDensity density;
        density.unit = header.densityUnit;
        density.x = header.xDensity;
        density.y = header.yDensity;
        decoded = ::pwrite(memfd, &density, sizeof density, off_t(reply.pixelBytes)) == ssize_t(sizeof density)
            && ::fcntl(memfd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) == 0;
    }
    // Only a request for the very file read gets the picture; anything
    // else, or a picture libjpeg failed on, goes to another decoder, whose
    // report of the failure is the one the viewer always gives.
    std::vector<char> buffer(sizeof(proto::Request) + 65536);
    for (;;) {
        int fd = -1;
        const ssize_t n = proto::receiveWithFd(socket, buffer.data(), buffer.size(), &fd);
        if (n <= 0)
            ::_exit(0);
        struct stat asked = {};
        const bool same = fd >= 0 && ::fstat(fd, &asked) == 0 && asked.st_dev == st.st_dev && asked.st_ino == st.st_ino
            && asked.st_size == st.st_size && asked.st_mtim.tv_sec == st.st_mtim.tv_sec
            && asked.st_mtim.tv_nsec == st.st_mtim.tv_nsec;
        if (fd >= 0)
            ::close(fd);
        if (decoded && same) {
            reply.ok = 1;
            send(socket, &reply, sizeof reply, memfd);
            decoded = false; // given once
        } else {
            proto::Reply declined;
            declined.kind = proto::kDeclined;
            send(socket, &declined, sizeof declined);
        }
    }
}

} // namespace

bool exifUpright(const unsigned char *data, unsigned length)
{
    if (length < 6 + 8 || std::memcmp(data, "Exif\0\0", 6) != 0)
        return false;
    const unsigned char *tiff = data + 6;
    const std::size_t size = length - 6;
    bool little;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        little = true;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        little = false;
    else
        return false;
    if (read16(tiff + 2, little) != 42)
        return false;
    const std::size_t ifd = read32(tiff + 4, little);
    if (ifd < 8 || ifd + 2 > size)
        return false;
    const std::size_t entries = read16(tiff + ifd, little);
    if (ifd + 2 + entries * 12 > size)
        return false;
    bool named = false;
    for (std::size_t i = 0; i < entries; ++i) {
        const unsigned char *entry = tiff + ifd + 2 + i * 12;
        if (read16(entry, little) != 0x0112)
            continue;
        // A second orientation, or one that is not a single SHORT, could be
        // read either way.
        if (named || read16(entry + 2, little) != 3 || read32(entry + 4, little) != 1 || read16(entry + 8, little) != 1)
            return false;
        named = true;
    }
    return true;
}

int start(const char *path, pid_t *pid)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return -1;
    const pid_t parent = ::getpid();
    *pid = ::fork();
    if (*pid == 0) {
        // Killed with the viewer, which this process becomes.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
            ::_exit(0);
        ::close(ends[0]);
        ::prctl(PR_SET_NAME, "vellupix-first");
        sandbox::silenceStderr();
        serve(ends[1], path);
    }
    ::close(ends[1]);
    if (*pid < 0) {
        ::close(ends[0]);
        return -1;
    }
    ::fcntl(ends[0], F_SETFD, 0);
    return ends[0];
}

bool takeFromEnvironment(int *socket, pid_t *pid)
{
    const char *value = std::getenv(kVariable);
    if (!value)
        return false;
    long long fd = -1, process = -1;
    const bool read = std::sscanf(value, "%lld %lld", &fd, &process) == 2 && fd > STDERR_FILENO && fd < 65536
        && process > 0 && process < (1LL << 31);
    ::unsetenv(kVariable);
    if (!read)
        return false;
    *socket = int(fd);
    *pid = pid_t(process);
    return true;
}

} // namespace firstdecode
