#include "app/commandline.h"
#include "app/firstdecode.h"
#include "app/mdiform1.h"
#include "app/pluginpaths.h"
#include "decoder/decoder.h"
#include "platform/colour.h"
#include "platform/decoderpool.h"
#include "platform/dialogs.h"
#include "platform/picturecache.h"
#include "version.h"

#include <QApplication>
#include <QTimer>

#include <fontconfig/fontconfig.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include <unistd.h>

// The launcher's first decode keeps to the viewer's own limits.
static_assert(firstdecode::kPictureBytes == picture::kAllocationLimitBytes);
static_assert(firstdecode::kAddressSpaceBytes == DecoderPool::kAddressSpaceBytes);

int main(int argc, char *argv[])
{
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    // The bytes the kernel gives, not a decoded name: a folder whose name is
    // not valid UTF-8 is still the folder a relative file name starts from.
    std::error_code noFolder;
    const std::filesystem::path cwd = std::filesystem::current_path(noFolder);
    // Parsed before the window system is touched, so that --help and
    // --version answer on a machine without a display.
    const CommandLine commandLine = CommandLine::parse(arguments, QByteArray::fromStdString(cwd.native()));
    std::fputs(commandLine.out.constData(), stdout);
    std::fputs(commandLine.err.constData(), stderr);
    if (commandLine.exitCode >= 0)
        return commandLine.exitCode;

    // Without a display Qt aborts with a long message about platform plugins;
    // say plainly what is missing instead.
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fputs("vellupix: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "start it from a desktop session or under xvfb-run.\n",
                   stderr);
        return 1;
    }
    // The picture named on the command line is read on a worker from the very
    // start, while Qt connects to the display and the frame comes up; the
    // open takes it from the cache instead of reading it again.
    // Started by the launcher, it is being decoded already, by a process that
    // started before Qt was loaded (app/firstdecode.h). Otherwise its decoder
    // is this process forked before it made a thread or loaded anything more,
    // where a decoding program would first load its libraries.
    Decoding decoding;
    int firstSocket = -1;
    pid_t firstPid = -1;
    const bool launched = firstdecode::takeFromEnvironment(&firstSocket, &firstPid);
    if (!commandLine.file.isEmpty()) {
        if (!launched || !decoding.decoders->adoptFirstDecode(firstSocket, firstPid))
            decoding.decoders->forkLean(commandLine.file, &decoder::run);
        decoding.cache->prefetch({commandLine.file});
    } else if (launched) {
        ::close(firstSocket);
    }
    // The menus belong to the frame, as designed, even where the desktop
    // offers a menu bar of its own; asking the session bus whether it does
    // would also hold up the start.
    // Fontconfig reads its configuration, some fifty files, when Qt first
    // measures a text: about 5 ms on the window's thread as the frame is
    // built. Read here on another core instead, while Qt connects to the
    // display; it keeps one configuration a process, which Qt then finds.
    std::thread fonts(FcInit);
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
    // Qt's accessibility bridge asks the session bus for a screen reader.
    // Where no bus is named, libdbus "autolaunches": it forks the viewer,
    // while the window waits, to run dbus-launch, which finds the display's
    // bus or starts one. Without dbus-launch (Debian's dbus-x11) that is a
    // fork and a search of PATH for nothing, at every start: libdbus is told
    // there is no bus.
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        const char *runtime = std::getenv("XDG_RUNTIME_DIR");
        std::error_code unknown;
        if ((!runtime || !std::filesystem::is_socket(std::filesystem::path(runtime) / "bus", unknown))
            && !std::filesystem::exists("/usr/bin/dbus-launch", unknown))
            ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
    }
    QApplication app(argc, argv);
    fonts.join();
    QCoreApplication::setApplicationName(QStringLiteral("Vellupix"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELLUPIX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.vellupix.Vellupix"));
    // Asked once, here on the window thread: the workers convert every
    // picture to it and must not talk to the X server themselves.
    const QByteArray monitorProfile = colour::x11DisplayProfile();
    if (!monitorProfile.isEmpty()) {
        colour::setDisplayProfile(monitorProfile);
        // Read ahead for sRGB before the monitor's profile was known, by a
        // decoder that does not know it either.
        decoding.cache->clear();
        decoding.decoders->restartIdle();
    }

    const PluginPathsHeld pluginPaths;
    QtDialogs dialogs;
    MDIForm1 frame(dialogs, std::move(decoding));
    if (!commandLine.file.isEmpty())
        frame.greetBeneathStartPicture();
    frame.Show();
    if (!commandLine.file.isEmpty()) {
        const QByteArray file = commandLine.file;
        // After the load step and once the frame is up, as a user's Open would be.
        QTimer::singleShot(0, &frame, [&frame, file] { frame.Open_File(file); });
    }
    frame.endProcess(app.exec());
}
