#pragma once

#include "platform/dialogs.h"

#include <QList>

#include <functional>

// Stands in for every message box and file dialog: answers come from queues
// the test fills, and every box and dialog is recorded for the test to read.
class ScriptedDialogs final : public Dialogs
{
public:
    struct Box
    {
        QString prompt;
        int style;
        QString caption;
    };
    struct FileDialog
    {
        bool save;
        FileDialogRequest request;
    };

    int MsgBox(QWidget *parent, const QString &prompt, int style, const QString &caption) override;
    std::optional<QString> ShowOpen(QWidget *parent, const FileDialogRequest &request) override;
    std::optional<QString> ShowSave(QWidget *parent, const FileDialogRequest &request) override;
    // Waits, events running, until finished() holds, unless told to cancel.
    bool ShowWaiting(QWidget *parent, const QString &prompt, const std::function<bool()> &finished) override;

    // Queued answers. An empty box queue answers OK (or No for Yes/No); an
    // empty file queue cancels.
    QList<int> answers;
    QList<std::optional<QString>> files;
    // Runs while a box is "on screen", to play what happens meanwhile.
    std::function<void()> whileBoxOpen;

    // How many waiting boxes to cancel, and what runs while one is open.
    int cancelWaiting = 0;
    std::function<void()> whileWaiting;

    QList<Box> boxes;
    QStringList waitingBoxes;
    QList<FileDialog> fileDialogs;
};
