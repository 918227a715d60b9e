#include "platform/decoderprotocol.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

namespace decoderprotocol {

ssize_t sendWithFds(int socket, const void *data, std::size_t size, const int *fds, int count)
{
    iovec io{const_cast<void *>(data), size};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxFds)];
    count = std::clamp(count, 0, kMaxFds);
    if (count > 0) {
        std::memset(control, 0, sizeof control);
        msg.msg_control = control;
        msg.msg_controllen = CMSG_SPACE(sizeof(int) * std::size_t(count));
        cmsghdr *c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * std::size_t(count));
        std::memcpy(CMSG_DATA(c), fds, sizeof(int) * std::size_t(count));
    }
    ssize_t n;
    do
        n = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
}

ssize_t sendWithFd(int socket, const void *data, std::size_t size, int fd)
{
    return sendWithFds(socket, data, size, &fd, fd >= 0 ? 1 : 0);
}

ssize_t receiveWithFds(int socket, void *data, std::size_t capacity, int *fds, int count)
{
    count = std::clamp(count, 1, kMaxFds);
    std::fill(fds, fds + count, -1);
    iovec io{data, capacity};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxFds)];
    msg.msg_control = control;
    msg.msg_controllen = CMSG_SPACE(sizeof(int) * std::size_t(count));
    ssize_t n;
    do
        n = ::recvmsg(socket, &msg, MSG_CMSG_CLOEXEC);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return n;
    int received = 0;
    bool excess = false;
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t inside = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < inside; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
            if (received < count) {
                fds[received++] = fd;
            } else {
                ::close(fd);
                excess = true;
            }
        }
    }
    if (excess || (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC))) {
        // A message that did not fit is not trusted in part.
        for (int i = 0; i < received; ++i)
            ::close(fds[i]);
        std::fill(fds, fds + count, -1);
        errno = EMSGSIZE;
        return -1;
    }
    return n;
}

ssize_t receiveWithFd(int socket, void *data, std::size_t capacity, int *fd)
{
    return receiveWithFds(socket, data, capacity, fd, 1);
}

} // namespace decoderprotocol
