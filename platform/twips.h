#pragma once

class QWidget;

// Every position and size of the program is in twips (1/1440 inch), held as
// single-precision numbers. A picture at its natural size gives one of its
// pixels to one device pixel, so that on a screen with a device pixel ratio of
// 2 it is drawn at full sharpness rather than doubled.
struct TwipScale
{
    double logicalDpi = 96.0;
    double devicePixelRatio = 1.0;

    static TwipScale forWidget(const QWidget *widget);

    double twipsPerPixel() const { return 1440.0 / logicalDpi; }
    float toTwips(double logicalPixels) const { return float(logicalPixels * twipsPerPixel()); }
    double toPixels(double twips) const { return twips / twipsPerPixel(); }

    // Natural size of a picture dimension, in twips.
    float pictureTwips(int imagePixels) const
    {
        return float(imagePixels * 1440.0 / (logicalDpi * devicePixelRatio));
    }
};
