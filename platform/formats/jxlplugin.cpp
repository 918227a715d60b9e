// JPEG XL through libjxl, whose decoder applies the file's orientation and
// hands the pixels over with the ICC profile they are in.
#define QT_STATICPLUGIN

#include "platform/colour.h"
#include "platform/formats/formats.h"

#include <QImage>
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QVariant>

#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>

#include <memory>

namespace {

bool isJxl(QIODevice *device)
{
    const QByteArray head = device->peek(16);
    const JxlSignature signature = JxlSignatureCheck(reinterpret_cast<const uint8_t *>(head.constData()),
                                                     size_t(head.size()));
    return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER;
}

using Decoder = std::unique_ptr<JxlDecoder, decltype(&JxlDecoderDestroy)>;
using Runner = std::unique_ptr<void, decltype(&JxlThreadParallelRunnerDestroy)>;

class JxlHandler : public QImageIOHandler
{
public:
    bool canRead() const override
    {
        if (!isJxl(device()))
            return false;
        setFormat("jxl");
        return true;
    }

    bool supportsOption(ImageOption option) const override { return option == Size; }

    QVariant option(ImageOption option) const override
    {
        if (option != Size)
            return QVariant();
        // The header alone: the codestream's first bytes give the size.
        const QByteArray head = device()->peek(64 * 1024);
        Decoder decoder(JxlDecoderCreate(nullptr), &JxlDecoderDestroy);
        JxlBasicInfo info;
        if (!decoder || JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO) != JXL_DEC_SUCCESS
            || JxlDecoderSetInput(decoder.get(), reinterpret_cast<const uint8_t *>(head.constData()),
                                  size_t(head.size())) != JXL_DEC_SUCCESS
            || JxlDecoderProcessInput(decoder.get()) != JXL_DEC_BASIC_INFO
            || JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
            return QVariant();
        return QSize(int(info.xsize), int(info.ysize));
    }

    bool read(QImage *image) override
    {
        const QByteArray data = formats::readWhole(device());
        if (data.isEmpty())
            return fail(QStringLiteral("the file cannot be read"));
        Decoder decoder(JxlDecoderCreate(nullptr), &JxlDecoderDestroy);
        Runner runner(JxlThreadParallelRunnerCreate(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads()),
                      &JxlThreadParallelRunnerDestroy);
        if (!decoder || !runner
            || JxlDecoderSetParallelRunner(decoder.get(), JxlThreadParallelRunner, runner.get()) != JXL_DEC_SUCCESS
            || JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING
                                                            | JXL_DEC_FULL_IMAGE)
                   != JXL_DEC_SUCCESS)
            return fail(QStringLiteral("the decoder cannot be started"));
        JxlDecoderSetInput(decoder.get(), reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()));
        JxlDecoderCloseInput(decoder.get());

        const JxlPixelFormat pixelFormat{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
        JxlBasicInfo info{};
        QImage result;
        QByteArray icc;
        for (;;) {
            switch (JxlDecoderProcessInput(decoder.get())) {
            case JXL_DEC_BASIC_INFO:
                if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
                    return fail(QStringLiteral("the header is damaged"));
                break;
            case JXL_DEC_COLOR_ENCODING: {
                size_t size = 0;
                if (JxlDecoderGetICCProfileSize(decoder.get(), &pixelFormat, JXL_COLOR_PROFILE_TARGET_DATA, &size)
                        == JXL_DEC_SUCCESS
                    && size > 0 && size < (size_t(64) << 20)) {
                    icc.resize(qsizetype(size));
                    if (JxlDecoderGetColorAsICCProfile(decoder.get(), &pixelFormat, JXL_COLOR_PROFILE_TARGET_DATA,
                                                       reinterpret_cast<uint8_t *>(icc.data()), size)
                        != JXL_DEC_SUCCESS)
                        icc.clear();
                }
                break;
            }
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
                // Four bytes a pixel and rows without padding: the layout of
                // Qt's RGBA8888, so the decoder writes straight into the image.
                result = formats::newPicture(QSize(int(info.xsize), int(info.ysize)),
                                             info.alpha_bits ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
                size_t needed = 0;
                if (result.isNull()
                    || JxlDecoderImageOutBufferSize(decoder.get(), &pixelFormat, &needed) != JXL_DEC_SUCCESS
                    || needed != size_t(result.sizeInBytes())
                    || JxlDecoderSetImageOutBuffer(decoder.get(), &pixelFormat, result.bits(), needed)
                           != JXL_DEC_SUCCESS)
                    return fail(result.isNull() ? QStringLiteral("not enough memory")
                                                : QStringLiteral("the picture's size is inconsistent"));
                break;
            }
            case JXL_DEC_FULL_IMAGE:
            case JXL_DEC_SUCCESS:
                // The first frame is the still picture.
                if (result.isNull())
                    return fail(QStringLiteral("no picture in the file"));
                toArgb32(result, info.alpha_bits != 0);
                colour::tag(result, icc);
                *image = result;
                return true;
            case JXL_DEC_NEED_MORE_INPUT:
                return fail(QStringLiteral("the file ends early"));
            case JXL_DEC_ERROR:
                return fail(QStringLiteral("the data is damaged"));
            default:
                break;
            }
        }
    }

private:
    // In the form the painter draws fastest. On a little-endian machine that
    // is the same four bytes with red and blue swapped, done where they lie,
    // so that pixels decoded into the loader's memory stay there.
    static void toArgb32(QImage &image, bool alpha)
    {
        const QImage::Format format = alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
        if (Q_BYTE_ORDER != Q_LITTLE_ENDIAN || image.bytesPerLine() != image.width() * 4) {
            image.convertTo(format);
            return;
        }
        auto *pixels = reinterpret_cast<quint32 *>(image.bits());
        const qsizetype count = qsizetype(image.width()) * image.height();
        const quint32 opaque = alpha ? 0 : 0xff000000u;
        for (qsizetype i = 0; i < count; ++i) {
            const quint32 v = pixels[i];
            pixels[i] = (v & 0xff00ff00u) | (v & 0xffu) << 16 | (v >> 16 & 0xffu) | opaque;
        }
        image.reinterpretAsFormat(format);
    }

    static bool fail(const QString &reason)
    {
        formats::setFailureReason(reason);
        return false;
    }
};

} // namespace

class JxlPlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "jxlplugin.json")
public:
    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override
    {
        if (format == "jxl")
            return CanRead;
        if (!format.isEmpty() || !device || !device->isOpen())
            return {};
        return isJxl(device) ? Capabilities(CanRead) : Capabilities();
    }

    QImageIOHandler *create(QIODevice *device, const QByteArray &format) const override
    {
        auto *handler = new JxlHandler;
        handler->setDevice(device);
        handler->setFormat(format);
        return handler;
    }
};

#include "jxlplugin.moc"
