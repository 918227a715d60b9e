// Dragging the picture: the press remembers where it was, the release moves
// the box by the mouse's travel. The box does not follow the mouse in between.

#include "browse/form1.h"

#include "app/resources.h"
#include "platform/checked.h"
#include "platform/picture.h"
#include "platform/statusbar.h"

#include <QPixmap>

namespace {

// These handlers have no error trap: a position that does not fit the
// whole-number range only drops that one event, never the program.
template <typename Body>
void untrapped(Body &&body)
{
    try {
        body();
    } catch (const RuntimeError &) {
    }
}

QCursor handCursor()
{
    try {
        const QImage hand = picture::LoadPicture(art::handCursorPath());
        if (!hand.isNull())
            return QCursor(QPixmap::fromImage(hand), art::kHandHotSpotX, art::kHandHotSpotY);
    } catch (const RuntimeError &) {
    }
    return QCursor(Qt::ClosedHandCursor);
}

QString singleText(float v)
{
    return QString::number(double(v), 'g', 7);
}

} // namespace

void Form1::Picture1_MouseDown(const PictureBoxHost::MouseArgs &e)
{
    untrapped([&] {
        BeginPosX = e.x;
        BeginPosY = checked::round(e.y);
    });
    setMousePointer(99);
    setMouseIcon(handCursor());
}

void Form1::Picture1_MouseUp(const PictureBoxHost::MouseArgs &e)
{
    untrapped([&] {
        EndPosX = checked::round(e.x);
        EndPosY = e.y;
        ScalX = float(EndPosX) - BeginPosX;
        ScalY = checked::round(double(EndPosY) - double(BeginPosY));
        PictureBox &box = Picture1();
        box.setLeft(ScalX + box.Left());
        box.setTop(float(ScalY) + box.Top());
        window().update();
    });
    setMousePointer(0);
}

void Form1::writePosition(float x, float y)
{
    m_statusBar.setPanelText(4, QStringLiteral("XScale:") + singleText(x) + QStringLiteral("  YScale:") + singleText(y));
}

void Form1::Picture1_MouseMove(const PictureBoxHost::MouseArgs &e)
{
    writePosition(e.x, e.y);
}

void Form1::Form_MouseMove(const PictureBoxHost::MouseArgs &e)
{
    writePosition(e.x, e.y);
}
