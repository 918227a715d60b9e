// Camera raw files through libraw: the camera's own full-size preview when
// it stored one, which is what the camera showed and costs a JPEG decode;
// else the sensor data developed with the camera's white balance.
#define QT_STATICPLUGIN

#include "platform/formats/formats.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImage>
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QImageReader>
#include <QTransform>
#include <QVariant>

#include <libraw/libraw.h>

#include <cstring>
#include <memory>

namespace {

class RawHandler : public QImageIOHandler
{
public:
    ~RawHandler() override
    {
        if (m_raw)
            libraw_close(m_raw);
    }

    bool canRead() const override
    {
        if (!formats::looksLikeRaw(device()))
            return false;
        setFormat("raw");
        return true;
    }

    bool supportsOption(ImageOption option) const override { return option == Size; }

    QVariant option(ImageOption option) const override
    {
        if (option != Size || !open())
            return QVariant();
        const auto &sizes = m_raw->sizes;
        const bool turned = sizes.flip == 5 || sizes.flip == 6;
        return turned ? QSize(sizes.height, sizes.width) : QSize(sizes.width, sizes.height);
    }

    bool read(QImage *image) override
    {
        if (!open())
            return false;
        const auto &sizes = m_raw->sizes;
        const auto &thumbnail = m_raw->thumbnail;
        // A preview at least half the sensor's size (either way round) is
        // the camera's own rendering and far quicker than developing.
        const int longSensor = qMax(sizes.width, sizes.height), shortSensor = qMin(sizes.width, sizes.height);
        const int longPreview = qMax(thumbnail.twidth, thumbnail.theight);
        const int shortPreview = qMin(thumbnail.twidth, thumbnail.theight);
        QImage result;
        if (2 * longPreview >= longSensor && 2 * shortPreview >= shortSensor)
            result = preview();
        if (result.isNull())
            result = developed();
        if (result.isNull())
            return false;
        *image = result;
        return true;
    }

private:
    bool open() const
    {
        if (m_opened)
            return m_raw != nullptr;
        m_opened = true;
        m_data = formats::readWhole(device());
        if (m_data.isEmpty())
            return false;
        // No callbacks: libraw would print its complaints on stderr.
        m_raw = libraw_init(LIBRAW_OPIONS_NO_MEMERR_CALLBACK | LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
        if (!m_raw)
            return false;
        const int error = libraw_open_buffer(m_raw, m_data.data(), size_t(m_data.size()));
        if (error != LIBRAW_SUCCESS) {
            formats::setFailureReason(QString::fromUtf8(libraw_strerror(error)));
            libraw_close(m_raw);
            m_raw = nullptr;
            return false;
        }
        return true;
    }

    QImage oriented(const QImage &image) const
    {
        switch (m_raw->sizes.flip) {
        case 3:
            return image.transformed(QTransform().rotate(180));
        case 5:
            return image.transformed(QTransform().rotate(-90));
        case 6:
            return image.transformed(QTransform().rotate(90));
        default:
            return image;
        }
    }

    QImage preview() const
    {
        if (libraw_unpack_thumb(m_raw) != LIBRAW_SUCCESS)
            return QImage();
        int error = 0;
        // Known only once unpacked; a bitmap preview is left for developing.
        libraw_processed_image_t *jpeg = m_raw->thumbnail.tformat == LIBRAW_THUMBNAIL_JPEG
                                             ? libraw_dcraw_make_mem_thumb(m_raw, &error)
                                             : nullptr;
        if (!jpeg)
            return QImage();
        QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(jpeg->data), jpeg->data_size);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        // libraw's orientation is the one that counts; a preview's own tag
        // would be applied twice.
        QImageReader reader(&buffer, "jpeg");
        reader.setAutoTransform(false);
        QImage image;
        const bool ok = reader.read(&image);
        libraw_dcraw_clear_mem(jpeg);
        return ok ? oriented(image) : QImage();
    }

    QImage developed() const
    {
        m_raw->params.use_camera_wb = 1;
        m_raw->params.output_bps = 8;
        m_raw->params.output_color = 1; // sRGB
        int error = libraw_unpack(m_raw);
        if (error == LIBRAW_SUCCESS)
            error = libraw_dcraw_process(m_raw);
        libraw_processed_image_t *developed = error == LIBRAW_SUCCESS ? libraw_dcraw_make_mem_image(m_raw, &error)
                                                                      : nullptr;
        if (!developed) {
            formats::setFailureReason(QString::fromUtf8(libraw_strerror(error)));
            return QImage();
        }
        QImage image;
        if (developed->type == LIBRAW_IMAGE_BITMAP && developed->colors == 3 && developed->bits == 8
            && std::size_t(developed->width) * developed->height * 3 <= developed->data_size) {
            // Already turned by libraw's own processing.
            image = QImage(developed->data, developed->width, developed->height, developed->width * 3,
                           QImage::Format_RGB888)
                        .convertToFormat(QImage::Format_RGB32);
            image.setColorSpace(QColorSpace::SRgb);
        } else {
            formats::setFailureReason(QStringLiteral("the developed picture has an unexpected layout"));
        }
        libraw_dcraw_clear_mem(developed);
        return image;
    }

    mutable QByteArray m_data;
    mutable libraw_data_t *m_raw = nullptr;
    mutable bool m_opened = false;
};

} // namespace


class RawPlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "rawplugin.json")
public:
    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override
    {
        if (format == "raw")
            return CanRead;
        if (!format.isEmpty() || !device)
            return {};
        return formats::looksLikeRaw(device) ? Capabilities(CanRead) : Capabilities();
    }

    QImageIOHandler *create(QIODevice *device, const QByteArray &format) const override
    {
        auto *handler = new RawHandler;
        handler->setDevice(device);
        handler->setFormat(format);
        return handler;
    }
};

#include "rawplugin.moc"
