#include "platform/picturebox.h"

#include "platform/reducedcopies.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QTimer>

#include <utility>

#include <cmath>

void PictureBox::setLeft(float v)
{
    m_left = v;
    notify();
}

void PictureBox::setTop(float v)
{
    m_top = v;
    notify();
}

void PictureBox::setWidth(float v)
{
    m_width = v;
    notify();
}

void PictureBox::setHeight(float v)
{
    m_height = v;
    notify();
}

void PictureBox::setVisible(bool v)
{
    m_visible = v;
    notify();
}

void PictureBox::setPicture(const QImage &picture)
{
    m_picture = picture;
    m_strokes.clear();
    if (!picture.isNull()) {
        m_width = m_scale.pictureTwips(picture.width());
        m_height = m_scale.pictureTwips(picture.height());
    }
    notify();
}

void PictureBox::PaintPicture(const QImage &source, QRectF destination, QRectF sourceRect,
                              std::shared_ptr<const ReducedCopies> copies)
{
    if (source.isNull())
        return;
    m_strokes.push_back({source, destination, sourceRect, {}, std::move(copies)});
    notify();
}

QImage PictureBox::shownPicture() const
{
    if (!m_picture.isNull())
        return m_picture;
    if (!m_strokes.empty())
        return m_strokes.back().source;
    return QImage();
}

namespace {

// The whole pixels inside an area, less a margin.
QRect wholePixelsInside(const QRectF &area, int margin)
{
    const int left = int(std::ceil(area.left())) + margin;
    const int top = int(std::ceil(area.top())) + margin;
    const int right = int(std::floor(area.right())) - margin;
    const int bottom = int(std::floor(area.bottom())) - margin;
    if (right <= left || bottom <= top)
        return QRect();
    return QRect(left, top, right - left, bottom - top);
}

// Black wherever the area is not the hole, which lies inside it.
void fillAround(QPainter &painter, const QRectF &area, const QRect &hole)
{
    if (hole.isEmpty()) {
        painter.fillRect(area, Qt::black);
        return;
    }
    const double holeRight = hole.x() + hole.width();
    const double holeBottom = hole.y() + hole.height();
    const QRectF strips[] = {
        QRectF(area.left(), area.top(), area.width(), hole.y() - area.top()),
        QRectF(area.left(), holeBottom, area.width(), area.bottom() - holeBottom),
        QRectF(area.left(), hole.y(), hole.x() - area.left(), hole.height()),
        QRectF(holeRight, hole.y(), area.right() - holeRight, hole.height()),
    };
    for (const QRectF &strip : strips) {
        if (strip.width() > 0 && strip.height() > 0)
            painter.fillRect(strip, Qt::black);
    }
}

} // namespace

QRectF PictureBox::pixelRect() const
{
    return QRectF(m_scale.toPixels(m_left), m_scale.toPixels(m_top), m_scale.toPixels(m_width),
                  m_scale.toPixels(m_height));
}

QRectF PictureBox::paintRect() const
{
    // Painted from a whole device pixel: from a fractional start, each exposed
    // part would round its own way, and a part repainted alone (where a window
    // above it closed) would land a pixel off its neighbours.
    const double dpr = m_scale.devicePixelRatio;
    QRectF box = pixelRect();
    box.moveTopLeft(QPointF(std::round(box.x() * dpr) / dpr, std::round(box.y() * dpr) / dpr));
    return box;
}

void PictureBox::paint(QPainter &painter, const QRect &exposed) const
{
    if (!m_visible)
        return;
    const QRectF box = paintRect();
    const QRectF visible = box.intersected(QRectF(exposed));
    if (visible.isEmpty())
        return;

    // Source rectangles are given in twips of the picture's natural size;
    // this turns them into the picture's own pixels.
    const double pixelsPerTwip = m_scale.logicalDpi * m_scale.devicePixelRatio / 1440.0;
    const QRect clip = visible.toAlignedRect();
    const QRectF pictureTarget = m_picture.isNull()
        ? QRectF()
        : QRectF(box.topLeft(), QSizeF(m_scale.toPixels(m_scale.pictureTwips(m_picture.width())),
                                       m_scale.toPixels(m_scale.pictureTwips(m_picture.height()))));
    const auto strokeTarget = [&](const Stroke &s) {
        return QRectF(box.x() + m_scale.toPixels(s.destination.x()), box.y() + m_scale.toPixels(s.destination.y()),
                      m_scale.toPixels(s.destination.width()), m_scale.toPixels(s.destination.height()));
    };
    const auto strokeSource = [&](const Stroke &s) {
        return QRectF(s.sourceRect.x() * pixelsPerTwip, s.sourceRect.y() * pixelsPerTwip,
                      s.sourceRect.width() * pixelsPerTwip, s.sourceRect.height() * pixelsPerTwip);
    };

    // The background is painted only where no opaque picture is about to
    // cover every pixel: a picture that fills the window would otherwise
    // cost a second pass over all of it at every step. A pixel of margin,
    // as a scaled picture's edge pixels may be covered only in part.
    QRect hole;
    const auto consider = [&](const QImage &image, const QRectF &target, const QRectF &source) {
        if (image.isNull() || image.hasAlphaChannel() || source.isEmpty()
            || !QRectF(image.rect()).adjusted(-0.01, -0.01, 0.01, 0.01).contains(source))
            return;
        const QRect covered = wholePixelsInside(target.intersected(visible), 1);
        if (qint64(covered.width()) * covered.height() > qint64(hole.width()) * hole.height())
            hole = covered;
    };
    consider(m_picture, pictureTarget, QRectF(m_picture.rect()));
    for (const Stroke &s : m_strokes)
        consider(s.source, strokeTarget(s), strokeSource(s));
    fillAround(painter, visible, hole);

    if (!m_picture.isNull())
        drawPicture(painter, m_picture, pictureTarget, QRectF(m_picture.rect()), clip, nullptr);
    for (const Stroke &s : m_strokes)
        drawPicture(painter, s.source, strokeTarget(s), strokeSource(s), clip, &s.reduced, s.copies.get());
}

QRect PictureBox::paintedWhole(const QRect &exposed) const
{
    if (!m_visible)
        return QRect();
    return wholePixelsInside(paintRect().intersected(QRectF(exposed)), 0);
}

void PictureBox::drawPicture(QPainter &painter, const QImage &image, const QRectF &target, const QRectF &source,
                             const QRect &exposed, QImage *reducedCache, const ReducedCopies *copies) const
{
    const QRectF box = paintRect();
    const QRectF visible = target.intersected(box).intersected(QRectF(exposed));
    if (visible.isEmpty() || source.width() <= 0 || source.height() <= 0)
        return;
    const double sx = target.width() / source.width();  // logical pixels per source pixel
    const double sy = target.height() / source.height();
    const double dpr = m_scale.devicePixelRatio;

    if (copies && sx * dpr < 1.0 && sy * dpr < 1.0) {
        // A giant picture shrunk: only the part that is seen, from the
        // smallest copy still at least the shown size, so that the smoothing
        // never has to bridge more than two pixels to one.
        const ReducedCopies::Level level = copies->atLeast(sx * dpr, sy * dpr);
        const QRectF from((source.x() + (visible.x() - target.x()) / sx) * level.factorX,
                          (source.y() + (visible.y() - target.y()) / sy) * level.factorY,
                          visible.width() / sx * level.factorX, visible.height() / sy * level.factorY);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(visible, level.image ? *level.image : image, from);
        return;
    }
    if (reducedCache && sx * dpr < 1.0 && sy * dpr < 1.0) {
        // Shrinking: sampling the source at each target pixel would alias, so
        // reduce it once with area averaging; the copy is no larger than what
        // the screen shows of it.
        const QSize size(qMax(1, qRound(target.width() * dpr)), qMax(1, qRound(target.height() * dpr)));
        if (reducedCache->size() != size) {
            const QImage part = source.toAlignedRect() == image.rect() ? image : image.copy(source.toAlignedRect());
            *reducedCache = part.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        // Out of memory for the copy: the box's own black, never what the
        // window held before.
        if (reducedCache->isNull()) {
            painter.fillRect(visible, Qt::black);
            return;
        }
        const QRectF from((visible.x() - target.x()) * dpr, (visible.y() - target.y()) * dpr,
                          visible.width() * dpr, visible.height() * dpr);
        painter.drawImage(visible, *reducedCache, from);
        return;
    }
    // Natural size or enlarged: only the part that is seen is sampled.
    const QRectF from(source.x() + (visible.x() - target.x()) / sx, source.y() + (visible.y() - target.y()) / sy,
                      visible.width() / sx, visible.height() / sy);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, sx * dpr != 1.0 || sy * dpr != 1.0);
    painter.drawImage(visible, image, from);
}

PictureBoxHost::PictureBoxHost(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

void PictureBoxHost::addBox(PictureBox *box)
{
    box->setScale(scale());
    box->changed = [this] { update(); };
    m_boxes.push_back(box);
}

void PictureBoxHost::refreshScale()
{
    const TwipScale s = scale();
    for (PictureBox *box : m_boxes)
        box->setScale(s);
}

void PictureBoxHost::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ScreenChangeInternal)
        refreshScale();
    QWidget::changeEvent(event);
}

void PictureBoxHost::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    // Each box paints all of its area itself.
    QRegion background(event->rect());
    for (const PictureBox *box : m_boxes)
        background -= box->paintedWhole(event->rect());
    for (const QRect &part : background)
        painter.fillRect(part, Qt::black);
    for (const PictureBox *box : m_boxes)
        box->paint(painter, event->rect());
    if (afterNextPaint) {
        // Queued: the painted frame is flushed to the screen first.
        QTimer::singleShot(0, this, std::exchange(afterNextPaint, nullptr));
    }
}

PictureBox *PictureBoxHost::boxAt(QPointF pos) const
{
    // The last box added lies on top.
    for (auto it = m_boxes.rbegin(); it != m_boxes.rend(); ++it) {
        if ((*it)->Visible() && (*it)->pixelRect().contains(pos))
            return *it;
    }
    return nullptr;
}

PictureBoxHost::MouseArgs PictureBoxHost::argsFor(const QMouseEvent *event, const PictureBox *box) const
{
    MouseArgs a;
    const Qt::MouseButtons buttons = event->type() == QEvent::MouseMove ? event->buttons() : Qt::MouseButtons(event->button());
    if (buttons & Qt::LeftButton)
        a.button |= 1;
    if (buttons & Qt::RightButton)
        a.button |= 2;
    if (buttons & Qt::MiddleButton)
        a.button |= 4;
    if (event->modifiers() & Qt::ShiftModifier)
        a.shift |= 1;
    if (event->modifiers() & Qt::ControlModifier)
        a.shift |= 2;
    if (event->modifiers() & Qt::AltModifier)
        a.shift |= 4;
    const TwipScale s = scale();
    a.x = s.toTwips(event->position().x());
    a.y = s.toTwips(event->position().y());
    if (box) {
        a.x -= box->Left();
        a.y -= box->Top();
    }
    return a;
}

void PictureBoxHost::mousePressEvent(QMouseEvent *event)
{
    PictureBox *box = m_captured ? m_captured : boxAt(event->position());
    if (!box)
        return;
    m_captured = box;
    if (boxMouseDown)
        boxMouseDown(box, argsFor(event, box));
}

void PictureBoxHost::mouseReleaseEvent(QMouseEvent *event)
{
    // The release goes to the box that had the press, wherever the mouse is.
    PictureBox *box = m_captured;
    if (!box)
        return;
    if (event->buttons() == Qt::NoButton)
        m_captured = nullptr;
    if (boxMouseUp)
        boxMouseUp(box, argsFor(event, box));
}

void PictureBoxHost::mouseMoveEvent(QMouseEvent *event)
{
    PictureBox *box = m_captured ? m_captured : boxAt(event->position());
    if (box) {
        if (boxMouseMove)
            boxMouseMove(box, argsFor(event, box));
    } else if (formMouseMove) {
        formMouseMove(argsFor(event, nullptr));
    }
}
