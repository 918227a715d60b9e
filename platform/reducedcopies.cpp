#include "platform/reducedcopies.h"

#include <QColorSpace>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/mman.h>

namespace {

constexpr int kSmallestSide = 256;

int bytesPerPixel(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied:
        return 4;
    case QImage::Format_Grayscale8:
        return 1;
    default:
        return 0;
    }
}

// Whether the making goes on: asked now and then, by every thread of it.
struct Going
{
    const std::function<bool()> &goOn;
    std::atomic<bool> stopped{false};

    bool ask()
    {
        if (!stopped.load(std::memory_order_relaxed) && goOn && !goOn())
            stopped = true;
        return !stopped.load(std::memory_order_relaxed);
    }
};

// Rows [first, last) of the half: each pixel the mean of a 2 x 2 block,
// channel by channel; an odd last column or row is averaged with itself.
void halveRows(const QImage &source, uchar *halfBits, qsizetype halfBytesPerLine, int halfWidth, int first, int last,
               Going &going)
{
    const int bpp = bytesPerPixel(source.format());
    const int w = source.width(), h = source.height();
    const int pairs = std::min(halfWidth, w / 2);
    for (int y = first; y < last; ++y) {
        if ((y - first) % 32 == 0 && !going.ask())
            return;
        const uchar *r0 = source.constScanLine(std::min(2 * y, h - 1));
        const uchar *r1 = source.constScanLine(std::min(2 * y + 1, h - 1));
        uchar *out = halfBits + y * halfBytesPerLine;
        if (bpp == 4) {
            // Four channels at once: each in its own 16 bits, where the sum
            // of four samples and the rounding fit.
            const auto *a = reinterpret_cast<const quint32 *>(r0);
            const auto *b = reinterpret_cast<const quint32 *>(r1);
            auto *o = reinterpret_cast<quint32 *>(out);
            constexpr quint64 kLanes = 0x00FF00FF00FF00FFull;
            const auto spread = [](quint32 p) {
                return (quint64(p) | (quint64(p) << 24)) & kLanes; // lanes: b, r | g, a
            };
            for (int x = 0; x < pairs; ++x) {
                const quint64 sum = spread(a[2 * x]) + spread(a[2 * x + 1]) + spread(b[2 * x])
                    + spread(b[2 * x + 1]) + 0x0002000200020002ull;
                const quint64 mean = (sum >> 2) & kLanes;
                o[x] = quint32(mean | (mean >> 24));
            }
        } else {
            for (int x = 0; x < pairs; ++x) {
                const uchar *a = r0 + 2 * x * bpp, *b = r1 + 2 * x * bpp;
                for (int c = 0; c < bpp; ++c)
                    out[x * bpp + c] = uchar((a[c] + a[c + bpp] + b[c] + b[c + bpp] + 2) >> 2);
            }
        }
        for (int x = pairs; x < halfWidth; ++x) { // a picture one pixel wide
            const uchar *a = r0 + x * bpp, *b = r1 + x * bpp;
            for (int c = 0; c < bpp; ++c)
                out[x * bpp + c] = uchar((a[c] + b[c] + 1) >> 1);
        }
    }
}

// A copy's pixels in a mapping of their own. The allocator would keep tens
// of megabytes freed by a copy for its next requests, memory the budget no
// longer counts; unmapped, they go back to the system with the copy. (Not
// in huge pages: where the system compacts memory to find them, a copy
// took 150 ms instead of 40.)
QImage mappedImage(int width, int height, QImage::Format format)
{
    const qsizetype bytesPerLine = (qsizetype(width) * bytesPerPixel(format) + 3) / 4 * 4;
    const std::size_t bytes = std::size_t(bytesPerLine) * std::size_t(height);
    void *address = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address == MAP_FAILED)
        return QImage();
    struct Mapping
    {
        void *address;
        std::size_t bytes;
    };
    return QImage(
        static_cast<uchar *>(address), width, height, bytesPerLine, format,
        [](void *info) {
            const auto *mapping = static_cast<Mapping *>(info);
            ::munmap(mapping->address, mapping->bytes);
            delete mapping;
        },
        new Mapping{address, bytes});
}

// The first halving reads the whole giant picture: both cores share it.
QImage halve(const QImage &source, Going &going)
{
    QImage half = mappedImage(std::max(1, source.width() / 2), std::max(1, source.height() / 2), source.format());
    if (half.isNull())
        return half;
    const int rows = half.height();
    // Taken once: scanLine() on several threads would race in detach().
    uchar *bits = half.bits();
    const qsizetype bytesPerLine = half.bytesPerLine();
    const int helpers = std::int64_t(half.width()) * rows >= (std::int64_t(4) << 20)
        ? std::clamp(int(std::thread::hardware_concurrency()), 1, 8) - 1
        : 0;
    std::vector<std::thread> threads;
    for (int k = 1; k <= helpers; ++k) {
        const int first = rows * k / (helpers + 1), last = rows * (k + 1) / (helpers + 1);
        try {
            threads.emplace_back(halveRows, std::cref(source), bits, bytesPerLine, half.width(), first, last,
                                 std::ref(going));
        } catch (const std::system_error &) {
            halveRows(source, bits, bytesPerLine, half.width(), first, last, going);
        }
    }
    halveRows(source, bits, bytesPerLine, half.width(), 0, rows / (helpers + 1), going);
    for (std::thread &t : threads)
        t.join();
    if (going.stopped)
        return QImage();
    half.setColorSpace(source.colorSpace());
    return half;
}

} // namespace

bool ReducedCopies::worthMaking(const QImage &picture)
{
    return !picture.isNull() && std::int64_t(picture.width()) * picture.height() >= kFromPixels
        && bytesPerPixel(picture.format()) != 0;
}

std::int64_t ReducedCopies::bytesFor(const QImage &picture)
{
    std::int64_t total = 0;
    std::int64_t w = picture.width(), h = picture.height();
    const int bpp = bytesPerPixel(picture.format());
    while (std::max(w, h) > kSmallestSide && w > 1 && h > 1) {
        w = std::max<std::int64_t>(1, w / 2);
        h = std::max<std::int64_t>(1, h / 2);
        total += ((w * bpp + 3) & ~std::int64_t(3)) * h;
    }
    return total;
}

ReducedCopies::ReducedCopies(const QImage &picture, const std::function<bool()> &goOn) : m_size(picture.size())
{
    if (bytesPerPixel(picture.format()) == 0)
        return;
    Going going{goOn};
    QImage from = picture; // shared, not copied
    while (std::max(from.width(), from.height()) > kSmallestSide && from.width() > 1 && from.height() > 1) {
        from = halve(from, going);
        if (going.stopped) {
            m_stopped = true;
            m_copies.clear();
            return;
        }
        if (from.isNull())
            break; // out of memory: what was made still serves
        m_copies.push_back(from);
    }
}

ReducedCopies::Level ReducedCopies::atLeast(double scaleX, double scaleY) const
{
    Level best;
    for (const QImage &copy : m_copies) {
        const double fx = double(copy.width()) / m_size.width();
        const double fy = double(copy.height()) / m_size.height();
        // A hair of tolerance: a copy of 2999 pixels still serves a picture
        // of 5999 shown at half.
        if (fx < scaleX * 0.999 || fy < scaleY * 0.999)
            break;
        best = Level{&copy, fx, fy};
    }
    return best;
}

std::int64_t ReducedCopies::bytes() const
{
    std::int64_t total = 0;
    for (const QImage &copy : m_copies)
        total += copy.sizeInBytes();
    return total;
}
