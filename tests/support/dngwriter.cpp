#include "dngwriter.h"

#include <QBuffer>
#include <QtEndian>

#include <algorithm>

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

// A directory at `offset` with its long values right behind it; `patch`
// sets the values that are offsets once the layout is known.
QByteArray directory(std::vector<Entry> entries, quint32 offset)
{
    quint32 extraOffset = offset + 2 + 12 * quint32(entries.size()) + 4;
    QByteArray block = le16(quint16(entries.size()));
    QByteArray extra;
    for (const Entry &e : entries) {
        block += le16(e.tag) + le16(e.type) + le32(e.count);
        if (e.value.size() > 4) {
            block += le32(extraOffset + quint32(extra.size()));
            extra += e.value;
            if (extra.size() % 2)
                extra += '\0';
        } else {
            block += e.value + QByteArray(4 - e.value.size(), '\0');
        }
    }
    return block + le32(0) + extra;
}

void setLong(std::vector<Entry> &entries, quint16 tag, quint32 value)
{
    for (Entry &e : entries) {
        if (e.tag == tag)
            e.value = le32(value);
    }
}

} // namespace

QByteArray dng(const QImage &picture, int orientation, bool dngTags, const QImage &preview)
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
        longs(273, 0),        // strip offset, set once the layout is known
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

    // The camera's preview, as a JPEG in a sub-directory.
    QByteArray jpeg;
    std::vector<Entry> previewEntries;
    if (!preview.isNull()) {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        preview.save(&buffer, "jpeg", 95);
        previewEntries = {longs(254, 1),
                          longs(256, quint32(preview.width())),
                          longs(257, quint32(preview.height())),
                          shorts(258, {8, 8, 8}),
                          shorts(259, {7}),
                          shorts(262, {6}),
                          longs(273, 0),
                          shorts(277, {3}),
                          longs(278, quint32(preview.height())),
                          longs(279, quint32(jpeg.size()))};
        entries.insert(std::upper_bound(entries.begin(), entries.end(), 330,
                                        [](int tag, const Entry &e) { return tag < e.tag; }),
                       longs(330, 0));
    }

    // Header, the raw directory, the preview's, the sensor data, the JPEG.
    const quint32 first = 8;
    const quint32 second = first + quint32(directory(entries, first).size());
    const quint32 sensor = second + (previewEntries.empty() ? 0 : quint32(directory(previewEntries, second).size()));
    const quint32 sensorSize = quint32(w) * quint32(h) * 2;
    setLong(entries, 273, sensor);
    setLong(entries, 330, second);
    setLong(previewEntries, 273, sensor + sensorSize);
    QByteArray file = QByteArray("II*\0", 4) + le32(first) + directory(entries, first);
    if (!previewEntries.empty())
        file += directory(previewEntries, second);

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
    return file + data + jpeg;
}

} // namespace testpictures
