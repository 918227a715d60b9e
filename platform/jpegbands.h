#pragma once

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>

#include <cstddef>
#include <functional>

// A baseline JPEG decoded in horizontal bands, one thread each, with exactly
// the pixels and metadata Qt's own JPEG reader gives. Every band's thread
// entropy-decodes the rows above its band without turning them into pixels
// (libjpeg-turbo's jpeg_skip_scanlines), which is far cheaper than the
// inverse transform, colour conversion and upsampling it leaves out.
namespace jpegbands {

enum class Outcome {
    Decoded,
    // Progressive, arithmetic-coded, CMYK/YCCK, more than 8 bits, unusual
    // sampling or a header libjpeg rejects: Qt's reader takes it as before.
    Unsuitable,
    // libjpeg raised an error while decoding: Qt's reader reads it again, so
    // that the error report is exactly the one it always gave.
    Failed,
};

// Decodes a whole JPEG file held in memory on up to `threads` threads.
// Gives a picture without the EXIF orientation applied (as Qt's handler
// gives it to QImageReader), with the colour space, texts and resolution
// Qt's handler would set. Pictures over `maxBytes` decoded are Unsuitable.
// Thread-safe; no global state.
// `allocate`, when given, provides the picture to decode into (of the size
// and format asked): a decoder process's shared buffer.
QImage decode(const QByteArray &bytes, int threads, qint64 maxBytes, Outcome *outcome = nullptr,
              const std::function<QImage(QSize, QImage::Format)> &allocate = {});

// A CMYK or YCCK JPEG (baseline or extended, 8 bits), decoded in bands
// into four bytes a pixel, C, M, Y, K, held in an RGB32 picture's memory: for
// turning into colours with the file's own CMYK profile, which Qt 6.4 cannot
// do. *inverted says whether the file stores 255 minus the ink, as Adobe's
// do. Null for any other JPEG, or on any error.
QImage decodeCmyk(const QByteArray &bytes, int threads, qint64 maxBytes, bool *inverted);

// Whether the bytes are a JPEG this decoder would take (read from the header
// alone); for the benchmark, which says which path a file takes.
bool suitable(const QByteArray &bytes);

// Has the kernel give the memory under a range its pages in one go, before
// it is written: page by page, a 12-MP picture's shared buffer costs some
// tens of milliseconds of faults. Bands do it each for their own rows, so
// that the cost is shared among the cores. Does nothing where the kernel
// cannot (before Linux 5.14).
void prefault(void *begin, std::size_t bytes);

// Applies an EXIF orientation the way QImageReader's auto-transform does.
QImage oriented(QImage image, QImageIOHandler::Transformations transformation);

} // namespace jpegbands
