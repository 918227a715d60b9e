#include "platform/decoderproperties.h"

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
