#pragma once

#include <QByteArray>
#include <QImage>

// Where the commands get their pictures from. Today it decodes on the spot;
// it is the one place where reading ahead can be added without the commands
// knowing.
class PictureCache
{
public:
    // Same results and errors as the platform's picture loader.
    QImage LoadPicture(const QByteArray &nativePath);
};
