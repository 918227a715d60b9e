#pragma once

#include <QByteArray>

class QImage;

namespace decoderprotocol {

// The properties of a picture besides its pixels: colour table, colour
// space, resolution and text.
QByteArray encodeProperties(const QImage &image);
// Gives them to an image; false when the bytes do not read as such.
bool decodeProperties(const QByteArray &bytes, QImage &image);

} // namespace decoderprotocol
