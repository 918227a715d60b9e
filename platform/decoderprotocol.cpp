#include "platform/decoderprotocol.h"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

namespace decoderprotocol {

ssize_t sendWithFd(int socket, const void *data, std::size_t size, int fd)
{
    iovec io{const_cast<void *>(data), size};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    if (fd >= 0) {
        std::memset(control, 0, sizeof control);
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr *c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &fd, sizeof(int));
    }
    ssize_t n;
    do
        n = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
}

ssize_t receiveWithFd(int socket, void *data, std::size_t capacity, int *fd)
{
    *fd = -1;
    iovec io{data, capacity};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do
        n = ::recvmsg(socket, &msg, MSG_CMSG_CLOEXEC);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return n;
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int received;
            std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
            if (*fd < 0)
                *fd = received;
            else
                ::close(received);
        }
    }
    if (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) {
        // A message that did not fit is not trusted in part.
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
        errno = EMSGSIZE;
        return -1;
    }
    return n;
}

} // namespace decoderprotocol

#include <QBuffer>
#include <QColorSpace>
#include <QDataStream>
#include <QImage>
#include <QMap>

namespace decoderprotocol {

QByteArray encodeProperties(const QImage &image)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    QMap<QString, QString> text;
    for (const QString &key : image.textKeys())
        text.insert(key, image.text(key));
    // Named primaries and transfer functions go by name: through an ICC
    // profile a gamma of 1 would come back as another, if equivalent, space.
    const QColorSpace space = image.colorSpace();
    const bool custom = space.primaries() == QColorSpace::Primaries::Custom
        || space.transferFunction() == QColorSpace::TransferFunction::Custom;
    const QByteArray icc = space.isValid() && custom ? space.iccProfile() : QByteArray();
    // A resolution the file did not give is the process's default, which
    // follows the screen: the receiver's own default stands for it.
    const QImage plain(1, 1, QImage::Format_RGB32);
    const bool given = image.dotsPerMeterX() != plain.dotsPerMeterX() || image.dotsPerMeterY() != plain.dotsPerMeterY();
    out << image.colorTable() << space.isValid() << qint32(space.primaries()) << qint32(space.transferFunction())
        << space.gamma() << icc << qint32(given ? image.dotsPerMeterX() : 0)
        << qint32(given ? image.dotsPerMeterY() : 0)
        << image.offset() << text;
    return bytes;
}

bool decodeProperties(const QByteArray &bytes, QImage &image)
{
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_4);
    QList<QRgb> colorTable;
    bool spaceValid = false;
    qint32 primaries = 0, transfer = 0;
    float gamma = 0;
    QByteArray icc;
    qint32 dpmX = 0, dpmY = 0;
    QPoint offset;
    QMap<QString, QString> text;
    in >> colorTable >> spaceValid >> primaries >> transfer >> gamma >> icc >> dpmX >> dpmY >> offset >> text;
    if (in.status() != QDataStream::Ok || colorTable.size() > 256)
        return false;
    if (!colorTable.isEmpty())
        image.setColorTable(colorTable);
    if (!icc.isEmpty())
        image.setColorSpace(QColorSpace::fromIccProfile(icc));
    else if (spaceValid)
        image.setColorSpace(QColorSpace(QColorSpace::Primaries(primaries), QColorSpace::TransferFunction(transfer), gamma));
    image.setDotsPerMeterX(dpmX);
    image.setDotsPerMeterY(dpmY);
    image.setOffset(offset);
    for (auto it = text.cbegin(); it != text.cend(); ++it)
        image.setText(it.key(), it.value());
    return true;
}

} // namespace decoderprotocol
