#include "platform/colour.h"

#include <QColorSpace>
#include <QGuiApplication>
#include <QIODevice>
#include <QtGui/qguiapplication_platform.h>

#include <lcms2.h>
#include <xcb/xcb.h>
#include <zlib.h>

#include <map>
#include <memory>
#include <mutex>

namespace colour {

namespace {

// Larger than any real profile; a hostile file's claims stop here.
constexpr qsizetype kLargestProfile = 16 << 20;

thread_local QByteArray t_lcmsOnly;

struct Display
{
    QColorSpace space{QColorSpace::SRgb};
    QByteArray icc; // empty: sRGB
};

std::mutex g_displayMutex;
Display g_display;

Display display()
{
    std::lock_guard lock(g_displayMutex);
    return g_display;
}

QByteArray readExactly(QIODevice *device, qint64 size)
{
    if (size < 0 || size > kLargestProfile)
        return QByteArray();
    QByteArray data = device->read(size);
    return data.size() == size ? data : QByteArray();
}

quint32 bigEndian32(const QByteArray &b, qsizetype at = 0)
{
    if (b.size() < at + 4)
        return 0;
    const auto *p = reinterpret_cast<const uchar *>(b.constData() + at);
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

// APP2 segments named ICC_PROFILE, numbered, before the first scan.
QByteArray jpegProfile(QIODevice *device)
{
    if (device->read(2) != "\xFF\xD8")
        return QByteArray();
    std::map<int, QByteArray> chunks;
    qsizetype total = 0;
    for (;;) {
        char byte = 0;
        if (!device->getChar(&byte) || uchar(byte) != 0xFF)
            break;
        while (device->getChar(&byte) && uchar(byte) == 0xFF) {
        }
        const uchar marker = uchar(byte);
        if (marker == 0xDA || marker == 0xD9)
            break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        const QByteArray lengthBytes = device->read(2);
        if (lengthBytes.size() != 2)
            break;
        const int length = (uchar(lengthBytes[0]) << 8 | uchar(lengthBytes[1])) - 2;
        if (length < 0)
            break;
        if (marker == 0xE2 && length > 14) {
            const QByteArray segment = readExactly(device, length);
            if (!segment.startsWith(QByteArrayLiteral("ICC_PROFILE\0")))
                continue;
            total += segment.size() - 14;
            if (total > kLargestProfile)
                return QByteArray();
            chunks[uchar(segment[12])] = segment.mid(14);
        } else if (!device->seek(device->pos() + length)) {
            break;
        }
    }
    QByteArray icc;
    for (const auto &chunk : chunks)
        icc += chunk.second;
    return icc;
}

QByteArray inflated(const QByteArray &compressed)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return QByteArray();
    QByteArray out;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.constData()));
    stream.avail_in = uInt(compressed.size());
    int result = Z_OK;
    while (result == Z_OK && out.size() < kLargestProfile) {
        const qsizetype done = out.size();
        out.resize(done + 64 * 1024);
        stream.next_out = reinterpret_cast<Bytef *>(out.data() + done);
        stream.avail_out = 64 * 1024;
        result = inflate(&stream, Z_NO_FLUSH);
        out.resize(done + 64 * 1024 - stream.avail_out);
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END ? out : QByteArray();
}

// The iCCP chunk, which comes before the first IDAT.
QByteArray pngProfile(QIODevice *device)
{
    if (device->read(8) != "\x89PNG\r\n\x1A\n")
        return QByteArray();
    for (;;) {
        const QByteArray header = device->read(8);
        if (header.size() != 8)
            return QByteArray();
        const quint32 length = bigEndian32(header);
        const QByteArray type = header.mid(4);
        if (type == "IDAT" || type == "IEND")
            return QByteArray();
        if (type == "iCCP") {
            const QByteArray data = readExactly(device, length);
            const qsizetype nameEnd = data.indexOf('\0');
            if (nameEnd < 0 || nameEnd + 2 > data.size())
                return QByteArray();
            return inflated(data.mid(nameEnd + 2));
        }
        if (!device->seek(device->pos() + qint64(length) + 4))
            return QByteArray();
    }
}

// The ICCP chunk of an extended WebP file.
QByteArray webpProfile(QIODevice *device)
{
    const QByteArray header = device->read(12);
    if (!header.startsWith("RIFF") || header.mid(8) != "WEBP")
        return QByteArray();
    for (;;) {
        const QByteArray chunk = device->read(8);
        if (chunk.size() != 8)
            return QByteArray();
        const auto *p = reinterpret_cast<const uchar *>(chunk.constData() + 4);
        const quint32 length = quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
        if (chunk.startsWith("ICCP"))
            return readExactly(device, length);
        if (chunk.startsWith("VP8 ") || chunk.startsWith("VP8L") || chunk.startsWith("ANIM"))
            return QByteArray();
        if (!device->seek(device->pos() + qint64(length) + (length & 1)))
            return QByteArray();
    }
}

// Forms QImage::convertToColorSpace handles, and the one LittleCMS is fed.
QImage inRgb32(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        return image;
    default:
        return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    }
}

using Profile = std::unique_ptr<void, decltype(&cmsCloseProfile)>;
using Transform = std::unique_ptr<void, decltype(&cmsDeleteTransform)>;

Profile openProfile(const QByteArray &icc)
{
    if (icc.isEmpty())
        return Profile(cmsCreate_sRGBProfile(), &cmsCloseProfile);
    return Profile(cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())), &cmsCloseProfile);
}

// Profiles Qt 6.4 cannot parse: those built on look-up tables, greyscale.
QImage throughLcms(const QImage &image, const QByteArray &ownIcc, const Display &target)
{
    const Profile own = openProfile(ownIcc);
    const Profile shown = openProfile(target.icc);
    if (!own || !shown)
        return image;
    const cmsColorSpaceSignature space = cmsGetColorSpace(own.get());
    QImage source;
    cmsUInt32Number inputType = 0;
    if (space == cmsSigGrayData && image.format() == QImage::Format_Grayscale8) {
        source = image;
        inputType = TYPE_GRAY_8;
    } else if (space == cmsSigRgbData) {
        source = inRgb32(image);
        inputType = TYPE_BGRA_8;
    } else {
        // Pixels no longer in the profile's terms (Qt's reader has already
        // turned CMYK into RGB): left as they are.
        return image;
    }
    const bool alpha = source.hasAlphaChannel();
    QImage out(source.size(), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (out.isNull())
        return image;
    // QImage's 32-bit pixels lie in memory as B, G, R, A on little-endian
    // machines, as A, R, G, B on big-endian ones; RGB32's alpha byte is
    // always 0xFF, so copying it keeps the result opaque.
    const cmsUInt32Number outputType = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? TYPE_BGRA_8 : TYPE_ARGB_8;
    if (inputType == TYPE_BGRA_8 && QSysInfo::ByteOrder != QSysInfo::LittleEndian)
        inputType = TYPE_ARGB_8;
    const Transform transform(cmsCreateTransform(own.get(), inputType, shown.get(), outputType,
                                                 INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_COPY_ALPHA),
                              &cmsDeleteTransform);
    if (!transform)
        return image;
    if (inputType == TYPE_GRAY_8)
        out.fill(Qt::black); // the opaque alpha bytes a grey source has none of
    cmsDoTransformLineStride(transform.get(), source.constBits(), out.bits(), cmsUInt32Number(source.width()),
                             cmsUInt32Number(source.height()), cmsUInt32Number(source.bytesPerLine()),
                             cmsUInt32Number(out.bytesPerLine()), 0, 0);
    if (target.space.isValid())
        out.setColorSpace(target.space);
    return out;
}

} // namespace

void tag(QImage &image, const QByteArray &icc)
{
    if (icc.isEmpty())
        return;
    const QColorSpace space = QColorSpace::fromIccProfile(icc);
    if (space.isValid())
        image.setColorSpace(space);
    else
        t_lcmsOnly = icc;
}

QByteArray takeUnderstoodByLcmsOnly()
{
    QByteArray icc;
    icc.swap(t_lcmsOnly);
    return icc;
}

QByteArray embeddedProfile(QIODevice *device, const QByteArray &format)
{
    if (!device || device->isSequential())
        return QByteArray();
    const qint64 position = device->pos();
    if (!device->seek(0))
        return QByteArray();
    QByteArray icc;
    if (format == "jpeg" || format == "jpg")
        icc = jpegProfile(device);
    else if (format == "png")
        icc = pngProfile(device);
    else if (format == "webp")
        icc = webpProfile(device);
    device->seek(position);
    return icc;
}

void setDisplayProfile(const QByteArray &icc)
{
    Display shown;
    if (!icc.isEmpty()) {
        shown.icc = icc;
        // Invalid for a profile Qt cannot parse: LittleCMS then converts
        // every tagged picture.
        shown.space = QColorSpace::fromIccProfile(icc);
    }
    std::lock_guard lock(g_displayMutex);
    g_display = shown;
}

QImage toDisplay(const QImage &image, const QByteArray &lcmsOnly)
{
    const QColorSpace own = image.colorSpace();
    if (image.isNull() || (!own.isValid() && lcmsOnly.isEmpty()))
        return image;
    const Display target = display();
    if (own.isValid() && target.space.isValid()) {
        if (own == target.space)
            return image;
        // Qt's own conversion (matrix and curves) for what it understands.
        QImage out = inRgb32(image);
        out.convertToColorSpace(target.space);
        return out;
    }
    return throughLcms(image, own.isValid() ? own.iccProfile() : lcmsOnly, target);
}

QByteArray x11DisplayProfile()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return QByteArray();
    static const char name[] = "_ICC_PROFILE";
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof name - 1, name), nullptr), &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return QByteArray();
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return QByteArray();
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> property(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, screen->root, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                                kLargestProfile / 4),
                               nullptr),
        &std::free);
    if (!property || property->format != 8)
        return QByteArray();
    return QByteArray(static_cast<const char *>(xcb_get_property_value(property.get())),
                      xcb_get_property_value_length(property.get()));
}

} // namespace colour
