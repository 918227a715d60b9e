// HEIF still pictures through libheif, which applies the file's rotation and
// mirroring itself (libde265 for HEIC). AVIF goes to libavif directly: the
// AV1 still-picture library decodes on every core and converts to RGB about
// twice as fast as libheif's way to the same codec.
#define QT_STATICPLUGIN

#include "platform/colour.h"
#include "platform/formats/formats.h"
#include "platform/jpegrows.h"

#include <QColorSpace>
#include <QImage>
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QVariant>

#include <QThread>
#include <QTransform>

#include <avif/avif.h>
#include <libheif/heif.h>

#include <algorithm>

#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

QByteArray heifFormat(QIODevice *device)
{
    const QByteArray head = device->peek(64);
    if (head.size() < 12)
        return QByteArray();
    const auto *bytes = reinterpret_cast<const uint8_t *>(head.constData());
    if (heif_check_filetype(bytes, int(head.size())) != heif_filetype_yes_supported)
        return QByteArray();
    switch (heif_main_brand(bytes, int(head.size()))) {
    case heif_avif:
    case heif_avis:
        return "avif";
    case heif_heic:
    case heif_heix:
    case heif_heim:
    case heif_heis:
    case heif_hevc:
    case heif_hevx:
        return "heic";
    default:
        return "heif";
    }
}

QString describe(const heif_error &error, const QByteArray &format)
{
    if (error.code == heif_error_Unsupported_feature && error.subcode == heif_suberror_Unsupported_codec)
        return QStringLiteral("the %1 codec is missing").arg(QString::fromLatin1(format.toUpper()));
    return QString::fromUtf8(error.message ? error.message : "unknown error");
}

// The colour information of the nclx box, as Qt's colour space. Transfer
// curves Qt has no form for (PQ, HLG) are taken as sRGB's: closer than the
// raw numbers.
QColorSpace fromNclx(const heif_color_profile_nclx &nclx)
{
    QColorSpace::TransferFunction transfer = QColorSpace::TransferFunction::SRgb;
    float gamma = 0;
    switch (nclx.transfer_characteristics) {
    case heif_transfer_characteristic_linear:
        transfer = QColorSpace::TransferFunction::Linear;
        break;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_M:
        transfer = QColorSpace::TransferFunction::Gamma;
        gamma = 2.2f;
        break;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G:
        transfer = QColorSpace::TransferFunction::Gamma;
        gamma = 2.8f;
        break;
    default:
        break;
    }
    const bool srgbPrimaries = nclx.color_primaries == heif_color_primaries_ITU_R_BT_709_5
                               || nclx.color_primaries == heif_color_primaries_unspecified;
    if (srgbPrimaries && transfer == QColorSpace::TransferFunction::SRgb)
        return QColorSpace(QColorSpace::SRgb);
    if (srgbPrimaries)
        return QColorSpace(QColorSpace::Primaries::SRgb, transfer, gamma);
    return QColorSpace(QPointF(nclx.color_primary_white_x, nclx.color_primary_white_y),
                       QPointF(nclx.color_primary_red_x, nclx.color_primary_red_y),
                       QPointF(nclx.color_primary_green_x, nclx.color_primary_green_y),
                       QPointF(nclx.color_primary_blue_x, nclx.color_primary_blue_y), transfer, gamma);
}

// The nclx numbers of an AVIF as a colour space, through libheif's table of
// primaries, so that both formats read their numbers the same way.
QColorSpace fromAvifNclx(const avifImage &image)
{
    std::unique_ptr<heif_color_profile_nclx, decltype(&heif_nclx_color_profile_free)> nclx(
        heif_nclx_color_profile_alloc(), &heif_nclx_color_profile_free);
    if (!nclx)
        return QColorSpace(QColorSpace::SRgb);
    heif_nclx_color_profile_set_color_primaries(nclx.get(), image.colorPrimaries);
    heif_nclx_color_profile_set_transfer_characteristics(nclx.get(), image.transferCharacteristics);
    return fromNclx(*nclx);
}

bool readAvif(const QByteArray &data, QImage *out)
{
    const auto fail = [](const QString &reason) {
        formats::setFailureReason(reason);
        return false;
    };
    std::unique_ptr<avifDecoder, decltype(&avifDecoderDestroy)> decoder(avifDecoderCreate(), &avifDecoderDestroy);
    if (!decoder)
        return fail(QStringLiteral("not enough memory"));
    decoder->maxThreads = std::max(1, QThread::idealThreadCount());
    decoder->ignoreExif = AVIF_TRUE;
    decoder->ignoreXMP = AVIF_TRUE;
    avifResult result = avifDecoderSetIOMemory(decoder.get(), reinterpret_cast<const uint8_t *>(data.constData()),
                                               size_t(data.size()));
    if (result == AVIF_RESULT_OK)
        result = avifDecoderParse(decoder.get());
    if (result != AVIF_RESULT_OK)
        return fail(QString::fromUtf8(avifResultToString(result)));
    const avifImage *decoded = decoder->image; // its header; the pixels come below
    const bool alpha = decoder->alphaPresent;
    const QImage::Format format = alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    const int turns = (decoded->transformFlags & AVIF_TRANSFORM_IROT) ? decoded->irot.angle % 4 : 0;
    const bool mirrored = decoded->transformFlags & AVIF_TRANSFORM_IMIR;
    const avifImageMirror mirror = decoded->imir;
    // An upright picture, nearly every one, goes straight where the loader
    // hands it on; a turned one is turned into a new image anyway.
    const QSize size(int(decoded->width), int(decoded->height));
    QImage image = turns == 0 && !mirrored ? formats::newPicture(size, format) : QImage(size, format);
    if (image.isNull())
        return fail(QStringLiteral("not enough memory"));
    // The AV1 decoder keeps to about one core on a picture of one tile: the
    // other one maps the picture's memory meanwhile, which otherwise costs
    // the conversion below a page fault every thousand pixels.
    std::thread mapping;
    try {
        mapping = std::thread(jpegrows::prefaultAndRead, image.bits(), std::size_t(image.sizeInBytes()));
    } catch (const std::system_error &) {
    }
    result = avifDecoderNextImage(decoder.get());
    if (mapping.joinable())
        mapping.join();
    decoded = decoder->image;
    // The header's size is the one the memory was made for.
    if (result == AVIF_RESULT_OK
        && (decoded->width != uint32_t(size.width()) || decoded->height != uint32_t(size.height())))
        result = AVIF_RESULT_BMFF_PARSE_FAILED;
    if (result != AVIF_RESULT_OK)
        return fail(QString::fromUtf8(avifResultToString(result)));
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, decoded);
    // QImage's 32-bit formats lie in memory as B, G, R, A on this machine's
    // byte order; without an alpha plane libavif writes it opaque.
    rgb.format = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_ARGB;
    rgb.depth = 8;
    rgb.pixels = image.bits();
    rgb.rowBytes = uint32_t(image.bytesPerLine());
    result = avifImageYUVToRGB(decoded, &rgb);
    if (result != AVIF_RESULT_OK)
        return fail(QString::fromUtf8(avifResultToString(result)));
    // The file's rotation (anticlockwise, in quarter turns), then its mirror.
    if (turns != 0)
        image = image.transformed(QTransform().rotate(-90.0 * turns));
    if (mirrored)
        image = mirror.mode == 0 ? image.mirrored(false, true) : image.mirrored(true, false);

    if (decoded->icc.size > 0)
        colour::tag(image, QByteArray(reinterpret_cast<const char *>(decoded->icc.data), qsizetype(decoded->icc.size)));
    else
        image.setColorSpace(fromAvifNclx(*decoded));
    *out = image;
    return true;
}

class HeifHandler : public QImageIOHandler
{
public:
    bool canRead() const override
    {
        const QByteArray format = heifFormat(device());
        if (format.isEmpty())
            return false;
        setFormat(format);
        return true;
    }

    bool supportsOption(ImageOption option) const override { return option == Size; }

    QVariant option(ImageOption option) const override
    {
        if (option != Size || !open())
            return QVariant();
        return QSize(heif_image_handle_get_width(m_handle.get()), heif_image_handle_get_height(m_handle.get()));
    }

    bool read(QImage *image) override
    {
        if (format() == "avif") {
            if (!m_opened) {
                m_opened = true;
                m_data = formats::readWhole(device());
            }
            return !m_data.isEmpty() && readAvif(m_data, image);
        }
        if (!open())
            return false;
        const bool alpha = heif_image_handle_has_alpha_channel(m_handle.get());
        heif_image *decoded = nullptr;
        // Default options: the file's rotation and mirroring are applied.
        const heif_error error = heif_decode_image(m_handle.get(), &decoded, heif_colorspace_RGB,
                                                   alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                                   nullptr);
        const std::unique_ptr<heif_image, decltype(&heif_image_release)> owned(decoded, &heif_image_release);
        if (error.code != heif_error_Ok) {
            formats::setFailureReason(describe(error, format()));
            return false;
        }
        int stride = 0;
        const uint8_t *pixels = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
        const int width = heif_image_get_width(decoded, heif_channel_interleaved);
        const int height = heif_image_get_height(decoded, heif_channel_interleaved);
        if (!pixels || width <= 0 || height <= 0) {
            formats::setFailureReason(QStringLiteral("no picture in the file"));
            return false;
        }
        // Copied once, into the form the painter draws fastest, where the
        // loader hands it on.
        QImage result = formats::newPicture(QSize(width, height), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        if (result.isNull()) {
            formats::setFailureReason(QStringLiteral("not enough memory"));
            return false;
        }
        for (int y = 0; y < height; ++y) {
            const uint8_t *in = pixels + std::ptrdiff_t(y) * stride;
            auto *out = reinterpret_cast<QRgb *>(result.scanLine(y));
            if (alpha) {
                for (int x = 0; x < width; ++x, in += 4)
                    out[x] = qRgba(in[0], in[1], in[2], in[3]);
            } else {
                for (int x = 0; x < width; ++x, in += 3)
                    out[x] = qRgb(in[0], in[1], in[2]);
            }
        }
        tagColours(result);
        *image = result;
        return true;
    }

private:
    bool open() const
    {
        if (m_opened)
            return bool(m_handle);
        m_opened = true;
        m_data = formats::readWhole(device());
        if (m_data.isEmpty())
            return false;
        m_context.reset(heif_context_alloc());
        heif_error error = heif_context_read_from_memory_without_copy(m_context.get(), m_data.constData(),
                                                                      size_t(m_data.size()), nullptr);
        heif_image_handle *handle = nullptr;
        if (error.code == heif_error_Ok)
            error = heif_context_get_primary_image_handle(m_context.get(), &handle);
        if (error.code != heif_error_Ok) {
            formats::setFailureReason(describe(error, format()));
            return false;
        }
        m_handle.reset(handle);
        return true;
    }

    void tagColours(QImage &image) const
    {
        heif_image_handle *handle = m_handle.get();
        switch (heif_image_handle_get_color_profile_type(handle)) {
        case heif_color_profile_type_prof:
        case heif_color_profile_type_rICC: {
            QByteArray icc(qsizetype(heif_image_handle_get_raw_color_profile_size(handle)), Qt::Uninitialized);
            if (!icc.isEmpty() && heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok)
                colour::tag(image, icc);
            break;
        }
        case heif_color_profile_type_nclx: {
            heif_color_profile_nclx *nclx = nullptr;
            if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok && nclx) {
                image.setColorSpace(fromNclx(*nclx));
                heif_nclx_color_profile_free(nclx);
            }
            break;
        }
        default:
            break;
        }
    }

    mutable QByteArray m_data;
    mutable std::unique_ptr<heif_context, decltype(&heif_context_free)> m_context{nullptr, &heif_context_free};
    mutable std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> m_handle{
        nullptr, &heif_image_handle_release};
    mutable bool m_opened = false;
};

} // namespace

class HeifPlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "heifplugin.json")
public:
    HeifPlugin()
    {
        // Loads libheif's codec plugins where the library has them.
        static std::once_flag once;
        std::call_once(once, [] { heif_init(nullptr); });
    }

    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override
    {
        if (format == "heic" || format == "heif" || format == "avif")
            return CanRead;
        if (!format.isEmpty() || !device || !device->isOpen())
            return {};
        return heifFormat(device).isEmpty() ? Capabilities() : Capabilities(CanRead);
    }

    QImageIOHandler *create(QIODevice *device, const QByteArray &format) const override
    {
        auto *handler = new HeifHandler;
        handler->setDevice(device);
        handler->setFormat(format);
        return handler;
    }
};

#include "heifplugin.moc"
