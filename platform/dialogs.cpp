#include "platform/dialogs.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLocale>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QTreeView>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

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

// The entry of a "description (patterns)" list whose patterns take the name,
// or -1.
static int filterIndexFor(const QStringList &filters, const QString &fileName)
{
    for (int i = 0; i < filters.size(); ++i) {
        const QString patterns = filters[i].section(u'(', -1).chopped(1);
        for (const QString &pattern : patterns.split(u' ', Qt::SkipEmptyParts)) {
            const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern));
            if (re.match(fileName).hasMatch())
                return i;
        }
    }
    return -1;
}

// Qt's own size for its dialog cuts every column of the detail view; a good
// share of the frame, within the screen, leaves room for all of them.
static void sizeFileDialog(QFileDialog &dialog, QWidget *parent)
{
    const QWidget *frame = parent ? parent->window() : nullptr;
    const QScreen *screen = frame ? frame->screen() : QGuiApplication::primaryScreen();
    QSize size = frame ? frame->size() * 0.6 : QSize(960, 600);
    size = size.expandedTo(QSize(800, 500));
    if (screen)
        size = size.boundedTo(screen->availableGeometry().size());
    dialog.resize(size);
    const QFontMetrics metrics(dialog.font());
    const int pad = metrics.horizontalAdvance(QStringLiteral("MM"));
    int sidebar = metrics.horizontalAdvance(QStringLiteral("Computer")) + 3 * pad;
    if (auto *splitter = dialog.findChild<QSplitter *>(QStringLiteral("splitter")))
        splitter->setSizes({sidebar, size.width() - sidebar});
    if (auto *details = dialog.findChild<QTreeView *>(QStringLiteral("treeView"))) {
        // Size, type and date get room for their usual longest text; the name
        // takes the rest of the view.
        QHeaderView *header = details->header();
        const int widths[] = {
            metrics.horizontalAdvance(QStringLiteral("1,023.9 KiB")) + pad,
            metrics.horizontalAdvance(QStringLiteral("JPEG image file")) + pad,
            metrics.horizontalAdvance(QLocale().toString(QDateTime(QDate(2026, 12, 31), QTime(23, 59)), QLocale::ShortFormat)) + pad};
        int rest = size.width() - sidebar - 4 * pad;
        for (int column = 1; column <= 3; ++column) {
            header->resizeSection(column, widths[column - 1]);
            rest -= widths[column - 1];
        }
        header->resizeSection(0, std::max(header->sectionSize(0), rest));
    }
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
        // A name the first filter does not take would be hidden, and a Save
        // dialog would put that filter's suffix on it: show its own filter.
        if (const int index = filterIndexFor(filters, info.fileName()); index >= 0)
            dialog.selectNameFilter(filters[index]);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.absoluteFilePath());
    } else if (!request.folder.isEmpty()) {
        dialog.setDirectory(request.folder);
    }
    sizeFileDialog(dialog, parent);
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
