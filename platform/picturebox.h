#pragma once

#include "platform/twips.h"

#include <QImage>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QPainter;
class ReducedCopies;

// A picture box: position and size in twips, a picture, and a drawing
// surface that PaintPicture draws on. Its geometry is a model, not a child
// widget's geometry: a zoomed box may be far larger than any widget can be,
// and it is drawn by its host, which paints only what is exposed.
class PictureBox
{
public:
    float Left() const { return m_left; }
    float Top() const { return m_top; }
    float Width() const { return m_width; }
    float Height() const { return m_height; }
    void setLeft(float v);
    void setTop(float v);
    void setWidth(float v);
    void setHeight(float v);

    bool Visible() const { return m_visible; }
    void setVisible(bool v);

    const QImage &Picture() const { return m_picture; }
    // Assigning a picture clears the drawing surface; the box then takes the
    // picture's natural size. The empty picture leaves the size as it is.
    void setPicture(const QImage &picture);

    // Stretches the source rectangle of a picture into the destination
    // rectangle of the drawing surface; all in twips. Reduced copies of the
    // source, when given, serve to paint it shrunk.
    void PaintPicture(const QImage &source, QRectF destination, QRectF sourceRect,
                      std::shared_ptr<const ReducedCopies> copies = {});

    // The picture the user sees, at its natural size: the assigned picture,
    // or else the last picture painted on the surface.
    QImage shownPicture() const;

    void setScale(const TwipScale &scale) { m_scale = scale; }
    const TwipScale &scale() const { return m_scale; }

    // The box's area in its container's logical pixels.
    QRectF pixelRect() const;

    // Paints the box where it intersects the exposed rectangle (logical pixels
    // of the container).
    void paint(QPainter &painter, const QRect &exposed) const;
    // The whole pixels of the exposed rectangle that paint() covers.
    QRect paintedWhole(const QRect &exposed) const;

    std::function<void()> changed; // the host repaints

private:
    struct Stroke
    {
        QImage source;
        QRectF destination; // twips, relative to the box
        QRectF sourceRect;  // twips of the source picture
        mutable QImage reduced; // the source smoothly reduced to its display size, when shrunk
        std::shared_ptr<const ReducedCopies> copies;
    };
    QRectF paintRect() const;
    void drawPicture(QPainter &painter, const QImage &image, const QRectF &targetPx, const QRectF &sourcePx,
                     const QRect &exposed, QImage *reducedCache, const ReducedCopies *copies = nullptr) const;
    void notify() const
    {
        if (changed)
            changed();
    }

    float m_left = 0, m_top = 0, m_width = 0, m_height = 0;
    bool m_visible = true;
    QImage m_picture;
    std::vector<Stroke> m_strokes;
    TwipScale m_scale;
};

// The inner area of a window that holds picture boxes. It paints them and
// turns Qt's mouse events into the box and window events of the platform,
// with coordinates in twips.
class PictureBoxHost : public QWidget
{
    Q_OBJECT
public:
    struct MouseArgs
    {
        int button = 0; // 1 left, 2 right, 4 middle
        int shift = 0;  // 1 shift, 2 control, 4 alt
        float x = 0;
        float y = 0;
    };

    explicit PictureBoxHost(QWidget *parent = nullptr);

    void addBox(PictureBox *box);
    TwipScale scale() const { return TwipScale::forWidget(this); }
    float ScaleWidth() const { return scale().toTwips(width()); }
    float ScaleHeight() const { return scale().toTwips(height()); }

    std::function<void(PictureBox *, const MouseArgs &)> boxMouseDown, boxMouseUp, boxMouseMove;
    std::function<void(const MouseArgs &)> formMouseMove;
    // Called once, right after the next paint has reached the screen.
    std::function<void()> afterNextPaint;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    PictureBox *boxAt(QPointF pos) const;
    MouseArgs argsFor(const QMouseEvent *event, const PictureBox *box) const;
    void refreshScale();

    std::vector<PictureBox *> m_boxes;
    PictureBox *m_captured = nullptr;
};
