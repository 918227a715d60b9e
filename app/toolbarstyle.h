#pragma once

#include <QProxyStyle>

// The toolbar's background as its style paints it, made from a short slice.
//
// Qt's raster engine splits a translucent one-pixel line of more than about a
// hundred pixels into pieces for its global thread pool, and waits for them:
// Fusion's two shaded lines under a toolbar as wide as the screen made some
// ninety such hand-offs a paint, the first paint included, each waiting for a
// pooled thread to be given a core. A toolbar's background is the same all
// along it, so a slice of it is painted and stretched; the slice's lines are
// too short to be split. A style whose slice is not the same all along gets
// the whole bar painted as before.
class ToolBarStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;

    // Long enough for whatever a style draws at a bar's ends to show at both
    // ends of the slice; short enough that no line of it is split.
    static constexpr int kSliceLength = 16;
};
