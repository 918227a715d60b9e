#include "platform/dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

int QtDialogs::MsgBox(QWidget *parent, const QString &prompt, int style, const QString &caption)
{
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(prompt);
    switch (style & 0x70) {
    case vb::vbCritical: box.setIcon(QMessageBox::Critical); break;
    case vb::vbQuestion: box.setIcon(QMessageBox::Question); break;
    case vb::vbExclamation: box.setIcon(QMessageBox::Warning); break;
    case vb::vbInformation: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }
    if ((style & 0x7) == vb::vbYesNo) {
        QPushButton *yes = box.addButton(QMessageBox::Yes);
        box.addButton(QMessageBox::No);
        box.setDefaultButton(yes); // the first button is the default
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? vb::vbYes : vb::vbNo;
    }
    box.addButton(QMessageBox::Ok);
    box.exec();
    return vb::vbOK;
}

static QString caseInsensitivePattern(const QString &pattern)
{
    QString out;
    for (QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            out += u'[' + c.toLower() + c.toUpper() + u']';
        else
            out += c;
    }
    return out;
}

QStringList qtNameFilters(const QString &filter)
{
    QStringList out;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString &p : parts[i + 1].split(u';', Qt::SkipEmptyParts))
            patterns << caseInsensitivePattern(p.trimmed());
        // QFileDialog takes the patterns from the last parentheses; with its
        // details hidden it shows the description alone.
        out << parts[i] + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return out;
}

static std::optional<QString> runFileDialog(QWidget *parent, const FileDialogRequest &request,
                                            QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, request.title);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    const QStringList filters = qtNameFilters(request.filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    if (!request.fileName.isEmpty()) {
        const QFileInfo info(request.fileName);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.fileName());
    } else if (!request.folder.isEmpty()) {
        dialog.setDirectory(request.folder);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> QtDialogs::ShowOpen(QWidget *parent, const FileDialogRequest &request)
{
    return runFileDialog(parent, request, QFileDialog::AcceptOpen);
}

std::optional<QString> QtDialogs::ShowSave(QWidget *parent, const FileDialogRequest &request)
{
    return runFileDialog(parent, request, QFileDialog::AcceptSave);
}

bool QtDialogs::ShowWaiting(QWidget *parent, const QString &prompt, const std::function<bool()> &finished)
{
    QMessageBox box(parent);
    box.setWindowTitle(QStringLiteral("Vellupix"));
    box.setText(prompt);
    box.setIcon(QMessageBox::NoIcon);
    QPushButton *cancel = box.addButton(QMessageBox::Cancel);
    box.setEscapeButton(cancel);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &box, [&] {
        if (finished())
            box.done(QMessageBox::Ok);
    });
    poll.start(20);
    if (finished())
        return false;
    box.exec();
    return box.clickedButton() == cancel && !finished();
}
