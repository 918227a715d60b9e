#include "platform/resources.h"

#include <QBitmap>
#include <QDir>
#include <QPixmap>

static void initArt()
{
    Q_INIT_RESOURCE(art);
}

namespace art {

void initResources()
{
    initArt();
}

QIcon frameIcon()
{
    return QIcon(QStringLiteral(":/vellupix/icons/vellupix.xpm"));
}

QIcon childWindowIcon()
{
    return QIcon(QStringLiteral(":/vellupix/icons/picture_window.xpm"));
}

QPixmap aboutLogo(qreal devicePixelRatio)
{
    // Drawn twice, at its design size and at twice the pixels; the second is
    // for screens of a device pixel ratio above 1, and shows at the same size.
    if (devicePixelRatio > 1.0) {
        QPixmap sharp(QStringLiteral(":/vellupix/about/logo@2x.png"));
        sharp.setDevicePixelRatio(2.0);
        return sharp;
    }
    return QPixmap(QStringLiteral(":/vellupix/about/logo.xpm"));
}

QIcon toolbarImage(int n)
{
    static const char *const names[] = {"01_open",  "02_save",     "03_first",  "04_previous", "05_next",
                                        "06_last",  "07_delete",   "08_print",  "09_start",    "10_stop",
                                        "11_magnify", "12_shrink", "13_about",  "14_exit"};
    if (n < 1 || n > 14)
        return QIcon();
    const QString name = QLatin1String(names[n - 1]);
    QPixmap pixmap(QStringLiteral(":/vellupix/toolbar/%1.xpm").arg(name));
    if (pixmap.isNull())
        return QIcon();
    // The image list's mask colour: silver is the background, never the art.
    pixmap.setMask(pixmap.createMaskFromColor(QColor(192, 192, 192), Qt::MaskInColor));
    QIcon icon(pixmap);
    // A screen with twice the pixels gets the art drawn for it, which
    // carries its own transparency; the icon picks it by size.
    QPixmap sharp(QStringLiteral(":/vellupix/toolbar/%1@2x.png").arg(name));
    if (!sharp.isNull()) {
        sharp.setDevicePixelRatio(2.0);
        icon.addPixmap(sharp);
    }
    return icon;
}

QByteArray handCursorPath()
{
    return QByteArrayLiteral(":/vellupix/cursors/hand.cur");
}

} // namespace art
