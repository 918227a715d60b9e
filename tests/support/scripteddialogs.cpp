#include "support/scripteddialogs.h"

int ScriptedDialogs::MsgBox(QWidget *, const QString &prompt, int style, const QString &caption)
{
    boxes.append({prompt, style, caption});
    if (whileBoxOpen)
        whileBoxOpen();
    if (!answers.isEmpty())
        return answers.takeFirst();
    return (style & 0x7) == vb::vbYesNo ? vb::vbNo : vb::vbOK;
}

std::optional<QString> ScriptedDialogs::ShowOpen(QWidget *, const FileDialogRequest &request)
{
    fileDialogs.append({false, request});
    return files.isEmpty() ? std::nullopt : files.takeFirst();
}

std::optional<QString> ScriptedDialogs::ShowSave(QWidget *, const FileDialogRequest &request)
{
    fileDialogs.append({true, request});
    return files.isEmpty() ? std::nullopt : files.takeFirst();
}
