#pragma once

#include "browse/form1.h"

class StatusBar;

// Dragging the picture: the press remembers where it was, the release moves
// the box by the mouse's travel. The box does not follow the mouse in between.
// The positions are the picture window's own variables.
class Panning final : public Form1MouseEvents
{
public:
    Panning(Form1 &form1, StatusBar &statusBar) : m_form1(form1), m_statusBar(statusBar) { }

    void Picture1_MouseDown(const PictureBoxHost::MouseArgs &e) override;
    void Picture1_MouseUp(const PictureBoxHost::MouseArgs &e) override;
    void Picture1_MouseMove(const PictureBoxHost::MouseArgs &e) override;
    void Form_MouseMove(const PictureBoxHost::MouseArgs &e) override;

private:
    void writePosition(float x, float y);

    Form1 &m_form1;
    StatusBar &m_statusBar;
};
