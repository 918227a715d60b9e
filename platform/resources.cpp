#include "platform/resources.h"

#include <QBitmap>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>

static void initArt()
{
    Q_INIT_RESOURCE(art);
}

// Read as the format its name says, and as nothing else: asked to find the
// format itself, Qt first loads every image plugin on the system to ask
// each of them, which cost the start over ten milliseconds.
static QPixmap artPixmap(const QString &path)
{
    QImageReader reader(path, QFileInfo(path).suffix().toLatin1());
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

namespace art {

void initResources()
{
    initArt();
}

QIcon frameIcon()
{
    return QIcon(artPixmap(QStringLiteral(":/vellupix/icons/vellupix.xpm")));
}

QIcon childWindowIcon()
{
    return QIcon(artPixmap(QStringLiteral(":/vellupix/icons/picture_window.xpm")));
}

QPixmap aboutLogo(qreal devicePixelRatio)
{
    // Drawn twice, at its design size and at twice the pixels; the second is
    // for screens of a device pixel ratio above 1, and shows at the same size.
    if (devicePixelRatio > 1.0) {
        QPixmap sharp = artPixmap(QStringLiteral(":/vellupix/about/logo@2x.png"));
        sharp.setDevicePixelRatio(2.0);
        return sharp;
    }
    return artPixmap(QStringLiteral(":/vellupix/about/logo.xpm"));
}

QIcon toolbarImage(int n)
{
    static const char *const names[] = {"01_open",  "02_save",     "03_first",  "04_previous", "05_next",
                                        "06_last",  "07_delete",   "08_print",  "09_start",    "10_stop",
                                        "11_magnify", "12_shrink", "13_about",  "14_exit"};
    if (n < 1 || n > 14)
        return QIcon();
    const QString name = QLatin1String(names[n - 1]);
    QPixmap pixmap = artPixmap(QStringLiteral(":/vellupix/toolbar/%1.xpm").arg(name));
    if (pixmap.isNull())
        return QIcon();
    // The image list's mask colour: silver is the background, never the art.
    pixmap.setMask(pixmap.createMaskFromColor(QColor(192, 192, 192), Qt::MaskInColor));
    QIcon icon(pixmap);
    // A screen with twice the pixels gets the art drawn for it, which
    // carries its own transparency; the icon picks it by size.
    QPixmap sharp = artPixmap(QStringLiteral(":/vellupix/toolbar/%1@2x.png").arg(name));
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
