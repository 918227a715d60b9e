#include "view/panning.h"

#include "platform/resources.h"
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

void Panning::Picture1_MouseDown(const PictureBoxHost::MouseArgs &e)
{
    untrapped([&] {
        m_form1.BeginPosX = e.x;
        m_form1.BeginPosY = checked::round(e.y);
    });
    m_form1.setMousePointer(99);
    m_form1.setMouseIcon(handCursor());
}

void Panning::Picture1_MouseUp(const PictureBoxHost::MouseArgs &e)
{
    Form1 &f = m_form1;
    untrapped([&] {
        f.EndPosX = checked::round(e.x);
        f.EndPosY = e.y;
        f.ScalX = float(f.EndPosX) - f.BeginPosX;
        f.ScalY = checked::round(double(f.EndPosY) - double(f.BeginPosY));
        PictureBox &box = f.Picture1();
        box.setLeft(f.ScalX + box.Left());
        box.setTop(float(f.ScalY) + box.Top());
        f.window().update();
    });
    f.setMousePointer(0);
}

void Panning::writePosition(float x, float y)
{
    m_statusBar.setPanelText(4, QStringLiteral("XScale:") + singleText(x) + QStringLiteral("  YScale:") + singleText(y));
}

void Panning::Picture1_MouseMove(const PictureBoxHost::MouseArgs &e)
{
    writePosition(e.x, e.y);
}

void Panning::Form_MouseMove(const PictureBoxHost::MouseArgs &e)
{
    writePosition(e.x, e.y);
}
