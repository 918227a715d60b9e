#pragma once

#include <cstddef>
#include <cstdint>

#include <sys/types.h>

// What the viewer and a decoding process say to each other over their
// socket (sequenced packets: one message, one datagram). The viewer sends a
// Request with the open picture file attached, and perhaps a dropped
// picture's memfd to write into (Request::spare); the decoder answers with a
// Reply, attaching a memfd sealed against shrinking that holds the pixels
// followed by the picture's other properties, or followed by the error's
// description. The decoder may still hold the memfd writable: the viewer
// copies what it reads from there before it relies on it.
namespace decoderprotocol {

// Where the decoder finds its end of the socket.
constexpr int kSocketFd = 3;
constexpr std::uint32_t kMagic = 0x56504458; // "VPDX"

struct Hello
{
    std::uint32_t magic = kMagic;
    std::uint32_t confinement = 0; // kSeccomp | kLandlock
};
constexpr std::uint32_t kSeccomp = 1;
constexpr std::uint32_t kLandlock = 2;

struct Request
{
    std::uint32_t magic = kMagic;
    std::uint32_t nameBytes = 0; // UTF-8, follows
    std::uint32_t own = 0;       // 1: the file's own pixels, for saving, not the display's
    std::uint32_t cores = 0;     // the cores it may decode on; 0: as many as are idle
    std::uint32_t windowStarting = 0; // 1: the viewer builds its window on one of them meanwhile
    // 1: a second descriptor follows the file's, the memfd of a picture the
    // viewer has dropped. The decoder may write the picture into it when it
    // is large enough: its pages are not allocated again.
    std::uint32_t spare = 0;
};

// What follows a Reply's pixels: Qt's properties (encodeProperties), or a
// JPEG's JFIF resolution alone from a decoder that has no Qt. A Reply that
// is not ok may instead say the decoder declines the picture: another
// decoder is to take it.
constexpr std::int32_t kQtProperties = 0;
constexpr std::int32_t kJfifDensity = 1;
constexpr std::int32_t kDeclined = 2;
struct JfifDensity
{
    std::int32_t unit = 0; // 1: dots per inch, 2: per centimetre
    std::int32_t x = 0;
    std::int32_t y = 0;
};
// QImage's formats, for a decoder without Qt.
constexpr std::int32_t kFormatRgb32 = 4;
constexpr std::int32_t kFormatGrayscale8 = 24;

// The launcher's first decode (app/firstdecode.h) is not asked for its
// picture: it is started with it. Its first message says whether it takes
// it, and which file it read; only a request for that file gets the
// picture. A Hello follows when it does.
struct Started
{
    std::uint32_t magic = kMagic;
    std::uint32_t taken = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;
    std::int64_t modifiedNs = 0;
};

struct Reply
{
    std::uint32_t magic = kMagic;
    std::uint32_t ok = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t format = 0;
    std::int32_t kind = kQtProperties; // of the extra bytes; or kDeclined
    std::int64_t bytesPerLine = 0;
    std::uint64_t pixelBytes = 0;  // in the memfd, from its start
    std::uint64_t extraBytes = 0;  // right after the pixels
    std::uint32_t errorBytes = 0;  // UTF-8, follows, when not ok
};

// A message with at most kMaxFds descriptors (one, for the ...WithFd
// pair). Sending never raises SIGPIPE. Both return what sendmsg/recvmsg
// return; received descriptors are close-on-exec, -1 where none came. A
// message with more descriptors than asked for is refused whole.
constexpr int kMaxFds = 2;
ssize_t sendWithFds(int socket, const void *data, std::size_t size, const int *fds, int count);
ssize_t receiveWithFds(int socket, void *data, std::size_t capacity, int *fds, int count);
ssize_t sendWithFd(int socket, const void *data, std::size_t size, int fd);
ssize_t receiveWithFd(int socket, void *data, std::size_t capacity, int *fd);

} // namespace decoderprotocol
