// vellupix: starts the viewer, and the decode of the picture it is given
// beside it (see firstdecode.h). This program links neither Qt nor
// anything that does, so the decode starts a millisecond after the command,
// while the viewer it becomes loads its libraries.

#include "app/firstdecode.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <limits.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
// As in the decoding programs: a crash of the first decode stays a crash for
// the viewer to report.
extern "C" const char *__asan_default_options()
{
    return "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_abort=0";
}
#endif

namespace {

// Installed: <prefix>/bin/vellupix and <prefix>/libexec/vellupix/.
// Built: beside this program.
std::string viewerProgram()
{
    char self[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = n > 0 ? std::string(self, std::size_t(n)) : std::string();
    folder = folder.substr(0, folder.rfind('/') + 1);
    for (const std::string &candidate : {folder + "../libexec/vellupix/vellupix-viewer", folder + "vellupix-viewer"}) {
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return folder + "vellupix-viewer";
}

} // namespace

int main(int argc, char **argv)
{
    const std::string viewer = viewerProgram();
    ::unsetenv(firstdecode::kVariable); // a word for this viewer only
    // A picture alone on the command line is what the viewer opens; options
    // are the viewer's to read.
    if (argc == 2 && argv[1][0] != '-' && argv[1][0] != '\0') {
        pid_t pid = -1;
        const int socket = firstdecode::start(argv[1], &pid);
        if (socket >= 0) {
            const std::string word = std::to_string(socket) + ' ' + std::to_string(pid);
            ::setenv(firstdecode::kVariable, word.c_str(), 1);
        }
    }
    // Under the name it was started by: the window's class and the
    // messages name the command the user typed.
    ::execv(viewer.c_str(), argv);
    std::fprintf(stderr, "vellupix: cannot start %s: %s\n", viewer.c_str(), std::strerror(errno));
    return 127;
}
