#include "browse/browsing.h"

#include "browse/form1.h"
#include "platform/patience.h"
#include "platform/picturecache.h"
#include "platform/statusbar.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const QString kPictureFilter = QStringLiteral("JPG文件(*.JPG)|*.jpg|位图文件(*.bmp)|*.bmp|图标文件(*.ICO)|*.Ico|光标文件(*.cur)|*.cur");
const QString kOpenTitle = QStringLiteral("打开文件");
} // namespace

void Browsing::Open_Click()
{
    m_form1.Show();
    CommonDialog &dialog = m_form1.commDilg();
    dialog.Filter = kPictureFilter;
    dialog.ShowOpen();
    openChosenFile();
}

void Browsing::Open_File(const QString &path)
{
    Open_File(QFile::encodeName(QFileInfo(path).absoluteFilePath()));
}

void Browsing::Open_File(const QByteArray &nativePath)
{
    m_form1.Show();
    CommonDialog &dialog = m_form1.commDilg();
    dialog.Filter = kPictureFilter;
    const QFileInfo info(QFile::decodeName(nativePath));
    dialog.FileName = info.absoluteFilePath();
    dialog.FileTitle = info.fileName();
    // Started with this file, the viewer shows it before anything else claims
    // the cores: its neighbours are read once it is on screen.
    openChosenFile(nativePath, true);
}

void Browsing::openChosenFile(const QByteArray &nativePath, bool readAheadAfterPaint)
{
    CommonDialog &dialog = m_form1.commDilg();
    m_report.trapped(traps::Open, [&] {
        if (dialog.FileName.isEmpty())
            return; // cancelled: nothing is listed, moved or rewritten
        const QFileInfo chosen(dialog.FileName);
        const QString folder = chosen.absolutePath();
        // As the Open dialog of a desktop does: the working directory follows
        // the file chosen, and a picture window made anew lists that folder.
        // Away from the window thread: on a mount that stopped answering,
        // even that waits. Checked and listed on the same trip, which is
        // waited for once the picture is in its box: neither the picture
        // nor the listing waits for the other. A picture that fails leaves
        // the trip to end alone, its listing unused.
        const auto folderTrip = Patience::start(displayName(folder), [folder] {
            QDir::setCurrent(folder);
            DirListBox::check(folder);
            return FileListBox::readFolder(folder);
        });
        m_module1.CurrentTitle = dialog.FileTitle;
        // The folder is the directory part of the chosen path; for a file in
        // the root that is empty, and the panel then starts with the separator.
        m_module1.CurrentPath = folder == QDir::rootPath() ? QString() : folder;

        // A name that is not valid UTF-8 does not survive a trip through the
        // dialog's text, so the bytes are used where the caller has them.
        const QByteArray native = nativePath.isEmpty() ? QFile::encodeName(chosen.absoluteFilePath()) : nativePath;
        PictureBox &box = m_form1.Picture1();
        box.setPicture(m_cache.LoadPicture(native));
        box.setVisible(true);
        dialog.DialogTitle = kOpenTitle;

        std::vector<FileListBox::Entry> entries = m_patience.finish(displayName(folder), folderTrip);
        FileListBox &list = m_form1.File1();
        m_form1.Dir1().setCheckedPath(folder);
        list.setPath(folder, std::move(entries));
        m_form1.centrePicture1();
        const std::int32_t position = list.indexOf(native.mid(native.lastIndexOf('/') + 1));
        if (position < 0)
            throw RuntimeError(QStringLiteral("\u201c%1\u201d is no longer in its folder.").arg(displayName(chosen.fileName())));
        list.setListIndex(position);
        m_module1.Index = list.ListIndex();

        m_statusBar.setPanelText(2, QStringLiteral("There are ") + QString::number(list.ListCount())
                                        + QStringLiteral(" Pictures in the current Path"));
        writePanel1();
        writePanel3();
        m_quickSteps = 0;
        m_shownBytes = box.Picture().sizeInBytes();
        if (readAheadAfterPaint)
            m_form1.window().afterNextPaint = [this] { readAhead(Travel::Forward); };
        else
            readAhead(Travel::Forward);
    });
}
