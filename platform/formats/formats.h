#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>

class QIODevice;

// The program's own image-format plugins: HEIF through libheif, AVIF through
// libavif (libheif reads its container), JPEG XL through libjxl, camera raw
// files through libraw. They are Qt image plugins like Qt's own, so
// QImageReader finds them by a file's content.
namespace formats {

// Makes the plugins known to QImageReader. Once per process, before the
// first picture is read; later calls do nothing. Only the decoding program
// (and the tests and benchmark that decode in-process) link the plugins:
// their libraries would add a third to the viewer's own start.
void registerPlugins();

// The format a file has to be read as when Qt's own choice would be the
// wrong one or slow to make, else empty. Qt asks the system's plugins before
// ours, and its TIFF reader claims every raw file built on TIFF, only to give
// a black box.
QByteArray formatToInsistOn(QIODevice *device);

// A handler's account of why its last read failed, in the decoder's words,
// for the error report; kept per thread, as each read runs on one thread.
void setFailureReason(const QString &reason);
QString takeFailureReason();

// Where a plugin puts the picture it decodes, when it knows the size and
// format of the result before writing a pixel: the memory the loader hands
// on without a copy (a decoder's shared buffer) when it gave one for this
// read, else a new image. The loader sets it around one read on this thread.
using PixelStore = std::function<QImage(QSize size, QImage::Format format)>;
class PixelStoreForRead
{
public:
    explicit PixelStoreForRead(const PixelStore &store);
    ~PixelStoreForRead();
    PixelStoreForRead(const PixelStoreForRead &) = delete;
    PixelStoreForRead &operator=(const PixelStoreForRead &) = delete;

private:
    const PixelStore *m_previous;
};
QImage newPicture(QSize size, QImage::Format format);

// The whole file behind a device, for decoders that want it in memory.
// Empty when it cannot be read or holds more than the loader would ever
// decode from (a hostile file's size is not an allocation to trust).
QByteArray readWhole(QIODevice *device);

// Whether a file's first bytes are those of a camera raw file libraw reads
// (in rawplugin.cpp).
bool looksLikeRaw(QIODevice *device);

} // namespace formats
