#include "platform/filelist.h"

#include "platform/checked.h"
#include "platform/naturalorder.h"
#include "platform/runtimeerror.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

QByteArray joinNativePath(const QString &folder, const QByteArray &nativeName)
{
    QByteArray path = QFile::encodeName(folder);
    if (!path.endsWith('/'))
        path += '/';
    return path + nativeName;
}

QString displayName(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() < 0x20)
            out += QChar(0x2400 + c.unicode()); // the Control Pictures block: a newline shows as ␊
        else if (c.unicode() == 0x7f)
            out += QChar(0x2421);
        else
            out += c;
    }
    return out;
}

// strerror is not safe on the readers' threads; Qt's own text is.
static QString errnoText(int err)
{
    return qt_error_string(err);
}

DirListBox::DirListBox() : m_path(QDir::currentPath()) { }

void DirListBox::setPath(const QString &path)
{
    check(path);
    m_path = path;
}

void DirListBox::check(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        throw RuntimeError(QStringLiteral("The folder \u201c%1\u201d cannot be found (%2).")
                               .arg(displayName(path), errnoText(errno)));
    if (!S_ISDIR(st.st_mode))
        throw RuntimeError(QStringLiteral("\u201c%1\u201d is not a folder.").arg(displayName(path)));
}

FileListBox::FileListBox() : m_path(QDir::currentPath()) { }

static std::function<void(const QString &)> g_beforeReading;

void FileListBox::setBeforeReadingForTesting(std::function<void(const QString &path)> hook)
{
    g_beforeReading = std::move(hook);
}

std::vector<FileListBox::Entry> FileListBox::readFolder(const QString &path)
{
    if (g_beforeReading)
        g_beforeReading(path);
    const QByteArray native = QFile::encodeName(path.isEmpty() ? QStringLiteral("/") : path);
    DIR *dir = ::opendir(native.constData());
    if (!dir)
        throw RuntimeError(QStringLiteral("The folder \u201c%1\u201d cannot be read (%2).")
                               .arg(displayName(path), errnoText(errno)));
    std::vector<Entry> entries;
    const int fd = ::dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent *d = ::readdir(dir);
        if (!d)
            break;
        const char *name = d->d_name;
        // Hidden files are left out, as a file list does by default: a folder
        // copied from a Mac holds a "._IMG_0001.JPG" beside every picture.
        if (name[0] == '.')
            continue;
        bool regular = d->d_type == DT_REG;
        if (d->d_type == DT_LNK || d->d_type == DT_UNKNOWN) {
            // Only what a link points at tells; a dangling link or a loop fails
            // here and is left out like any other non-file.
            struct stat st;
            regular = ::fstatat(fd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (regular) {
            QByteArray bytes(name);
            QString key = naturalorder::sortKey(bytes);
            entries.push_back({std::move(bytes), std::move(key)});
        }
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0)
        throw RuntimeError(QStringLiteral("The folder \u201c%1\u201d cannot be read (%2).")
                               .arg(displayName(path), errnoText(readError)));
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        return naturalorder::less(a.key, a.name, b.key, b.name);
    });
    return entries;
}

void FileListBox::setPath(const QString &path)
{
    setPath(path, m_reader ? m_reader(path) : readFolder(path));
}

void FileListBox::setPath(const QString &path, std::vector<Entry> entries)
{
    m_entries = std::move(entries);
    m_path = path;
    m_listed = true;
    m_listIndex = -1;
}

void FileListBox::ensureListed()
{
    if (!m_listed)
        setPath(m_path);
}

std::int32_t FileListBox::ListCount()
{
    ensureListed();
    return checked::fromSize(qsizetype(m_entries.size()));
}

void FileListBox::setListIndex(std::int32_t index)
{
    const std::int32_t count = ListCount();
    if (index < -1 || index >= count)
        throw RuntimeError(QStringLiteral("Invalid list position %1: the folder has %2 files.")
                               .arg(index)
                               .arg(count));
    m_listIndex = index;
}

QByteArray FileListBox::nativeFileName()
{
    ensureListed();
    if (m_listIndex < 0 || m_listIndex >= std::int32_t(m_entries.size()))
        return {};
    return m_entries[size_t(m_listIndex)].name;
}

QByteArray FileListBox::nativeFileName(std::int32_t index)
{
    ensureListed();
    if (index < 0 || index >= std::int32_t(m_entries.size()))
        return {};
    return m_entries[size_t(index)].name;
}

QString FileListBox::FileName()
{
    return QFile::decodeName(nativeFileName());
}

std::int32_t FileListBox::indexOf(const QByteArray &nativeName)
{
    ensureListed();
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].name == nativeName)
            return std::int32_t(i);
    }
    return -1;
}
