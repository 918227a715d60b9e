#include "platform/reducedcopies.h"

#include <QColorSpace>

#include <algorithm>

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

// Each pixel the mean of a 2 x 2 block, channel by channel; an odd last
// column or row is averaged with itself.
QImage halve(const QImage &source)
{
    const int bpp = bytesPerPixel(source.format());
    const int w = source.width(), h = source.height();
    QImage half(std::max(1, w / 2), std::max(1, h / 2), source.format());
    if (half.isNull())
        return half;
    for (int y = 0; y < half.height(); ++y) {
        const uchar *r0 = source.constScanLine(std::min(2 * y, h - 1));
        const uchar *r1 = source.constScanLine(std::min(2 * y + 1, h - 1));
        uchar *out = half.scanLine(y);
        const int pairs = std::min(half.width(), w / 2);
        for (int x = 0; x < pairs; ++x) {
            const uchar *a = r0 + 2 * x * bpp, *b = r1 + 2 * x * bpp;
            for (int c = 0; c < bpp; ++c)
                out[x * bpp + c] = uchar((a[c] + a[c + bpp] + b[c] + b[c + bpp] + 2) >> 2);
        }
        for (int x = pairs; x < half.width(); ++x) { // a picture one pixel wide
            const uchar *a = r0 + x * bpp, *b = r1 + x * bpp;
            for (int c = 0; c < bpp; ++c)
                out[x * bpp + c] = uchar((a[c] + b[c] + 1) >> 1);
        }
    }
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

ReducedCopies::ReducedCopies(const QImage &picture) : m_size(picture.size())
{
    if (bytesPerPixel(picture.format()) == 0)
        return;
    QImage from = picture; // shared, not copied
    while (std::max(from.width(), from.height()) > kSmallestSide && from.width() > 1 && from.height() > 1) {
        from = halve(from);
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
