#include "dngwriter.h"

#include <QtEndian>

#include <cmath>
#include <vector>

namespace testpictures {

namespace {

struct Entry
{
    quint16 tag;
    quint16 type; // 1 byte, 2 ascii, 3 short, 4 long, 5 rational, 10 srational
    QByteArray value;
    quint32 count;
};

QByteArray le16(quint16 v)
{
    QByteArray b(2, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

Entry shorts(quint16 tag, std::initializer_list<quint16> values)
{
    QByteArray b;
    for (quint16 v : values)
        b += le16(v);
    return {tag, 3, b, quint32(values.size())};
}

Entry longs(quint16 tag, quint32 value)
{
    return {tag, 4, le32(value), 1};
}

Entry ascii(quint16 tag, const char *text)
{
    const QByteArray b = QByteArray(text) + '\0';
    return {tag, 2, b, quint32(b.size())};
}

Entry rationals(quint16 tag, quint16 type, std::initializer_list<double> values)
{
    QByteArray b;
    for (double v : values) {
        b += le32(quint32(qint32(std::lround(v * 10000))));
        b += le32(10000);
    }
    return {tag, type, b, quint32(values.size())};
}

quint16 linear(int srgb)
{
    static const std::vector<quint16> table = [] {
        std::vector<quint16> t(256);
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            const double l = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
            t[i] = quint16(std::lround(l * 65535));
        }
        return t;
    }();
    return table[srgb];
}

} // namespace

QByteArray dng(const QImage &picture, int orientation, bool dngTags)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    const int w = rgb.width(), h = rgb.height();
    std::vector<Entry> entries = {
        longs(254, 0),
        longs(256, quint32(w)),
        longs(257, quint32(h)),
        shorts(258, {16}),
        shorts(259, {1}),
        shorts(262, {32803}), // colour filter array
        longs(273, 0),        // strip offset, filled in below
        shorts(274, {quint16(orientation)}),
        shorts(277, {1}),
        longs(278, quint32(h)),
        longs(279, quint32(w) * quint32(h) * 2),
        shorts(284, {1}),
        shorts(33421, {2, 2}),
        {33422, 1, QByteArray("\0\1\1\2", 4), 4},
    };
    if (dngTags) {
        entries.insert(entries.begin() + 6, ascii(271, "Vellupix"));
        entries.insert(entries.begin() + 7, ascii(272, "Test Camera"));
        entries.push_back({50706, 1, QByteArray("\1\4\0\0", 4), 4});
        entries.push_back(ascii(50708, "Vellupix Test Camera"));
        entries.push_back(longs(50717, 65535));
        // XYZ to the sensor's space: sRGB's own matrix, so the sensor is
        // linear sRGB under D65.
        entries.push_back(rationals(50721, 10,
                                    {3.2406, -1.5372, -0.4986, -0.9689, 1.8758, 0.0415, 0.0557, -0.2040, 1.0570}));
        entries.push_back(rationals(50728, 5, {1, 1, 1}));
        entries.push_back(shorts(50778, {21}));
    }

    // Header, directory, then the values too long for their entry, then the
    // sensor data.
    const quint32 directorySize = 2 + 12 * quint32(entries.size()) + 4;
    quint32 extraOffset = 8 + directorySize;
    QByteArray extra;
    for (const Entry &e : entries) {
        if (e.value.size() > 4) {
            extra += e.value;
            if (extra.size() % 2)
                extra += '\0';
        }
    }
    const quint32 dataOffset = extraOffset + quint32(extra.size());
    QByteArray file = QByteArray("II*\0", 4) + le32(8) + le16(quint16(entries.size()));
    QByteArray pending;
    for (Entry &e : entries) {
        if (e.tag == 273)
            e.value = le32(dataOffset);
        file += le16(e.tag) + le16(e.type) + le32(e.count);
        if (e.value.size() > 4) {
            file += le32(extraOffset);
            extraOffset += quint32(e.value.size() + (e.value.size() % 2));
        } else {
            file += e.value + QByteArray(4 - e.value.size(), '\0');
        }
    }
    file += le32(0) + extra;

    QByteArray data(qsizetype(w) * h * 2, Qt::Uninitialized);
    auto *out = reinterpret_cast<uchar *>(data.data());
    for (int y = 0; y < h; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgb p = line[x];
            const int site = (y % 2) * 2 + (x % 2); // R G / G B
            const int value = site == 0 ? qRed(p) : site == 3 ? qBlue(p) : qGreen(p);
            qToLittleEndian(linear(value), out + (qsizetype(y) * w + x) * 2);
        }
    }
    return file + data;
}

} // namespace testpictures
