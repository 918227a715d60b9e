#include "browse/browsing.h"

#include "browse/form1.h"
#include "platform/picture.h"

void Browsing::Save_Click()
{
    m_report.trapped(traps::Save, [&] {
        CommonDialog &dialog = m_form1.commDilg();
        dialog.ShowSave();
        if (dialog.FileTitle.isEmpty())
            return;
        // What the user sees, at its natural size: after a zoom the box holds
        // no picture of its own, only the drawing of one.
        picture::SavePicture(m_form1.Picture1().shownPicture(), dialog.FileName);
    });
}
