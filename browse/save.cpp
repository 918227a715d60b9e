#include "browse/browsing.h"

#include "browse/form1.h"
#include "platform/filelist.h"
#include "platform/patience.h"
#include "platform/picture.h"
#include "platform/picturecache.h"
#include "platform/runtimeerror.h"

#include <QColorSpace>

#include <memory>

void Browsing::Save_Click()
{
    m_report.trapped(traps::Save, [&] {
        CommonDialog &dialog = m_form1.commDilg();
        dialog.ShowSave();
        if (dialog.FileTitle.isEmpty())
            return;
        // What the user sees, at its natural size: after a zoom the box holds
        // no picture of its own, only the drawing of one.
        QImage shown = m_form1.Picture1().shownPicture();
        if (shown.colorSpace().isValid()) {
            // Shown in the display's colours; the file keeps its own pixels
            // and profile. A file gone meanwhile still leaves what is shown.
            try {
                const QImage own = m_cache.LoadOwnPicture(m_form1.selectedPath());
                if (own.size() == shown.size())
                    shown = own;
            } catch (const RuntimeError &) {
            }
        }
        // Written away from the window thread: a file system that stalls
        // must not freeze the window. Given up on, the write finishes alone
        // and leaves the target as it was.
        const QString fileName = dialog.FileName;
        auto cancellation = std::make_shared<picture::SaveCancellation>();
        const auto write = [shown, fileName, cancellation] {
            picture::SavePicture(shown, fileName, cancellation.get());
        };
        m_patience.run(displayName(fileName), write, Patience::Activity::Writing,
                       [cancellation] { return cancellation->cancel(); });
    });
}
