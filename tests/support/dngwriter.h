#pragma once

#include <QByteArray>
#include <QImage>

namespace testpictures {

// A camera raw file as a DNG camera would write it: the picture's colours as
// linear sensor values behind an RGGB colour filter, 16 bits a sample, with
// a colour matrix that makes the sensor's space linear sRGB. `orientation`
// is the TIFF orientation tag (1 upright, 6 turned right). Without the DNG
// tags it is a plain TIFF of colour-filter data, which Qt's TIFF reader
// cannot decode. A preview, when given, is stored as the camera's JPEG.
QByteArray dng(const QImage &picture, int orientation = 1, bool dngTags = true, const QImage &preview = QImage());

} // namespace testpictures
