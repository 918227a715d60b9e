#include "platform/commondialog.h"

#include "platform/dialogs.h"

#include <QFileInfo>

template <typename Show>
void CommonDialog::show(Show showDialog)
{
    const FileDialogRequest request{DialogTitle, Filter, FileName, m_lastFolder};
    const std::optional<QString> chosen = showDialog(request);
    if (!chosen || chosen->isEmpty()) {
        FileName.clear();
        FileTitle.clear();
        return;
    }
    const QFileInfo info(*chosen);
    FileName = info.absoluteFilePath();
    FileTitle = info.fileName();
    m_lastFolder = info.absolutePath();
}

void CommonDialog::ShowOpen()
{
    show([this](const FileDialogRequest &r) { return m_dialogs.ShowOpen(m_parent, r); });
}

void CommonDialog::ShowSave()
{
    show([this](const FileDialogRequest &r) { return m_dialogs.ShowSave(m_parent, r); });
}
