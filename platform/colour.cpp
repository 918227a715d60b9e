#include "platform/colour.h"
#include "platform/display.h"

#include <QColorSpace>
#include <QIODevice>
#include <QtConcurrent/QtConcurrentMap>

#include <lcms2.h>
#include <xcb/xcb.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

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

// Matrix and curve profiles at both ends, the common case: the source
// curves as a table, one 3 x 3 matrix in fixed point, and the display's
// inverse curves as a finer table. About as fast as Qt's own conversion on
// one core, but it also reads the matrix profiles Qt cannot parse, and it
// runs in bands on every core.
class MatrixShaper
{
public:
    static std::unique_ptr<MatrixShaper> between(cmsHPROFILE own, cmsHPROFILE shown)
    {
        if (cmsGetColorSpace(own) != cmsSigRgbData || cmsGetColorSpace(shown) != cmsSigRgbData
            || !cmsIsMatrixShaper(own) || !cmsIsMatrixShaper(shown))
            return nullptr;
        double ownMatrix[9], shownMatrix[9], inverse[9];
        if (!colorants(own, ownMatrix) || !colorants(shown, shownMatrix) || !invert(shownMatrix, inverse))
            return nullptr;
        auto result = std::make_unique<MatrixShaper>();
        int toLinear[3][256];
        quint8 fromLinear[3][kLinearMax + 1];
        const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
        for (int c = 0; c < 3; ++c) {
            const auto *ownCurve = static_cast<const cmsToneCurve *>(cmsReadTag(own, curves[c]));
            const auto *shownCurve = static_cast<const cmsToneCurve *>(cmsReadTag(shown, curves[c]));
            if (!ownCurve || !shownCurve)
                return nullptr;
            cmsToneCurve *reversed = cmsReverseToneCurve(shownCurve);
            if (!reversed)
                return nullptr;
            for (int i = 0; i < 256; ++i) {
                const float linear = cmsEvalToneCurveFloat(ownCurve, float(i) / 255.0f);
                toLinear[c][i] = std::clamp(int(std::lround(linear * kLinearMax)), 0, kLinearMax);
            }
            for (int i = 0; i <= kLinearMax; ++i) {
                const float value = cmsEvalToneCurveFloat(reversed, float(i) / float(kLinearMax));
                fromLinear[c][i] = quint8(std::clamp(int(std::lround(value * 255.0f)), 0, 255));
            }
            cmsFreeToneCurve(reversed);
        }
        // Display = inverse(display colorants) * own colorants, in PCS. Real
        // pairs of profiles stay far inside the bound.
        int matrix[3][3];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int k = 0; k < 3; ++k)
                    sum += inverse[r * 3 + k] * ownMatrix[k * 3 + c];
                if (!(std::abs(sum) <= 4.0))
                    return nullptr;
                matrix[r][c] = int(std::lround(sum * (1 << kMatrixShift)));
            }
        }
        // A display channel's linear value is (sum of shares + half) >> shift,
        // clamped to the table. The clamp is folded into a table that covers
        // every sum the matrix can give, from below zero to above the top,
        // and the shares are offset so that the sum indexes it directly.
        constexpr int half = 1 << (kMatrixShift - 1);
        int offset[3];
        for (int r = 0; r < 3; ++r) {
            int low = half, high = half;
            for (int c = 0; c < 3; ++c)
                (matrix[r][c] < 0 ? low : high) += matrix[r][c] * kLinearMax;
            offset[r] = -(low >> kMatrixShift); // floor, as the shift is
            const int size = (high >> kMatrixShift) + offset[r] + 1;
            result->m_toDisplay[r].resize(size_t(size));
            for (int i = 0; i < size; ++i)
                result->m_toDisplay[r][size_t(i)] = fromLinear[r][std::clamp(i - offset[r], 0, kLinearMax)];
        }
        // Each source channel's share of the display's red and blue, as one
        // 64-bit number (red below, blue above: both final sums are positive
        // and under 2^31, so the halves come out exact), and of its green;
        // red's shares carry the rounding and the offsets.
        for (int i = 0; i < 256; ++i) {
            for (int c = 0; c < 3; ++c) {
                const std::int64_t extra = c == 0 ? half : 0;
                const std::int64_t red = matrix[0][c] * std::int64_t(toLinear[c][i]) + extra
                                         + (c == 0 ? std::int64_t(offset[0]) << kMatrixShift : 0);
                const std::int64_t blue = matrix[2][c] * std::int64_t(toLinear[c][i]) + extra
                                          + (c == 0 ? std::int64_t(offset[2]) << kMatrixShift : 0);
                result->m_redBlue[c][i] = quint64(red + blue * (std::int64_t(1) << 32));
                result->m_green[c][i] = qint32(matrix[1][c] * toLinear[c][i] + extra
                                               + (c == 0 ? offset[1] << kMatrixShift : 0));
            }
        }
        return result;
    }

    // 32-bit pixels of the same size, which may be the same pixels; alpha
    // is kept. In bands on every core: the window may be waiting for this
    // picture.
    void apply(const QImage &source, uchar *targetBits, qsizetype targetStride) const
    {
        constexpr int kBand = 64;
        std::vector<int> bands;
        for (int y = 0; y < source.height(); y += kBand)
            bands.push_back(y);
        QtConcurrent::blockingMap(bands, [&](int top) {
            const int bottom = std::min(top + kBand, source.height());
            for (int y = top; y < bottom; ++y)
                applyRow(reinterpret_cast<const QRgb *>(source.constScanLine(y)),
                         reinterpret_cast<QRgb *>(targetBits + y * targetStride), source.width());
        });
    }

private:
    void applyRow(const QRgb *in, QRgb *out, int width) const
    {
        // Everything in locals: the stores into the picture may otherwise be
        // taken to change the tables and force them to be read again.
        const quint64 *redBlueOfR = m_redBlue[0], *redBlueOfG = m_redBlue[1], *redBlueOfB = m_redBlue[2];
        const qint32 *greenOfR = m_green[0], *greenOfG = m_green[1], *greenOfB = m_green[2];
        const quint8 *toR = m_toDisplay[0].data(), *toG = m_toDisplay[1].data(), *toB = m_toDisplay[2].data();
        for (int x = 0; x < width; ++x) {
            const QRgb p = in[x];
            const int r = qRed(p), g = qGreen(p), b = qBlue(p);
            const quint64 redBlue = redBlueOfR[r] + redBlueOfG[g] + redBlueOfB[b];
            const quint32 green = quint32(greenOfR[r] + greenOfG[g] + greenOfB[b]);
            out[x] = (p & 0xff000000u) | quint32(toR[quint32(redBlue) >> kMatrixShift]) << 16
                     | quint32(toG[green >> kMatrixShift]) << 8 | toB[redBlue >> (32 + kMatrixShift)];
        }
    }

    // Linear light in 12 bits: the display's tables then stay in the first-level
    // cache, which decides the speed; a dark step is at most one level off.
    static constexpr int kLinearMax = (1 << 12) - 1;
    static constexpr int kMatrixShift = 14;

    static bool colorants(cmsHPROFILE profile, double *m)
    {
        const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
        for (int c = 0; c < 3; ++c) {
            const auto *xyz = static_cast<const cmsCIEXYZ *>(cmsReadTag(profile, tags[c]));
            if (!xyz)
                return false;
            m[0 * 3 + c] = xyz->X;
            m[1 * 3 + c] = xyz->Y;
            m[2 * 3 + c] = xyz->Z;
        }
        return true;
    }

    static bool invert(const double *m, double *out)
    {
        const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6])
                           + m[2] * (m[3] * m[7] - m[4] * m[6]);
        if (std::abs(det) < 1e-9)
            return false;
        out[0] = (m[4] * m[8] - m[5] * m[7]) / det;
        out[1] = (m[2] * m[7] - m[1] * m[8]) / det;
        out[2] = (m[1] * m[5] - m[2] * m[4]) / det;
        out[3] = (m[5] * m[6] - m[3] * m[8]) / det;
        out[4] = (m[0] * m[8] - m[2] * m[6]) / det;
        out[5] = (m[2] * m[3] - m[0] * m[5]) / det;
        out[6] = (m[3] * m[7] - m[4] * m[6]) / det;
        out[7] = (m[1] * m[6] - m[0] * m[7]) / det;
        out[8] = (m[0] * m[4] - m[1] * m[3]) / det;
        return true;
    }

    quint64 m_redBlue[3][256];
    qint32 m_green[3][256];
    std::vector<quint8> m_toDisplay[3];
};

// The whole of source through a transform into out, which is then in the
// display's colour space.
void transformInto(cmsHTRANSFORM transform, const QImage &source, QImage &out, const Display &target)
{
    cmsDoTransformLineStride(transform, source.constBits(), out.bits(), cmsUInt32Number(source.width()),
                             cmsUInt32Number(source.height()), cmsUInt32Number(source.bytesPerLine()),
                             cmsUInt32Number(out.bytesPerLine()), 0, 0);
    if (target.space.isValid())
        out.setColorSpace(target.space);
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
    transformInto(transform.get(), source, out, target);
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

QByteArray displayProfile()
{
    std::lock_guard lock(g_displayMutex);
    return g_display.icc;
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

QImage toDisplay(QImage image, const QByteArray &lcmsOnly)
{
    const QColorSpace own = image.colorSpace();
    if (image.isNull() || (!own.isValid() && lcmsOnly.isEmpty()))
        return image;
    const Display target = display();
    if (own.isValid() && own == target.space)
        return image;
    const QByteArray ownIcc = own.isValid() ? own.iccProfile() : lcmsOnly;
    {
        const Profile ownProfile = openProfile(ownIcc);
        const Profile shownProfile = openProfile(target.icc);
        if (ownProfile && shownProfile) {
            if (const auto shaper = MatrixShaper::between(ownProfile.get(), shownProfile.get())) {
                QImage source = inRgb32(image);
                image = QImage();
                // Pixels nobody else holds are converted where they lie: no
                // new picture's worth of memory to map, and a decoder's shared
                // buffer stays the one handed on.
                const bool inPlace = source.isDetached();
                QImage out = inPlace ? QImage() : QImage(source.size(), source.format());
                if (!inPlace && out.isNull())
                    return source;
                QImage &written = inPlace ? source : out;
                shaper->apply(source, written.bits(), written.bytesPerLine());
                if (inPlace)
                    out = std::move(source);
                if (target.space.isValid())
                    out.setColorSpace(target.space);
                return out;
            }
        }
    }
    if (own.isValid() && target.space.isValid()) {
        // Qt's own conversion for the rest of what it understands.
        QImage out = inRgb32(image);
        image = QImage();
        out.convertToColorSpace(target.space);
        return out;
    }
    return throughLcms(image, ownIcc, target);
}

QByteArray x11DisplayProfile()
{
    xcb_connection_t *connection = x11Connection();
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

bool isCmykProfile(const QByteArray &icc)
{
    const Profile profile = openProfile(icc);
    return !icc.isEmpty() && profile && cmsGetColorSpace(profile.get()) == cmsSigCmykData;
}

QImage cmykToDisplay(const QImage &cmyk, const QByteArray &icc, bool inverted, const std::function<QImage(QSize)> &allocate)
{
    const Display target = display();
    const Profile own = openProfile(icc);
    const Profile shown = openProfile(target.icc);
    if (cmyk.isNull() || !own || !shown || cmsGetColorSpace(own.get()) != cmsSigCmykData)
        return QImage();
    // Perceptual, as printers' profiles are made for: their inks reach
    // colours no monitor shows, and the other way round.
    const Transform transform(cmsCreateTransform(own.get(), inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8, shown.get(),
                                                 QSysInfo::ByteOrder == QSysInfo::LittleEndian ? TYPE_BGRA_8
                                                                                                : TYPE_ARGB_8,
                                                 INTENT_PERCEPTUAL, 0),
                              &cmsDeleteTransform);
    if (!transform)
        return QImage();
    QImage out = allocate ? allocate(cmyk.size()) : QImage(cmyk.size(), QImage::Format_RGB32);
    if (out.isNull())
        return QImage();
    out.fill(Qt::black); // the opaque alpha bytes the transform leaves alone
    transformInto(transform.get(), cmyk, out, target);
    return out;
}

} // namespace colour
