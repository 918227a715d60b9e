#include "platform/commondialog.h"

#include "platform/dialogs.h"

#include <QFileInfo>

template <typename Show>
void CommonDialog::show(Show showDialog)
{
    // A cancel empties FileName, yet the next dialog still offers the file
    // chosen last, as the control shows it.
    if (!FileName.isEmpty())
        m_lastChosen = FileName;
    const FileDialogRequest request{DialogTitle, Filter, m_lastChosen, QFileInfo(m_lastChosen).absolutePath()};
    const std::optional<QString> chosen = showDialog(request);
    if (!chosen || chosen->isEmpty()) {
        FileName.clear();
        FileTitle.clear();
        return;
    }
    const QFileInfo info(*chosen);
    FileName = info.absoluteFilePath();
    FileTitle = info.fileName();
}

void CommonDialog::ShowOpen()
{
    show([this](const FileDialogRequest &r) { return m_dialogs.ShowOpen(m_parent, r); });
}

void CommonDialog::ShowSave()
{
    show([this](const FileDialogRequest &r) { return m_dialogs.ShowSave(m_parent, r); });
}
