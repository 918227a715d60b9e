#pragma once

#include <QByteArray>
#include <QIcon>
#include <QPixmap>

// The program's own artwork, compiled in with Qt's resource system.
namespace art {

void initResources();

QIcon frameIcon();       // the main window
QIcon childWindowIcon(); // the picture window and the About window
// The 48 x 36 logo, or at a device pixel ratio above 1 its 96 x 72 drawing.
QPixmap aboutLogo(qreal devicePixelRatio);
// Toolbar image n of 14, with silver (192, 192, 192) made transparent, and
// its 32 x 32 drawing for a device pixel ratio of 2.
QIcon toolbarImage(int n);

QByteArray handCursorPath();
constexpr int kHandHotSpotX = 15;
constexpr int kHandHotSpotY = 13;

} // namespace art
