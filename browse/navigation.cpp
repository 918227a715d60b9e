// Go to First, Go to Last, Next Picture and Previous Picture: each computes
// the new Index, ends silently on an empty list, applies its end rule and
// shows the entry there. Index keeps what was computed even when the show
// fails, so the next step passes over a file that could not be shown.

#include "browse/browsing.h"

#include "browse/form1.h"
#include "platform/checked.h"

void Browsing::Go_to_First_Click()
{
    m_report.trapped(traps::Navigation, [&] {
        m_module1.Index = 0;
        if (m_form1.File1().ListCount() == 0)
            return;
        ShowPicture(Travel::Forward);
    });
}

void Browsing::Go_to_Last_Click()
{
    m_report.trapped(traps::Navigation, [&] {
        m_module1.Index = checked::sub(m_form1.File1().ListCount(), 1);
        if (m_form1.File1().ListCount() == 0)
            return;
        ShowPicture(Travel::Backward);
    });
}

void Browsing::Next_picture_Click()
{
    m_report.trapped(traps::Navigation, [&] { stepToNext(); });
}

// Next Picture's step, which the slide show's tick takes too.
void Browsing::stepToNext()
{
    m_module1.Index = checked::add(m_module1.Index, 1);
    const std::int32_t count = m_form1.File1().ListCount();
    if (count == 0)
        return;
    if (m_module1.Index > count - 1)
        m_module1.Index = 0; // past the last entry: the first
    ShowPicture(Travel::Forward);
}

void Browsing::precursive_picture_Click()
{
    m_report.trapped(traps::Navigation, [&] {
        m_module1.Index = checked::sub(m_module1.Index, 1);
        if (m_form1.File1().ListCount() == 0)
            return;
        if (m_module1.Index < 0)
            m_module1.Index = 0; // stays at the first entry: no wrap
        ShowPicture(Travel::Backward);
    });
}
