#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>

// The program's own artwork, compiled in with Qt's resource system.
namespace art {

void initResources();

QIcon frameIcon();       // the main window
QIcon childWindowIcon(); // the picture window and the About window
QImage aboutLogo();
// Toolbar image n of 14, with silver (192, 192, 192) made transparent.
QIcon toolbarImage(int n);

QByteArray handCursorPath();
constexpr int kHandHotSpotX = 15;
constexpr int kHandHotSpotY = 13;

} // namespace art
