#include "app/mdiform1.h"
#include "platform/dialogs.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    // Without a display Qt aborts with a long message about platform plugins;
    // say plainly what is missing instead.
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fputs("vellupix: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "start it from a desktop session or under xvfb-run.\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vellupix"));
    QApplication::setApplicationVersion(QStringLiteral(VELLUPIX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("vellupix"));

    QtDialogs dialogs;
    MDIForm1 frame(dialogs);
    frame.Show();
    return app.exec();
}
