#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

// The picture loader and saver of the platform. Both raise the run-time error
// with a description a user can act on; Qt's own error strings ("Unable to
// read image data") say nothing about which file or why.
namespace picture {

// Decoded pictures may take this many bytes; a larger one is refused before
// any pixel is decoded, from the size its header claims.
constexpr std::int64_t kAllocationLimitBytes = std::int64_t(1) << 30;

// What the file system says of a file's content: a file replaced, rewritten
// or touched gets another stamp. Invalid when the file could not be asked.
struct FileStamp
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;
    std::int64_t modifiedNs = 0;

    bool isValid() const { return size >= 0; }
    bool operator==(const FileStamp &) const = default;
};

// The stamp of the file a path names now (links followed).
FileStamp stampOf(const QByteArray &nativePath);
// The stamp of an open file.
FileStamp stampOfOpen(int fd);

// Loads a picture by its native path (bytes exactly as the file system has
// them), converted to the display's colour space when its file names one.
// The empty name gives the empty picture. Paths starting with ":/" are the
// program's own resources. Safe to call from any thread. When asked, gives
// the stamp of the file that was read, also when its decoding failed.
QImage LoadPicture(const QByteArray &nativePath, FileStamp *stamp = nullptr);

// The picture as its file holds it, for saving: its own pixels tagged with
// its own colour space, not converted for the display.
QImage LoadOwnPicture(const QByteArray &nativePath);

// LoadPicture in its two halves, for decoding in another process. The first
// opens a file as the loader does (no waiting on FIFOs, regular files only)
// and gives its descriptor, or raises the loader's error. The second decodes
// from such a descriptor, which it takes over, naming the file as given.
int openPictureFile(const QByteArray &nativePath, FileStamp *stamp = nullptr);
// When given, the store provides the image a decoder that can is to write
// into (of the size and format asked), so that its pixels need no copy.
using PixelStore = std::function<QImage(QSize size, QImage::Format format)>;
QImage decodePictureFile(int fd, const QString &name, const PixelStore &store = {});
// The same, giving the file's own pixels as LoadOwnPicture does.
QImage decodeOwnPictureFile(int fd, const QString &name, const PixelStore &store = {});
// How many cores a JPEG decode may spread over; 0 (the default): as many as
// are idle when it starts. A decoder process is told by the viewer, which
// knows how many of its other decoders are at work; the kernel's count of
// running threads cannot tell a busy core from one about to go idle.
// windowStarting: one of those cores is building the viewer's window
// meanwhile (the picture it was started with).
void setCoresForDecoding(int cores, bool windowStarting = false);
// How the loader's messages name a file.
QString displayedName(const QByteArray &nativePath);

// For tests of slow file systems: runs before every file is opened, and
// before a saved file, complete, replaces its target.
void setBeforeOpenForTesting(std::function<void(const QByteArray &nativePath)> hook);

// Lets the thread that waits for a save on another thread give it up. The
// save asks, once its file is complete, whether it may replace the target:
// given up on before that, it never does; asked after, it is too late.
class SaveCancellation
{
public:
    // From the waiting thread; false when the target is being replaced.
    bool cancel();
    // From the saving thread, once: true when the target may be replaced.
    bool proceed();

private:
    enum State { Writing, Cancelled, Replacing };
    std::atomic<int> m_state{Writing};
};

// Writes a picture in the encoding its name's suffix asks for (a name without
// a known suffix is written as a bitmap). The file is written beside the
// target and renamed over it only when complete, so a failing or cancelled
// write leaves an existing file as it was. The picture's colour profile goes
// with it where the encoding can hold one (JPEG, PNG, TIFF, WebP); in the
// others it is written in sRGB, what a file without a profile is taken for.
void SavePicture(const QImage &picture, const QString &fileName, SaveCancellation *cancellation = nullptr);

// The encoding SavePicture chooses for a name.
QByteArray formatForFileName(const QString &fileName);

} // namespace picture
