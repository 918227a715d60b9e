#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

// Joins a folder and a file name into the native path that is opened. A folder
// that already ends with the separator (the root) gets no second one.
QByteArray joinNativePath(const QString &folder, const QByteArray &nativeName);

// A name made fit for a one-line display: control characters such as a newline
// inside a file name are shown as visible symbols, and bytes that are no valid
// text appear as replacement characters. Used only for what the user reads.
QString displayName(const QString &text);

// The folder list of the browsing window (Dir1): a folder, read back as a full path.
class DirListBox
{
public:
    DirListBox();
    const QString &Path() const { return m_path; }
    // Raises the run-time error when the folder does not exist.
    void setPath(const QString &path);
    // The same checks, and their errors, without setting anything.
    static void check(const QString &path);
    // A folder checked already, elsewhere.
    void setCheckedPath(const QString &path) { m_path = path; }

private:
    QString m_path;
};

// The drive list (Drive1). This platform has a single root, and no command
// reads or sets it; it is kept so that the window has what its design names.
class DriveListBox
{
public:
    QString Drive() const { return QStringLiteral("/"); }
};

// The file list of the browsing window (File1): every regular file of its
// folder, or link to one, sorted by natural order. Directories, FIFOs,
// sockets and devices never appear: opening a FIFO would block the viewer.
class FileListBox
{
public:
    struct Entry
    {
        QByteArray name; // exactly as the file system has it
        QString key;
    };

    // How a folder is read: readFolder, or a way that runs it elsewhere.
    using Reader = std::function<std::vector<Entry>(const QString &path)>;

    FileListBox(); // starts at the process's working directory, listed on first use
    // The window's lists read their folder away from the window thread.
    void setReader(Reader reader) { m_reader = std::move(reader); }

    const QString &Path() const { return m_path; }
    // Reads the folder anew; raises the run-time error when it cannot be read.
    // On failure the list keeps its previous folder and entries.
    void setPath(const QString &path);
    // The same, with the folder read already (by readFolder), elsewhere.
    void setPath(const QString &path, std::vector<Entry> entries);

    std::int32_t ListCount();
    std::int32_t ListIndex() const { return m_listIndex; }
    // Raises the run-time error for a value of ListCount or more, or below -1.
    void setListIndex(std::int32_t index);

    QString FileName(); // empty when no entry is selected
    QByteArray nativeFileName();
    QByteArray nativeFileName(std::int32_t index); // empty outside the list

    // Position of a name in the list, or -1.
    std::int32_t indexOf(const QByteArray &nativeName);

    // Lists a folder without touching any list: the same reading and order.
    static std::vector<Entry> readFolder(const QString &path);
    // For tests of slow file systems: runs before every folder is read.
    static void setBeforeReadingForTesting(std::function<void(const QString &path)> hook);

private:
    void ensureListed();

    QString m_path;
    Reader m_reader;
    std::vector<Entry> m_entries;
    bool m_listed = false;
    std::int32_t m_listIndex = -1;
};
