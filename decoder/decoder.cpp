// The decoding program's work: decodes the pictures the viewer hands it, one
// at a time, in a process that can do nothing else, with its end of a socket
// as descriptor 3; see platform/decoderprotocol.h.
//
// Built a second time with VELLUPIX_DECODER_LEAN, for the JPEG or PNG the
// viewer is started with: with Qt's JPEG plugin and its own PNG reader only,
// without the other formats' libraries, without fonts and without a GUI
// application, it is ready in a third of the time, and the first picture is
// on screen that much sooner. The viewer runs that one in a copy of itself,
// forked before it has made a thread, where there is nothing left to load.

#include "decoder/decoder.h"
#include "platform/colour.h"
#include "platform/decoderprotocol.h"
#include "platform/decoderproperties.h"
#ifndef VELLUPIX_DECODER_LEAN
#include "platform/formats/formats.h"
#endif
#include "platform/picture.h"
#include "platform/runtimeerror.h"
#include "platform/sandbox.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QImage>
#include <QImageReader>

#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef VELLUPIX_DECODER_MISBEHAVES
#include "misbehaviour.h"
#endif

namespace proto = decoderprotocol;

namespace {

#ifndef VELLUPIX_DECODER_LEAN
// Every image plugin is loaded now: once confined, no library can be opened.
void loadPlugins()
{
    // Asked about nothing, some plugins complain; that says nothing here.
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    for (const QByteArray &format : QImageReader::supportedImageFormats()) {
        QBuffer empty;
        empty.open(QIODevice::ReadOnly);
        QImageReader reader(&empty, format);
        reader.canRead();
    }
    qInstallMessageHandler(previous);
}

// SVG text is drawn with the system's fonts. Their list and the faces of the
// usual families are read now: once confined, no font file can be opened,
// and a family not read here draws nothing instead.
void loadFonts()
{
    QImage scratch(64, 32, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&scratch);
    for (const char *family : {"sans-serif", "serif", "monospace"}) {
        QFont font(QString::fromLatin1(family));
        font.setStyleHint(QFont::AnyStyle, QFont::PreferDefault);
        painter.setFont(font);
        painter.drawText(0, 24, QStringLiteral("Ag"));
        font.setBold(true);
        painter.setFont(font);
        painter.drawText(0, 24, QStringLiteral("Ag"));
    }
}
#endif

void answer(const proto::Reply &reply, const QByteArray &text, int fd)
{
    QByteArray message(reinterpret_cast<const char *>(&reply), sizeof reply);
    message += text;
    proto::sendWithFd(proto::kSocketFd, message.constData(), size_t(message.size()), fd);
}

void answerError(const QString &description)
{
    proto::Reply reply;
    const QByteArray text = description.toUtf8().left(60000);
    reply.errorBytes = std::uint32_t(text.size());
    answer(reply, text, -1);
}

// Shared memory that a decoder can write the pixels straight into, so that
// handing them over costs no copy. Into the viewer's spare, a dropped
// picture's memfd, when that is large enough: a new page costs the kernel
// more than writing it (2.7 us here, a third of a 12-MP JPEG's decoding).
struct SharedPixels
{
    int memfd = -1;
    void *address = nullptr;
    std::size_t bytes = 0;
    int spare = -1;
    // The spare's fixed size when memfd is the spare, else 0.
    std::size_t recycled = 0;

    QImage make(QSize size, QImage::Format format)
    {
        const qsizetype bytesPerLine =
            qsizetype((std::int64_t(size.width()) * QImage::toPixelFormat(format).bitsPerPixel() + 31) / 32 * 4);
        // Asked again when the bands gave up and the reader takes over: a
        // spare taken is offered again.
        unmap();
        if (memfd >= 0 && recycled && spare < 0)
            spare = memfd;
        else if (memfd >= 0)
            ::close(memfd);
        memfd = -1;
        recycled = 0;
        bytes = std::size_t(bytesPerLine) * std::size_t(size.height());
        // Not populated here: whoever writes it populates it, the bands of a
        // JPEG each their own rows at once on their own cores. A spare much
        // larger than the picture would keep the rest of its pages with it,
        // memory the viewer does not count.
        struct stat st;
        if (spare >= 0 && ::fstat(spare, &st) == 0 && std::uint64_t(st.st_size) >= bytes
            && std::uint64_t(st.st_size) <= bytes + bytes / 16) {
            address = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, spare, 0);
            if (address != MAP_FAILED) {
                memfd = std::exchange(spare, -1);
                recycled = std::size_t(st.st_size);
                return QImage(static_cast<uchar *>(address), size.width(), size.height(), bytesPerLine, format);
            }
            address = nullptr;
        }
        memfd = ::memfd_create("vellupix-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        if (memfd < 0 || ::ftruncate(memfd, off_t(bytes)) != 0)
            throw std::bad_alloc();
        address = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, memfd, 0);
        if (address == MAP_FAILED) {
            address = nullptr;
            throw std::bad_alloc();
        }
        return QImage(static_cast<uchar *>(address), size.width(), size.height(), bytesPerLine, format);
    }
    bool holds(const QImage &image) const
    {
        return address && image.constBits() == address && std::size_t(image.sizeInBytes()) == bytes;
    }
    void unmap()
    {
        if (address)
            ::munmap(address, bytes);
        address = nullptr;
    }
    ~SharedPixels()
    {
        unmap();
        if (memfd >= 0)
            ::close(memfd);
        if (spare >= 0)
            ::close(spare);
    }
};

void answerPicture(QImage image, SharedPixels &shared)
{
    const QByteArray properties = proto::encodeProperties(image);
    proto::Reply reply;
    reply.ok = 1;
    reply.width = image.width();
    reply.height = image.height();
    reply.format = image.format();
    reply.bytesPerLine = image.bytesPerLine();
    reply.pixelBytes = std::uint64_t(image.sizeInBytes());
    reply.extraBytes = std::uint64_t(properties.size());
    const std::size_t total = reply.pixelBytes + reply.extraBytes;

    // A spare is sealed at its size: the properties must fit behind the
    // pixels.
    if (shared.holds(image) && (!shared.recycled || total <= shared.recycled)) {
        // Unmapped only once answered (the caller's SharedPixels goes after
        // this): unmapping a 12-MP picture takes 4 ms the viewer would wait.
        image = QImage();
        if ((!shared.recycled && ::ftruncate(shared.memfd, off_t(total)) != 0)
            || ::pwrite(shared.memfd, properties.constData(), reply.extraBytes, off_t(reply.pixelBytes))
                != ssize_t(reply.extraBytes))
            throw std::bad_alloc();
    } else {
        // Decoded elsewhere (another format, or turned upright), or into a
        // spare too small for the properties: copied.
        const int copy = ::memfd_create("vellupix-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        if (copy < 0 || ::ftruncate(copy, off_t(total)) != 0)
            throw std::bad_alloc();
        void *address = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, copy, 0);
        if (address == MAP_FAILED)
            throw std::bad_alloc();
        std::memcpy(address, image.constBits(), reply.pixelBytes);
        std::memcpy(static_cast<char *>(address) + reply.pixelBytes, properties.constData(), reply.extraBytes);
        ::munmap(address, total);
        image = QImage();
        shared.unmap();
        if (shared.memfd >= 0)
            ::close(shared.memfd);
        shared.memfd = copy;
        shared.recycled = 0;
    }
    // Sealed, so that the viewer's mapping cannot shrink under it; a spare
    // came sealed.
    if (!shared.recycled)
        ::fcntl(shared.memfd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL);
    answer(reply, QByteArray(), shared.memfd);
}

} // namespace

int decoder::run(int argc, char **argv)
{
    std::int64_t addressSpace = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--address-space=", 16) == 0)
            addressSpace = std::strtoll(argv[i] + 16, nullptr, 10);
        else if (std::strncmp(argv[i], "--display-profile=", 18) == 0)
            colour::setDisplayProfile(QByteArray::fromBase64(QByteArray(argv[i] + 18)));
    }
    if (::fcntl(proto::kSocketFd, F_GETFD) < 0) {
        std::fputs("vellupix-decoder: started by the viewer only\n", stderr);
        return 2;
    }
    // Qt's start-up warnings, which the viewer gives once already, libjxl's
    // failure lines, libpng's and libjpeg's warnings on damaged files.
    sandbox::silenceStderr();
    // Qt's own event dispatcher: GLib's wants a new pipe for every thread,
    // and threads are made after confinement.
    qputenv("QT_NO_GLIB", "1");
#ifdef VELLUPIX_DECODER_LEAN
    QCoreApplication app(argc, argv);
    {
        // Qt's JPEG plugin alone (for what the bands leave to it; PNG is
        // Qt's own): a reader left to detect formats would load every
        // plugin to ask it.
        QBuffer empty;
        empty.open(QIODevice::ReadOnly);
        QImageReader reader(&empty, "jpeg");
        reader.setAutoDetectImageFormat(false);
        reader.canRead();
    }
#else
    // A GUI application without a screen, for the fonts SVG text needs.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    formats::registerPlugins();
    loadPlugins();
    loadFonts();
#endif

    if (addressSpace > 0)
        sandbox::limitAddressSpace(addressSpace);
    const sandbox::Confinement confinement = sandbox::confine();
    proto::Hello hello;
    hello.confinement = (confinement.seccomp ? proto::kSeccomp : 0) | (confinement.landlock ? proto::kLandlock : 0);
    proto::sendWithFd(proto::kSocketFd, &hello, sizeof hello, -1);

    std::vector<char> buffer(sizeof(proto::Request) + 65536);
    for (;;) {
        int fds[proto::kMaxFds];
        const ssize_t n = proto::receiveWithFds(proto::kSocketFd, buffer.data(), buffer.size(), fds, proto::kMaxFds);
        const int fd = fds[0];
        // The viewer closed its end: nothing left to do, and no exit handler
        // to run in a process that may no longer open anything.
        if (n <= 0)
            ::_exit(0);
        proto::Request request;
        if (size_t(n) < sizeof request || fd < 0) {
            for (const int received : fds) {
                if (received >= 0)
                    ::close(received);
            }
            answerError(QStringLiteral("The request could not be read."));
            continue;
        }
        std::memcpy(&request, buffer.data(), sizeof request);
        const QString name = QString::fromUtf8(buffer.data() + sizeof request,
                                               qsizetype(std::min<size_t>(request.nameBytes, size_t(n) - sizeof request)));
        try {
            SharedPixels shared;
            shared.spare = request.spare ? fds[1] : -1;
            if (!request.spare && fds[1] >= 0)
                ::close(fds[1]);
#ifdef VELLUPIX_DECODER_MISBEHAVES
            misbehaveOn(fd);
            if (rewritesAfterAnswering(fd)) {
                ::close(fd);
                QImage picture = shared.make(QSize(64, 64), QImage::Format_Indexed8);
                picture.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
                picture.fill(1);
                answerPicture(picture, shared);
                keepRewriting(shared.address, shared.bytes, 255);
                shared.address = nullptr; // left to the thread
                continue;
            }
#endif
            picture::setCoresForDecoding(int(std::min<std::uint32_t>(request.cores, 256)), request.windowStarting != 0);
            const auto store = [&](QSize size, QImage::Format format) { return shared.make(size, format); };
            QImage image = request.own ? picture::decodeOwnPictureFile(fd, name, store)
                                       : picture::decodePictureFile(fd, name, store);
            answerPicture(std::move(image), shared);
        } catch (const RuntimeError &error) {
            answerError(error.description());
        } catch (const std::bad_alloc &) {
            answerError(QStringLiteral("There is not enough memory to decode \u201c%1\u201d.").arg(name));
        } catch (const std::exception &error) {
            answerError(QStringLiteral("The picture \u201c%1\u201d could not be decoded (%2).")
                            .arg(name, QString::fromLocal8Bit(error.what())));
        } catch (...) {
            answerError(QStringLiteral("The picture \u201c%1\u201d could not be decoded.").arg(name));
        }
    }
}
