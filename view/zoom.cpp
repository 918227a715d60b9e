#include "view/zoom.h"

#include "platform/errorreport.h"
#include "browse/form1.h"
#include "platform/picturecache.h"
#include "platform/checked.h"

void Zoom::zoomBy(double factor)
{
    m_report.trapped(traps::Zoom, [&] {
        PictureBox &box = m_form1.Picture1();
        // Computed before anything changes: an overflow leaves all as it was.
        const std::int32_t paintWidth = checked::round(double(box.Width()) * factor);
        const std::int32_t paintHeight = checked::round(double(box.Height()) * factor);

        box.setPicture(QImage());
        box.setWidth(float(double(box.Width()) * factor));
        box.setHeight(float(double(box.Height()) * factor));

        // Always from the file at its natural size, never from the last zoom,
        // so that zooming back and forth never blurs the picture.
        PictureBox &source = m_form1.Picture2();
        const QByteArray path = m_form1.selectedPath();
        source.setPicture(m_cache.LoadPicture(path));
        const float sourceWidth = source.Width();
        const float sourceHeight = source.Height();
        // A giant picture shrunk is painted from its reduced copies.
        box.PaintPicture(source.Picture(), QRectF(0, 0, paintWidth, paintHeight),
                         QRectF(0, 0, sourceWidth, sourceHeight), m_cache.reducedCopies(path));

        m_form1.centrePicture1();
    });
}
