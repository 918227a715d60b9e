#include "app/resources.h"

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

QImage aboutLogo()
{
    return QImage(QStringLiteral(":/vellupix/about/logo.xpm"));
}

QIcon toolbarImage(int n)
{
    static const char *const names[] = {"01_open",  "02_save",     "03_first",  "04_previous", "05_next",
                                        "06_last",  "07_delete",   "08_print",  "09_start",    "10_stop",
                                        "11_magnify", "12_shrink", "13_about",  "14_exit"};
    if (n < 1 || n > 14)
        return QIcon();
    QPixmap pixmap(QStringLiteral(":/vellupix/toolbar/%1.xpm").arg(QLatin1String(names[n - 1])));
    if (pixmap.isNull())
        return QIcon();
    // The image list's mask colour: silver is the background, never the art.
    pixmap.setMask(pixmap.createMaskFromColor(QColor(192, 192, 192), Qt::MaskInColor));
    QIcon icon(pixmap);
    // On a screen with twice the pixels the art is doubled pixel for pixel,
    // never smoothed into a blur.
    QPixmap doubled = pixmap.scaled(pixmap.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    doubled.setDevicePixelRatio(2.0);
    icon.addPixmap(doubled);
    return icon;
}

QByteArray handCursorPath()
{
    return QByteArrayLiteral(":/vellupix/cursors/hand.cur");
}

} // namespace art
