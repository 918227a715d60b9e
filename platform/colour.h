#pragma once

#include <QByteArray>
#include <QImage>

#include <functional>

class QIODevice;

// True colours: a picture's pixels are numbers in its own colour space, and
// are shown converted to the display's. Qt's QColorSpace does the matrix and
// curve profiles it understands; LittleCMS does the rest (profiles built on
// look-up tables, greyscale ones). Conversions run where the decoding runs,
// on the workers.
namespace colour {

// Attaches the ICC profile a decoder found to the pixels it decoded: as the
// picture's QColorSpace when Qt understands the profile, else kept for
// takeUnderstoodByLcmsOnly() on this thread (the picture cannot carry it).
void tag(QImage &image, const QByteArray &icc);
QByteArray takeUnderstoodByLcmsOnly();

// The ICC profile embedded in a JPEG, PNG or WebP file, read afresh from the
// device: Qt's readers drop the ones QColorSpace cannot parse. Empty when
// there is none. The device is left where it was.
QByteArray embeddedProfile(QIODevice *device, const QByteArray &format);

// The colour space pictures are shown in: the monitor profile, or sRGB when
// empty. Set on the window side; the workers only read it.
void setDisplayProfile(const QByteArray &icc);
// The monitor profile set last, or empty for sRGB: decoder processes are
// handed it when they start.
QByteArray displayProfile();

// The picture converted to the display's colour space. `lcmsOnly` is a
// profile Qt could not parse (the picture then carries none). A picture
// with neither is given back as it is, at no cost. Handed a picture nobody
// else holds (moved in), the common matrix conversion writes over its pixels.
QImage toDisplay(QImage image, const QByteArray &lcmsOnly = QByteArray());

// Whether an ICC profile is a printer's, for CMYK pixels.
bool isCmykProfile(const QByteArray &icc);
// CMYK pixels (four bytes a pixel, C, M, Y, K, in an RGB32 picture's memory;
// 255 minus the ink when inverted) turned into the display's colours through
// their CMYK profile. `allocate`, when given, provides the picture written.
// Null when the profile is no CMYK profile or LittleCMS refuses it.
QImage cmykToDisplay(const QImage &cmyk, const QByteArray &icc, bool inverted,
                     const std::function<QImage(QSize)> &allocate = {});

// The monitor profile an X11 colour-managed desktop publishes on the root
// window (_ICC_PROFILE), read through the application's own connection.
// Empty on other platforms or when none is published.
QByteArray x11DisplayProfile();

} // namespace colour
