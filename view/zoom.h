#pragma once

class ErrorReport;
class Form1;
class PictureCache;

// Zoom In and Zoom Out: one sequence with two factors. The zoom level is
// nothing but the size the picture box has.
class Zoom
{
public:
    static constexpr double kInFactor = 1.5;
    static constexpr double kOutFactor = 0.6; // not 1/1.5: in then out leaves 0.9

    Zoom(Form1 &form1, const ErrorReport &report, PictureCache &cache)
        : m_form1(form1), m_report(report), m_cache(cache)
    {
    }

    void Zoom_In_Click() { zoomBy(kInFactor); }
    void Zoom_Out_Click() { zoomBy(kOutFactor); }

private:
    void zoomBy(double factor);

    Form1 &m_form1;
    const ErrorReport &m_report;
    PictureCache &m_cache;
};
