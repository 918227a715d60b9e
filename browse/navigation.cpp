// Go to First, Go to Last, Next Picture and Previous Picture: each computes
// the new Index, ends silently on an empty list, applies its end rule and
// shows the entry there. Index keeps what was computed even when the show
// fails, so the next step passes over a file that could not be shown.

#include "browse/browsing.h"

#include "browse/form1.h"
#include "platform/checked.h"

template <typename FirstStep, typename EndRule>
void Browsing::navigate(Travel travel, FirstStep firstStep, EndRule endRule)
{
    m_report.trapped(traps::Navigation, [&] {
        FileListBox &list = m_form1.File1();
        m_module1.Index = firstStep(m_module1.Index, list);
        const std::int32_t count = list.ListCount();
        if (count == 0)
            return;
        m_module1.Index = endRule(m_module1.Index, count);
        ShowPicture(travel);
    });
}

namespace {
std::int32_t noEndRule(std::int32_t index, std::int32_t)
{
    return index;
}
} // namespace

void Browsing::Go_to_First_Click()
{
    navigate(Travel::Forward, [](std::int32_t, FileListBox &) { return 0; }, noEndRule);
}

void Browsing::Go_to_Last_Click()
{
    navigate(Travel::Backward, [](std::int32_t, FileListBox &list) { return checked::sub(list.ListCount(), 1); },
             noEndRule);
}

void Browsing::Next_picture_Click()
{
    navigate(Travel::Forward, [](std::int32_t index, FileListBox &) { return checked::add(index, 1); },
             [](std::int32_t index, std::int32_t count) { return index > count - 1 ? 0 : index; });
}

void Browsing::precursive_picture_Click()
{
    navigate(Travel::Backward, [](std::int32_t index, FileListBox &) { return checked::sub(index, 1); },
             [](std::int32_t index, std::int32_t) { return index < 0 ? 0 : index; });
}
