#include "platform/picture.h"

#include "platform/filelist.h"
#include "platform/runtimeerror.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace picture {

static std::atomic<int> g_failingWrites{0};

void failNextWritesForTesting(int count)
{
    g_failingWrites = count;
}

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

static QImage readFrom(QImageReader &reader, const QString &name, const PixelStore &store = {})
{
    reader.setAutoTransform(true);
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
    } else {
        // Qt's JPEG handler writes every pixel into an image of the right
        // size and format it is given; other handlers may keep what it held.
        if (store && format == "jpeg" && size.isValid() && reader.imageFormat() != QImage::Format_Invalid)
            image = store(size, reader.imageFormat());
        reader.read(&image);
    }
    if (image.isNull()) {
        if (reader.error() == QImageReader::UnsupportedFormatError)
            throw RuntimeError(QStringLiteral("\u201c%1\u201d is not a picture this program can read.").arg(name));
        throw RuntimeError(QStringLiteral("The picture \u201c%1\u201d is damaged or uses a kind of %2 this program cannot decode.")
                               .arg(name, QString::fromLatin1(format.toUpper())));
    }
    return image;
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
        throw RuntimeError(QStringLiteral("The file \u201c%1\u201d cannot be opened (%2).")
                               .arg(name, QString::fromLocal8Bit(std::strerror(err))));
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
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

QImage decodePictureFile(int fd, const QString &name, const PixelStore &store)
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

QString displayedName(const QByteArray &nativePath)
{
    return shown(nativePath);
}

QImage LoadPicture(const QByteArray &nativePath, FileStamp *stamp)
{
    if (stamp)
        *stamp = FileStamp();
    if (nativePath.isEmpty())
        return QImage();
    applyAllocationLimit();

    if (nativePath.startsWith(":/")) {
        QImageReader reader(QString::fromUtf8(nativePath));
        return readFrom(reader, QString::fromUtf8(nativePath));
    }
    const int fd = openPictureFile(nativePath, stamp);
    return decodePictureFile(fd, shown(nativePath));
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

void SavePicture(const QImage &picture, const QString &fileName)
{
    if (picture.isNull())
        throw RuntimeError(QStringLiteral("There is no picture to save."));
    const QString name = displayName(fileName);
    const QByteArray format = formatForFileName(fileName);

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw RuntimeError(QStringLiteral("\u201c%1\u201d cannot be written (%2).").arg(name, file.errorString()));

    QImageWriter writer(&file, format);
    if (format == "jpeg")
        writer.setQuality(92);
    QString failure;
    if (g_failingWrites > 0) {
        --g_failingWrites;
        failure = QString::fromLocal8Bit(std::strerror(ENOSPC));
    } else if (!writer.write(picture)) {
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
    if (!file.commit())
        throw RuntimeError(QStringLiteral("\u201c%1\u201d cannot be written (%2).").arg(name, file.errorString()));
}

} // namespace picture
