#include "app/toolbarstyle.h"

#include <QImage>
#include <QPainter>
#include <QStyleOptionToolBar>

#include <cstring>

namespace {

// Whether every column (along a horizontal bar) or every row (along a
// vertical one) equals the first.
bool sameAlong(const QImage &image, bool horizontal)
{
    if (horizontal) {
        for (int y = 0; y < image.height(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 1; x < image.width(); ++x) {
                if (line[x] != line[0])
                    return false;
            }
        }
        return true;
    }
    const std::size_t bytes = std::size_t(image.width()) * sizeof(QRgb);
    for (int y = 1; y < image.height(); ++y) {
        if (std::memcmp(image.constScanLine(y), image.constScanLine(0), bytes) != 0)
            return false;
    }
    return true;
}

} // namespace

void ToolBarStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                               const QWidget *widget) const
{
    const auto *bar = qstyleoption_cast<const QStyleOptionToolBar *>(option);
    const bool horizontal = bar && (bar->state & State_Horizontal);
    if (element != CE_ToolBar || !bar || !painter || !painter->device() || bar->rect.isEmpty()
        || (horizontal ? bar->rect.width() : bar->rect.height()) <= kSliceLength) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }

    QStyleOptionToolBar slice = *bar;
    slice.rect = horizontal ? QRect(0, 0, kSliceLength, bar->rect.height()) : QRect(0, 0, bar->rect.width(), kSliceLength);
    const qreal ratio = painter->device()->devicePixelRatio();
    QImage image((QSizeF(slice.rect.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    image.setDevicePixelRatio(ratio);
    // Transparent, so that the slice lies over what lies beneath the bar as
    // the style's own painting would.
    image.fill(Qt::transparent);
    {
        QPainter slicePainter(&image);
        slicePainter.setRenderHints(painter->renderHints());
        QProxyStyle::drawControl(element, &slice, &slicePainter, widget);
    }
    if (!sameAlong(image, horizontal)) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const QRectF first = horizontal ? QRectF(0, 0, 1, image.height()) : QRectF(0, 0, image.width(), 1);
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter->drawImage(QRectF(bar->rect), image, first);
    painter->restore();
}
