#include "platform/formats/formats.h"

#include <QIODevice>

#include <new>

namespace {

bool isTiff(const QByteArray &head)
{
    return head.startsWith(QByteArrayLiteral("II*\0")) || head.startsWith(QByteArrayLiteral("MM\0*"));
}

// In the first directory of a TIFF-shaped file: a DNG version, or the make
// of a camera whose raw files are TIFF-shaped (NEF, ARW, PEF, SRW, ...).
bool tiffFromCamera(const QByteArray &head)
{
    const bool little = head.startsWith('I');
    const auto u16 = [&](qsizetype at) -> quint32 {
        if (at < 0 || at + 2 > head.size())
            return 0;
        const auto *b = reinterpret_cast<const uchar *>(head.constData() + at);
        return little ? quint32(b[0] | b[1] << 8) : quint32(b[0] << 8 | b[1]);
    };
    const auto u32 = [&](qsizetype at) -> quint32 {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    if (head.mid(8, 2) == "CR") // Canon's CR2
        return true;
    const quint32 ifd = u32(4);
    const quint32 count = u16(ifd);
    for (quint32 i = 0; i < count && i < 512; ++i) {
        const qsizetype entry = qsizetype(ifd) + 2 + qsizetype(i) * 12;
        const quint32 tag = u16(entry);
        if (tag == 50706) // DNGVersion
            return true;
        if (tag == 271) { // Make
            const quint32 length = u32(entry + 4);
            const QByteArray make = (length <= 4 ? head.mid(entry + 8, length) : head.mid(u32(entry + 8), length))
                                        .toUpper();
            static const char *const makers[] = {"NIKON", "SONY", "PENTAX", "RICOH", "SAMSUNG", "CANON", "KODAK",
                                                 "LEICA", "HASSELBLAD", "PHASE ONE", "MAMIYA", "EPSON", "SIGMA"};
            for (const char *maker : makers) {
                if (make.startsWith(maker))
                    return true;
            }
        }
    }
    return false;
}

} // namespace

namespace formats {

QByteArray formatToInsistOn(QIODevice *device)
{
    if (looksLikeRaw(device))
        return "raw";
    // Found by content, a JPEG or PNG would have Qt load every plugin it has
    // to ask it first: some milliseconds before the first picture is shown.
    const QByteArray head = device && device->isOpen() ? device->peek(8) : QByteArray();
    if (head.startsWith("\xFF\xD8\xFF"))
        return "jpeg";
    if (head.startsWith("\x89PNG\r\n\x1A\n"))
        return "png";
    return QByteArray();
}

static thread_local QString t_failure;
static thread_local const PixelStore *t_store = nullptr;

PixelStoreForRead::PixelStoreForRead(const PixelStore &store)
    : m_previous(t_store)
{
    t_store = store ? &store : nullptr;
}

PixelStoreForRead::~PixelStoreForRead()
{
    t_store = m_previous;
}

QImage newPicture(QSize size, QImage::Format format)
{
    if (!t_store)
        return QImage(size, format);
    // The store is for one picture: a second one asked for in the same read
    // (a scratch image) would take the first one's memory away.
    const PixelStore *store = t_store;
    t_store = nullptr;
    try {
        return (*store)(size, format);
    } catch (const std::bad_alloc &) {
        return QImage();
    }
}

void setFailureReason(const QString &reason)
{
    t_failure = reason;
}

QString takeFailureReason()
{
    QString reason;
    reason.swap(t_failure);
    return reason;
}

QByteArray readWhole(QIODevice *device)
{
    // The largest file worth reading: a 1 GiB picture stored without any
    // compression at all, plus room for its container.
    constexpr qint64 kLargestFile = (qint64(1) << 30) + (qint64(64) << 20);
    if (!device)
        return QByteArray();
    const qint64 size = device->size();
    if (!device->isSequential() && (size <= 0 || size > kLargestFile))
        return QByteArray();
    if (device->isSequential()) {
        // A stream says nothing of its size beforehand; read in pieces.
        QByteArray data;
        while (data.size() <= kLargestFile) {
            const QByteArray piece = device->read(1 << 20);
            if (piece.isEmpty())
                break;
            data += piece;
        }
        return data.size() > kLargestFile ? QByteArray() : data;
    }
    return device->read(size - device->pos());
}

} // namespace formats

bool formats::looksLikeRaw(QIODevice *device)
{
    if (!device || !device->isOpen())
        return false;
    const QByteArray head = device->peek(64 * 1024);
    if (head.size() < 16)
        return false;
    if (isTiff(head))
        return tiffFromCamera(head);
    static const QByteArray signatures[] = {
        QByteArrayLiteral("FUJIFILMCCD-RAW"), // RAF
        QByteArrayLiteral("IIRO"), QByteArrayLiteral("IIRS"), QByteArrayLiteral("MMOR"), // ORF
        QByteArrayLiteral("IIU\0"), // RW2
        QByteArrayLiteral("\0MRM"), // MRW
        QByteArrayLiteral("FOVb"),  // X3F
    };
    for (const QByteArray &signature : signatures) {
        if (head.startsWith(signature))
            return true;
    }
    return head.mid(4, 8) == "ftypcrx "; // CR3
}
