#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

// Message box styles and answers, numbered as the form-designer platform
// numbers them; a style adds a button set and an icon.
namespace vb {
constexpr int vbOKOnly = 0;
constexpr int vbYesNo = 4;
constexpr int vbCritical = 16;
constexpr int vbQuestion = 32;
constexpr int vbExclamation = 48;
constexpr int vbInformation = 64;
constexpr int vbOK = 1;
constexpr int vbYes = 6;
constexpr int vbNo = 7;
} // namespace vb

struct FileDialogRequest
{
    QString title;
    QString filter;   // "description|pattern|description|pattern..."
    QString fileName; // preselected; the dialog opens in its folder
    QString folder;   // where to open when there is no file name
};

// Every modal dialog and message box of the program goes through here, so
// that tests can answer them and read what they said.
class Dialogs
{
public:
    virtual ~Dialogs() = default;
    // Returns the button pressed: vbOK, vbYes or vbNo.
    virtual int MsgBox(QWidget *parent, const QString &prompt, int style, const QString &caption) = 0;
    // The chosen file's full path, or nothing when cancelled.
    virtual std::optional<QString> ShowOpen(QWidget *parent, const FileDialogRequest &request) = 0;
    virtual std::optional<QString> ShowSave(QWidget *parent, const FileDialogRequest &request) = 0;
    // A modal box saying what the program waits for, with a Cancel button.
    // It closes itself as soon as finished() holds. True when cancelled.
    virtual bool ShowWaiting(QWidget *parent, const QString &prompt, const std::function<bool()> &finished) = 0;
};

// The real dialogs: QMessageBox and QFileDialog.
class QtDialogs final : public Dialogs
{
public:
    int MsgBox(QWidget *parent, const QString &prompt, int style, const QString &caption) override;
    std::optional<QString> ShowOpen(QWidget *parent, const FileDialogRequest &request) override;
    std::optional<QString> ShowSave(QWidget *parent, const FileDialogRequest &request) override;
    bool ShowWaiting(QWidget *parent, const QString &prompt, const std::function<bool()> &finished) override;
};

// "desc|*.jpg|..." as QFileDialog name filters. The patterns match whatever
// the case of the name, so IMG_0001.JPG is offered under "*.jpg"; the
// dialog shows only the descriptions.
QStringList qtNameFilters(const QString &filter);
