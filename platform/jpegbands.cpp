#include "platform/jpegbands.h"

#include "platform/jpegrows.h"

#include <QColorSpace>
#include <QString>
#include <QTransform>

#include <cstring>

extern "C" {
#include <jpeglib.h>
}

namespace jpegbands {

namespace {

struct Header : jpegrows::Header
{
    QByteArray icc;
    QStringList texts; // key, value, key, value...
};

// The header of bytes that start as a JPEG does, with the same texts and
// profile Qt's JPEG handler takes from the markers; false for any others, or
// a header libjpeg rejects.
bool readJpegHeader(const QByteArray &bytes, Header *header)
{
    return jpegrows::readHeader(
        reinterpret_cast<const unsigned char *>(bytes.constData()), std::size_t(bytes.size()), header,
        [header](int marker, const unsigned char *data, unsigned length) {
            if (marker == JPEG_COM) {
                const QString s = QString::fromUtf8(reinterpret_cast<const char *>(data), length);
                const qsizetype index = s.indexOf(QLatin1String(": "));
                if (index == -1 || s.indexOf(QLatin1Char(' ')) < index)
                    header->texts << QStringLiteral("Description") << s;
                else
                    header->texts << s.left(index) << s.mid(index + 2);
            } else if (marker == JPEG_APP0 + 2 && length > 128 + 4 + 14 && std::memcmp(data, "ICC_PROFILE", 12) == 0) {
                header->icc.append(reinterpret_cast<const char *>(data) + 14, length - 14);
            }
        });
}

// Decodes a picture whose header was read, in bands; its pixels are
// CMYK bytes for four components.
QImage decodeIn(const QByteArray &bytes, const Header &header, int threads, qint64 maxBytes, Outcome &result,
                const std::function<QImage(QSize, QImage::Format)> &allocate);

} // namespace

bool suitable(const QByteArray &bytes)
{
    Header header;
    return readJpegHeader(bytes, &header) && header.suitable;
}

QImage decode(const QByteArray &bytes, int threads, qint64 maxBytes, Outcome *outcome,
              const std::function<QImage(QSize, QImage::Format)> &allocate)
{
    Outcome dummy;
    Outcome &result = outcome ? *outcome : dummy;
    result = Outcome::Unsuitable;
    Header header;
    if (!readJpegHeader(bytes, &header) || !header.suitable)
        return QImage();
    return decodeIn(bytes, header, threads, maxBytes, result, allocate);
}

QImage decodeCmyk(const QByteArray &bytes, int threads, qint64 maxBytes, bool *inverted)
{
    Outcome result = Outcome::Unsuitable;
    Header header;
    if (!readJpegHeader(bytes, &header) || !header.cmyk)
        return QImage();
    *inverted = header.inverted;
    return decodeIn(bytes, header, threads, maxBytes, result, {});
}

namespace {

QImage decodeIn(const QByteArray &bytes, const Header &header, int threads, qint64 maxBytes, Outcome &result,
                const std::function<QImage(QSize, QImage::Format)> &allocate)
{
    if (qint64(header.width) * header.height * 4 > maxBytes)
        return QImage();
    const QSize size(header.width, header.height);
    const QImage::Format format = header.components == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB32;
    QImage image = allocate ? allocate(size, format) : QImage(size, format);
    if (image.isNull())
        return QImage();

    if (!jpegrows::decode(reinterpret_cast<const unsigned char *>(bytes.constData()), std::size_t(bytes.size()),
                          header, image.bits(), image.bytesPerLine(), threads)) {
        result = Outcome::Failed;
        return QImage();
    }

    applyDensity(image, header.densityUnit, header.xDensity, header.yDensity);
    for (qsizetype i = 0; i + 1 < header.texts.size(); i += 2)
        image.setText(header.texts.at(i), header.texts.at(i + 1));
    if (!header.icc.isEmpty() && header.components != 4)
        image.setColorSpace(QColorSpace::fromIccProfile(header.icc));
    result = Outcome::Decoded;
    return image;
}

} // namespace

void applyDensity(QImage &image, int unit, int x, int y)
{
    if (unit == 1) {
        image.setDotsPerMeterX(int(100. * x / 2.54));
        image.setDotsPerMeterY(int(100. * y / 2.54));
    } else if (unit == 2) {
        image.setDotsPerMeterX(int(100. * x));
        image.setDotsPerMeterY(int(100. * y));
    }
}

QImage oriented(QImage image, QImageIOHandler::Transformations transformation)
{
    if (transformation == QImageIOHandler::TransformationNone)
        return image;
    if (transformation == QImageIOHandler::TransformationRotate270)
        return image.transformed(QTransform().rotate(270));
    image = std::move(image).mirrored(transformation & QImageIOHandler::TransformationMirror,
                                      transformation & QImageIOHandler::TransformationFlip);
    if (transformation & QImageIOHandler::TransformationRotate90)
        image = image.transformed(QTransform().rotate(90));
    return image;
}

} // namespace jpegbands
