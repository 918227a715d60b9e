#include "platform/picture.h"

#include "platform/colour.h"
#include "platform/filelist.h"
#include "platform/formats/formats.h"
#include "platform/jpegbands.h"
#include "platform/jpegrows.h"
#include "platform/runtimeerror.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace picture {

static QString shown(const QByteArray &nativePath)
{
    return displayName(QFile::decodeName(nativePath));
}

static void applyAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Qt refuses anything over 128 MB by default, less than one 36-MP
        // photograph; the size check below gives the clearer message first.
        QImageReader::setAllocationLimit(int(kAllocationLimitBytes >> 20) + 1);
    });
}

// Bands pay off only on idle cores: on a busy one, the rows a band skips are
// work added that no idle core takes up. The kernel counts the threads
// running at this instant, this one included.
static int idleCores()
{
    const int cores = std::max(1, QThread::idealThreadCount());
    char text[128] = {};
    const int fd = ::open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return cores;
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    // "0.52 0.58 0.59 3/467 12345": the fourth field is running/all.
    int running = 0;
    if (got <= 0 || std::sscanf(text, "%*s %*s %*s %d/", &running) != 1)
        return cores;
    return std::clamp(cores - (running - 1), 1, cores);
}

static std::atomic<int> g_coresForDecoding{0};
static std::atomic<bool> g_windowStarting{false};

void setCoresForDecoding(int cores, bool windowStarting)
{
    g_coresForDecoding = std::max(0, cores);
    g_windowStarting = windowStarting;
}

// The whole of the file behind a reader, or empty.
static QByteArray wholeFile(QImageReader &reader)
{
    auto *file = qobject_cast<QFile *>(reader.device());
    if (!file || file->handle() < 0)
        return QByteArray();
    struct stat st;
    if (::fstat(file->handle(), &st) != 0 || st.st_size <= 0 || st.st_size > kAllocationLimitBytes)
        return QByteArray();
    // pread, not a mapping: a file cut short meanwhile must not bring the
    // process down with SIGBUS.
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::pread(file->handle(), bytes.data() + filled, size_t(bytes.size() - filled), filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return QByteArray();
        if (got == 0)
            break;
        filled += got;
    }
    bytes.truncate(filled);
    return bytes;
}

static int coresFor(QSize size)
{
    const std::int64_t pixels = std::int64_t(size.width()) * size.height();
    // Below a megapixel, starting threads costs about what they save.
    if (pixels < (1 << 20))
        return 1;
    const int given = g_coresForDecoding;
    const int cores = given > 0 ? given : idleCores();
    // The window being built takes a core until it is up, some 40 ms. A
    // picture of up to 8 MP is decoded on the others by then, and a band
    // more would only take the window's core for the rows it skips; a
    // larger one outlasts the start and gets the window's core after it.
    if (g_windowStarting && pixels <= 8 * (1 << 20))
        return std::max(1, cores - 1);
    return cores;
}

// A JPEG file is decoded in bands on every idle core; whatever the banded decoder
// does not take (or fails on) goes through the reader as before, so that the
// pictures and the error reports stay exactly the reader's.
static QImage readJpegInBands(QImageReader &reader, const PixelStore &store)
{
    const QByteArray bytes = wholeFile(reader);
    if (bytes.isEmpty())
        return QImage();
    QImage image = jpegbands::decode(bytes, coresFor(reader.size()), kAllocationLimitBytes, nullptr, store);
    if (image.isNull())
        return image;
    image = jpegbands::oriented(image, reader.transformation());
    // The bands carry no profile: the file's own is attached as the reader
    // would attach it.
    colour::tag(image, colour::embeddedProfile(reader.device(), "jpeg"));
    return image;
}

namespace {
// A picture as its file holds it: its own pixels, tagged with their colour
// space, or with a profile only LittleCMS understands beside them; or CMYK
// bytes with their printer's profile.
struct Decoded
{
    QImage image;
    QByteArray lcmsOnly;
    bool cmyk = false;
    bool inverted = false; // CMYK stored as 255 minus the ink
};
} // namespace

// A CMYK JPEG with a printer's profile: Qt's reader would turn it into RGB
// by a rule of thumb, after which no profile applies. Its own CMYK pixels
// are decoded instead, for LittleCMS to turn into colours.
static Decoded readCmykJpeg(QImageReader &reader)
{
    const QByteArray icc = colour::embeddedProfile(reader.device(), "jpeg");
    if (!colour::isCmykProfile(icc))
        return Decoded();
    Decoded decoded;
    decoded.image = jpegbands::decodeCmyk(wholeFile(reader), coresFor(reader.size()), kAllocationLimitBytes,
                                          &decoded.inverted);
    if (decoded.image.isNull())
        return Decoded();
    decoded.image = jpegbands::oriented(decoded.image, reader.transformation());
    decoded.lcmsOnly = icc;
    decoded.cmyk = true;
    return decoded;
}

// A decoded picture in the display's colours.
static QImage shownColours(Decoded decoded, const PixelStore &store = {})
{
    if (decoded.cmyk) {
        QImage shown = colour::cmykToDisplay(decoded.image, decoded.lcmsOnly, decoded.inverted,
                                             [&](QSize size) { return store ? store(size, QImage::Format_RGB32)
                                                                            : QImage(size, QImage::Format_RGB32); });
        if (shown.isNull())
            throw std::bad_alloc();
        return shown;
    }
    // Handed over: a picture nobody else holds is converted where it lies.
    return colour::toDisplay(std::move(decoded.image), decoded.lcmsOnly);
}

static Decoded readFrom(QImageReader &reader, const QString &name, const PixelStore &store = {})
{
    // Left behind by an earlier read on this thread that never got as far
    // as asking for them.
    formats::takeFailureReason();
    colour::takeUnderstoodByLcmsOnly();
    reader.setAutoTransform(true);
    const QByteArray insisted = formats::formatToInsistOn(reader.device());
    if (!insisted.isEmpty()) {
        reader.setFormat(insisted);
        // Straight to the one reader of that format: with detection left on,
        // Qt loads every plugin it has to ask whether it reads the format.
        // A raw file keeps it: which reader takes one ours refuses stays as
        // it was.
        reader.setAutoDetectImageFormat(insisted == "raw");
    }
    if (!reader.canRead())
        throw RuntimeError(QStringLiteral("\u201c%1\u201d is not a picture this program can read.").arg(name));
    // Asked before anything is read: some handlers no longer name their
    // format once the header has been consumed.
    const QByteArray format = reader.format();

    const QSize size = reader.size();
    if (size.isValid()) {
        const std::int64_t bytes = std::int64_t(size.width()) * size.height() * 4;
        if (bytes > kAllocationLimitBytes)
            throw RuntimeError(QStringLiteral("The picture \u201c%1\u201d is too large to load (%2 \u00d7 %3 pixels).")
                                   .arg(name)
                                   .arg(size.width())
                                   .arg(size.height()));
    }

    QImage image;
    bool read = false;
    if ((format == "ico" || format == "cur") && reader.imageCount() > 1) {
        // An icon holds several sizes; the largest is the one worth viewing.
        QImage best;
        for (int i = 0; i < reader.imageCount(); ++i) {
            if (!reader.jumpToImage(i))
                break;
            QImage candidate;
            if (reader.read(&candidate)
                && qint64(candidate.width()) * candidate.height() > qint64(best.width()) * best.height())
                best = candidate;
        }
        image = best;
        read = !image.isNull();
    } else {
        if (format == "jpeg") {
            image = readJpegInBands(reader, store);
            read = !image.isNull();
            if (!read) {
                Decoded cmyk = readCmykJpeg(reader);
                if (cmyk.cmyk)
                    return cmyk;
            }
        }
        if (!read) {
            // Qt's JPEG handler writes every pixel into an image of the right
            // size and format it is given; other handlers may keep what it held.
            if (store && format == "jpeg" && size.isValid() && reader.imageFormat() != QImage::Format_Invalid) {
                image = store(size, reader.imageFormat());
                jpegrows::prefault(image.bits(), std::size_t(image.sizeInBytes()));
            }
            // Qt's PNG reader leaves some pixels of valid files unwritten (16
            // bits a channel with a transparent colour): cleared first, they
            // are the same on every load instead of whatever the heap held.
            // It keeps an image of the right size and format it is given, so
            // a decoder's PNG lands where it is handed over.
            if (format == "png" && size.isValid() && reader.imageFormat() != QImage::Format_Invalid) {
                image = store ? store(size, reader.imageFormat()) : QImage(size, reader.imageFormat());
                image.fill(0);
            }
            // Our own plugins write into the store themselves where they can.
            static const PixelStore none;
            const formats::PixelStoreForRead offered(image.isNull() ? store : none);
            // A reader that says it failed has failed, whatever it left behind:
            // Qt's TIFF reader leaves a black picture for data it cannot decode.
            read = reader.read(&image);
        }
    }
    if (!read || image.isNull()) {
        const QString reason = formats::takeFailureReason();
        if (reason.isEmpty() && reader.error() == QImageReader::UnsupportedFormatError)
            throw RuntimeError(QStringLiteral("\u201c%1\u201d is not a picture this program can read.").arg(name));
        const QString message = QStringLiteral("The picture \u201c%1\u201d is damaged or uses a kind of %2 this program cannot decode")
                                    .arg(name, QString::fromLatin1(format.toUpper()));
        throw RuntimeError(reason.isEmpty() ? message + u'.' : QStringLiteral("%1 (%2).").arg(message, reason));
    }

    Decoded decoded{image, colour::takeUnderstoodByLcmsOnly()};
    if (!image.colorSpace().isValid() && decoded.lcmsOnly.isEmpty())
        decoded.lcmsOnly = colour::embeddedProfile(reader.device(), format);
    return decoded;
}

static FileStamp stampFrom(const struct stat &st)
{
    return FileStamp{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::int64_t(st.st_size),
                     std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

FileStamp stampOf(const QByteArray &nativePath)
{
    struct stat st;
    if (nativePath.isEmpty() || ::stat(nativePath.constData(), &st) != 0)
        return FileStamp();
    return stampFrom(st);
}

FileStamp stampOfOpen(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return FileStamp();
    return stampFrom(st);
}

static std::function<void(const QByteArray &)> g_beforeOpen;

void setBeforeOpenForTesting(std::function<void(const QByteArray &)> hook)
{
    g_beforeOpen = std::move(hook);
}

int openPictureFile(const QByteArray &nativePath, FileStamp *stamp)
{
    if (stamp)
        *stamp = FileStamp();
    if (g_beforeOpen)
        g_beforeOpen(nativePath);
    const QString name = shown(nativePath);
    // Non-blocking, so that a FIFO that slipped past the listing cannot hang us
    // in open(); anything but a regular file is refused right after.
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT)
            throw RuntimeError(QStringLiteral("The file \u201c%1\u201d cannot be found.").arg(name));
        throw RuntimeError(QStringLiteral("The file \u201c%1\u201d cannot be opened (%2).").arg(name, qt_error_string(err)));
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        throw RuntimeError(QStringLiteral("The file \u201c%1\u201d cannot be read (%2).").arg(name, qt_error_string(err)));
    }
    if (!S_ISREG(st.st_mode)) {
        const bool folder = S_ISDIR(st.st_mode);
        ::close(fd);
        if (folder)
            throw RuntimeError(QStringLiteral("\u201c%1\u201d is a folder, not a picture.").arg(name));
        throw RuntimeError(QStringLiteral("\u201c%1\u201d is not a regular file.").arg(name));
    }
    if (stamp)
        *stamp = stampFrom(st);
    if (st.st_size == 0) {
        ::close(fd);
        throw RuntimeError(QStringLiteral("The file \u201c%1\u201d is empty.").arg(name));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

static Decoded decodeOpenFile(int fd, const QString &name, const PixelStore &store)
{
    applyAllocationLimit();
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw RuntimeError(QStringLiteral("The file \u201c%1\u201d cannot be read.").arg(name));
    }
    QImageReader reader(&file);
    return readFrom(reader, name, store);
}

QImage decodePictureFile(int fd, const QString &name, const PixelStore &store)
{
    return shownColours(decodeOpenFile(fd, name, store), store);
}

QString displayedName(const QByteArray &nativePath)
{
    return shown(nativePath);
}

static Decoded decodeFile(const QByteArray &nativePath, FileStamp *stamp)
{
    if (stamp)
        *stamp = FileStamp();
    if (nativePath.isEmpty())
        return Decoded();
    applyAllocationLimit();

    if (nativePath.startsWith(":/")) {
        QImageReader reader(QString::fromUtf8(nativePath));
        return readFrom(reader, QString::fromUtf8(nativePath));
    }
    const int fd = openPictureFile(nativePath, stamp);
    return decodeOpenFile(fd, shown(nativePath), {});
}

QImage LoadPicture(const QByteArray &nativePath, FileStamp *stamp)
{
    return shownColours(decodeFile(nativePath, stamp));
}

static QImage ownPixels(Decoded decoded)
{
    // A profile Qt cannot carry would be lost on the way to the encoder:
    // then the colours as shown are the closest a file can keep.
    if (!decoded.lcmsOnly.isEmpty())
        return shownColours(std::move(decoded));
    return decoded.image;
}

QImage LoadOwnPicture(const QByteArray &nativePath)
{
    return ownPixels(decodeFile(nativePath, nullptr));
}

QImage decodeOwnPictureFile(int fd, const QString &name, const PixelStore &store)
{
    return ownPixels(decodeOpenFile(fd, name, store));
}

QByteArray formatForFileName(const QString &fileName)
{
    const QByteArray suffix = QFileInfo(fileName).suffix().toLower().toLatin1();
    if (suffix == "jpg" || suffix == "jpeg" || suffix == "jpe" || suffix == "jfif")
        return "jpeg";
    if (suffix == "tif")
        return "tiff";
    if (!suffix.isEmpty() && QImageWriter::supportedImageFormats().contains(suffix))
        return suffix;
    return "bmp";
}

bool SaveCancellation::cancel()
{
    int writing = Writing;
    return m_state.compare_exchange_strong(writing, Cancelled) || writing == Cancelled;
}

bool SaveCancellation::proceed()
{
    int writing = Writing;
    return m_state.compare_exchange_strong(writing, Replacing);
}

void SavePicture(const QImage &picture, const QString &fileName, SaveCancellation *cancellation)
{
    if (picture.isNull())
        throw RuntimeError(QStringLiteral("There is no picture to save."));
    const QString name = displayName(fileName);
    const QByteArray format = formatForFileName(fileName);

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw RuntimeError(QStringLiteral("\u201c%1\u201d cannot be written (%2).").arg(name, file.errorString()));

    QImage written = picture;
    const bool carriesProfile = format == "jpeg" || format == "png" || format == "tiff" || format == "webp";
    if (!carriesProfile && written.colorSpace().isValid() && written.colorSpace() != QColorSpace(QColorSpace::SRgb)) {
        // A file without a profile is taken for sRGB wherever it is opened.
        if (written.format() != QImage::Format_RGB32 && written.format() != QImage::Format_ARGB32)
            written.convertTo(written.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        written.convertToColorSpace(QColorSpace::SRgb);
    }

    QImageWriter writer(&file, format);
    if (format == "jpeg")
        writer.setQuality(92);
    QString failure;
    if (!writer.write(written)) {
        failure = file.error() != QFileDevice::NoError ? file.errorString() : writer.errorString();
        if (failure.isEmpty())
            failure = QStringLiteral("the encoder refused the picture");
    }
    if (!failure.isEmpty()) {
        // Not committing discards the temporary file; the target is untouched.
        file.cancelWriting();
        throw RuntimeError(QStringLiteral("\u201c%1\u201d cannot be written as %2 (%3).")
                               .arg(name, QString::fromLatin1(format.toUpper()), failure));
    }
    if (g_beforeOpen)
        g_beforeOpen(QFile::encodeName(fileName));
    if (cancellation && !cancellation->proceed()) {
        file.cancelWriting();
        throw RuntimeError(QStringLiteral("Writing \u201c%1\u201d was cancelled.").arg(name));
    }
    if (!file.commit())
        throw RuntimeError(QStringLiteral("\u201c%1\u201d cannot be written (%2).").arg(name, file.errorString()));
}

} // namespace picture
