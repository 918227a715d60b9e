#pragma once

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>

#include <functional>

// A baseline JPEG decoded in horizontal bands, one thread each (see
// platform/jpegrows.h), with exactly the pixels and metadata Qt's own JPEG
// reader gives.
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

// Gives the picture the resolution of a JFIF header (unit 1: dots per
// inch, 2: per centimetre), as Qt's JPEG handler does; other units leave it.
void applyDensity(QImage &image, int unit, int x, int y);

// Applies an EXIF orientation the way QImageReader's auto-transform does.
QImage oriented(QImage image, QImageIOHandler::Transformations transformation);

} // namespace jpegbands
