#pragma once

#include <cstdint>

#include <sys/types.h>

// The picture a viewer is started with, decoded before Qt is loaded. Loading
// Qt takes the viewer some ten milliseconds; a process forked by a launcher
// that links libjpeg alone starts decoding at once meanwhile. It takes only
// what it gives exactly as the viewer's own decoders would: a baseline JPEG
// of 8 bits, grey or in colour, upright, without a colour profile or a
// comment. It speaks the decoders' protocol (platform/decoderprotocol.h),
// opening with Started; the viewer adopts it as its first decoder.
namespace firstdecode {

// The largest picture, and address space, a decoder is allowed: the
// viewer's own limits, which it checks are these.
constexpr std::int64_t kPictureBytes = std::int64_t(1) << 30;
constexpr std::int64_t kAddressSpaceBytes = 2 * kPictureBytes + (std::int64_t(1) << 30);

// Where the launcher tells the viewer of it: "<socket> <pid>".
constexpr const char *kVariable = "VELLUPIX_FIRST_DECODE";

// Forks the process for the file at path (taken as given, relative to the
// working folder); it opens and reads the file itself, so that a folder
// that stopped answering holds up nothing. Returns the caller's end of its
// socket, not closed on exec, and sets *pid; -1 when no process was made.
int start(const char *path, pid_t *pid);

// Whether an EXIF block (an APP1 marker's data) leaves a picture as it is
// stored: it names no orientation, or the upright one. False for anything
// that does not read cleanly.
bool exifUpright(const unsigned char *data, unsigned length);

// Takes the launcher's word from the environment, and removes it there so
// that no process the viewer starts inherits it. False when there is none.
bool takeFromEnvironment(int *socket, pid_t *pid);

} // namespace firstdecode
