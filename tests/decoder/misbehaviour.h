#pragma once

// Built into the tests' decoder only. A file that starts with one of these
// markers makes the decoder misbehave instead of decoding it:
//   VELLUPIX-TEST crash   dies of a segmentation fault
//   VELLUPIX-TEST hang    never answers
//   VELLUPIX-TEST swell   allocates memory without end
//   VELLUPIX-TEST escape  tries to open a file, make a socket and a process,
//                         and make memory executable, and answers with what
//                         it was refused
//   VELLUPIX-TEST rewrite answers a 64 x 64 picture of two indexed colours,
//                         then keeps writing index 255 into its pixels

#include "platform/runtimeerror.h"

#include <QString>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

inline QString attempt(const char *what, int result, int error)
{
    if (result >= 0)
        return QStringLiteral("%1 allowed").arg(QLatin1String(what));
    return QStringLiteral("%1 refused (%2)").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(error)));
}

inline void misbehaveOn(int fd)
{
    char head[32] = {};
    if (::pread(fd, head, sizeof head - 1, 0) <= 0)
        return;
    const auto marked = [&](const char *marker) { return std::strncmp(head, marker, std::strlen(marker)) == 0; };
    if (marked("VELLUPIX-TEST crash")) {
        // Not through a null pointer, which UBSan would catch first: the
        // first page, never mapped.
        volatile std::uintptr_t nowhere = 16;
        *reinterpret_cast<volatile int *>(nowhere) = 1;
    } else if (marked("VELLUPIX-TEST hang")) {
        for (;;) {
            const timespec second{1, 0};
            ::nanosleep(&second, nullptr);
        }
    } else if (marked("VELLUPIX-TEST swell")) {
        std::vector<char *> kept;
        for (;;) {
            char *block = new char[16 << 20];
            std::memset(block, 1, 16 << 20);
            kept.push_back(block);
        }
    } else if (marked("VELLUPIX-TEST escape")) {
        const int file = ::open("/etc/hostname", O_RDONLY | O_CLOEXEC);
        const int fileError = errno;
        const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int sockError = errno;
        const pid_t child = ::fork();
        const int childError = errno;
        if (child == 0)
            ::_exit(0);
        void *page = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        const int exec = page == MAP_FAILED ? -1 : ::mprotect(page, 4096, PROT_READ | PROT_EXEC);
        const int execError = errno;
        throw RuntimeError(attempt("open", file, fileError) + QStringLiteral("; ") + attempt("socket", sock, sockError)
                           + QStringLiteral("; ") + attempt("fork", child, childError) + QStringLiteral("; ")
                           + attempt("mprotect exec", exec, execError));
    }
}

inline bool rewritesAfterAnswering(int fd)
{
    char head[32] = {};
    return ::pread(fd, head, sizeof head - 1, 0) > 0 && std::strncmp(head, "VELLUPIX-TEST rewrite", 21) == 0;
}

// For a while, as a decoder that was taken over could do for ever.
inline void keepRewriting(void *pixels, std::size_t bytes, unsigned char value)
{
    std::thread([=] {
        // Late enough that a viewer trusting the buffer has checked it first.
        const timespec late{0, 50'000'000};
        ::nanosleep(&late, nullptr);
        for (int i = 0; i < 400; ++i) {
            std::memset(pixels, value, bytes);
            const timespec pause{0, 5'000'000};
            ::nanosleep(&pause, nullptr);
        }
    }).detach();
}
