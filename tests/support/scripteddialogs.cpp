#include "support/scripteddialogs.h"

#include <QCoreApplication>

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

bool ScriptedDialogs::ShowWaiting(QWidget *, const QString &prompt, const std::function<bool()> &finished)
{
    waitingBoxes.append(prompt);
    if (whileWaiting)
        whileWaiting();
    if (cancelWaiting > 0) {
        --cancelWaiting;
        return true;
    }
    while (!finished())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return false;
}
