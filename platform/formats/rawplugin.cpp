// Camera raw files through libraw: the camera's own full-size preview when
// it stored one, which is what the camera showed and costs a JPEG decode;
// else the sensor data developed with the camera's white balance.
#define QT_STATICPLUGIN

#include "platform/formats/formats.h"
#include "platform/jpegrows.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImage>
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QImageReader>
#include <QThread>
#include <QTransform>
#include <QVariant>

#include <libraw/libraw.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// libraw's own object, for what its C interface keeps to itself: the
// developed picture written as 32-bit pixels into memory we give, on every
// core, rather than made as a 24-bit copy to be widened and copied again.
class Developer : public LibRaw
{
public:
    using LibRaw::LibRaw;

    // What copy_mem_image does, to the letter, but four bytes a pixel (B, G,
    // R, opaque alpha, as QImage::Format_RGB32 lies in memory on a
    // little-endian machine) into the given image, of the size
    // get_mem_image_format gives. Only for 8-bit, three-colour output.
    bool writeRgb32(QImage &image)
    {
        if (Q_BYTE_ORDER != Q_LITTLE_ENDIAN || imgdata.idata.colors != 3 || imgdata.params.output_bps != 8
            || !imgdata.image)
            return false;
        setOutputCurve();
        const auto &sizes = imgdata.sizes;
        const int sensorHeight = sizes.height, sensorWidth = sizes.width, flip = sizes.flip;
        const int height = flip & 4 ? sensorWidth : sensorHeight, width = flip & 4 ? sensorHeight : sensorWidth;
        if (image.height() != height || image.width() != width || image.format() != QImage::Format_RGB32)
            return false;
        // Where the pixel at (row, col) of the upright picture lies in libraw's image.
        const auto index = [&](int row, int col) {
            if (flip & 4)
                std::swap(row, col);
            if (flip & 2)
                row = sensorHeight - 1 - row;
            if (flip & 1)
                col = sensorWidth - 1 - col;
            return std::ptrdiff_t(row) * sensorWidth + col;
        };
        const std::ptrdiff_t colStep = index(0, 1) - index(0, 0);
        const ushort(*pixels)[4] = imgdata.image;
        const ushort *curve = imgdata.color.curve;
        uchar *bits = image.bits();
        const qsizetype stride = image.bytesPerLine();
        const auto rows = [&](int top, int bottom) {
            jpegrows::prefault(bits + top * stride, std::size_t(bottom - top) * std::size_t(stride));
            for (int row = top; row < bottom; ++row) {
                auto *out = reinterpret_cast<quint32 *>(bits + row * stride);
                std::ptrdiff_t at = index(row, 0);
                for (int col = 0; col < width; ++col, at += colStep) {
                    const ushort *p = pixels[at];
                    out[col] = 0xff000000u | quint32(curve[p[0]] >> 8) << 16 | quint32(curve[p[1]] >> 8) << 8
                               | quint32(curve[p[2]] >> 8);
                }
            }
        };
        const int cores = std::clamp(QThread::idealThreadCount(), 1, 16);
        std::vector<std::thread> helpers;
        for (int band = 1; band < cores; ++band) {
            try {
                helpers.emplace_back(rows, height * band / cores, height * (band + 1) / cores);
            } catch (const std::system_error &) {
                rows(height * band / cores, height * (band + 1) / cores); // no thread to be had
            }
        }
        rows(0, height / cores);
        for (std::thread &helper : helpers)
            helper.join();
        return true;
    }

private:
    // The output curve with the white point of the picture's histogram.
    void setOutputCurve()
    {
        const auto &options = imgdata.params;
        const auto histogram = libraw_internal_data.output_data.histogram;
        if (!histogram)
            return;
        int t_white = 0x2000;
        int perc = imgdata.sizes.width * imgdata.sizes.height * options.auto_bright_thr;
        if (libraw_internal_data.internal_output_params.fuji_width)
            perc /= 2;
        if (!((options.highlight & ~2) || options.no_auto_bright)) {
            t_white = 0;
            for (int c = 0; c < imgdata.idata.colors; c++) {
                int val = 0x2000;
                for (int total = 0; --val > 32;) {
                    if ((total += histogram[c][val]) > perc)
                        break;
                }
                if (t_white < val)
                    t_white = val;
            }
        }
        gamma_curve(options.gamm[0], options.gamm[1], 2, (t_white << 3) / options.bright);
    }
};

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
        auto *developer = new (std::nothrow)
            Developer(LIBRAW_OPIONS_NO_MEMERR_CALLBACK | LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
        if (!developer)
            return false;
        m_developer = developer;
        m_raw = &developer->imgdata; // libraw_close deletes the object behind it
        const int error = libraw_open_buffer(m_raw, m_data.data(), size_t(m_data.size()));
        if (error != LIBRAW_SUCCESS) {
            formats::setFailureReason(QString::fromUtf8(libraw_strerror(error)));
            libraw_close(m_raw);
            m_raw = nullptr;
            m_developer = nullptr;
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
        if (error == LIBRAW_SUCCESS) {
            int width = 0, height = 0, colors = 0, bits = 0;
            m_developer->get_mem_image_format(&width, &height, &colors, &bits);
            QImage image = formats::newPicture(QSize(width, height), QImage::Format_RGB32);
            if (!image.isNull() && m_developer->writeRgb32(image)) {
                image.setColorSpace(QColorSpace::SRgb);
                return image;
            }
        }
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
    mutable Developer *m_developer = nullptr; // the object behind m_raw
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
