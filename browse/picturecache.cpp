#include "browse/picturecache.h"

#include "platform/picture.h"

QImage PictureCache::LoadPicture(const QByteArray &nativePath)
{
    return picture::LoadPicture(nativePath);
}
