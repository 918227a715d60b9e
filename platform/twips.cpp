#include "platform/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

TwipScale TwipScale::forWidget(const QWidget *widget)
{
    TwipScale s;
    if (widget) {
        s.logicalDpi = widget->logicalDpiX();
        s.devicePixelRatio = widget->devicePixelRatioF();
    } else if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        s.logicalDpi = screen->logicalDotsPerInchX();
        s.devicePixelRatio = screen->devicePixelRatio();
    }
    if (s.logicalDpi <= 0)
        s.logicalDpi = 96.0;
    if (s.devicePixelRatio <= 0)
        s.devicePixelRatio = 1.0;
    return s;
}
