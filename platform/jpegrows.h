#pragma once

#include <cstddef>
#include <functional>

// libjpeg's side of decoding a JPEG in horizontal bands, without Qt: the
// launcher decodes the picture it is started with before Qt is loaded.
// Every band's thread entropy-decodes the rows above its band without
// turning them into pixels (libjpeg-turbo's jpeg_skip_scanlines), which is
// far cheaper than the inverse transform, colour conversion and upsampling
// it leaves out.
namespace jpegrows {

struct Header
{
    bool ok = false;       // libjpeg read the header
    bool suitable = false; // baseline, 8 bits, grey or YCbCr/RGB with plain sampling
    int width = 0;
    int height = 0;
    int components = 0;
    int rowsPerGroup = 8; // output rows one iMCU row makes
    int densityUnit = 0;
    int xDensity = 0;
    int yDensity = 0;
    bool cmyk = false;     // four components, decodable as CMYK
    bool inverted = false; // Adobe's CMYK, stored as 255 minus the ink
};

// Every comment, APP1 and APP2 marker, in file order.
using MarkerVisitor = std::function<void(int marker, const unsigned char *data, unsigned length)>;

// Reads the header of bytes that start as a JPEG does; false for any
// others, or a header libjpeg rejects.
bool readHeader(const unsigned char *data, std::size_t size, Header *header, const MarkerVisitor &marker = {});

// Decodes every row into `bits`: four bytes a pixel (B, G, R, X in memory
// on a little-endian machine) for three components, one for grey, C, M, Y, K
// for four. On up to `threads` threads, each prefaulting its own rows.
// False on any libjpeg error.
bool decode(const unsigned char *data, std::size_t size, const Header &header, unsigned char *bits,
            std::ptrdiff_t bytesPerLine, int threads);

// As decode, but each row goes to `fd`, the row at y to offset
// y * bytesPerLine, from a buffer of a few rows that each thread reuses. The
// kernel then fills the file's pages itself. Written from here, each fresh
// page of a mapping traps, and on virtual machines that shadow the guest's
// page tables traps twice: there, a 4-MP picture decoded straight into
// fresh shared memory took 55 ms, against 30 ms this way. False on any
// libjpeg error or failed write.
bool decodeToFile(const unsigned char *data, std::size_t size, const Header &header, int fd,
                  std::ptrdiff_t bytesPerLine, int threads);

// Has the kernel give the memory under a range its pages in one go, before
// it is written: page by page, a 12-MP picture's shared buffer costs some
// tens of milliseconds of faults. Bands do it each for their own rows, so
// that the cost is shared among the cores. Does nothing where the kernel
// cannot (before Linux 5.14).
void prefault(void *begin, std::size_t bytes);

// Prefaults the range, then reads a byte of each of its pages: for a thread
// that maps memory which another thread of the process writes later. On
// virtual machines that shadow the guest's page tables, the first access to
// a page from the process traps to the host even once the kernel has
// populated it: 9 ms for 8 MB here. The read takes that trap on this thread.
void prefaultAndRead(void *begin, std::size_t bytes);

} // namespace jpegrows
