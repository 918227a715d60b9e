#include "app/mdiform1.h"
#include "platform/dialogs.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vellupix, a picture viewer"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The picture to open."), QStringLiteral("[file]"));
    QCoreApplication::setApplicationName(QStringLiteral("org.vellupix.Vellupix"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELLUPIX_VERSION));
    // Parsed before the window system is touched, so that --help and
    // --version answer on a machine without a display.
    if (!parser.parse(arguments) || parser.positionalArguments().size() > 1) {
        std::fprintf(stderr, "vellupix: %s\n",
                     qPrintable(parser.errorText().isEmpty() ? QStringLiteral("only one file can be opened")
                                                              : parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("vellupix"))), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("vellupix %s\n", VELLUPIX_VERSION);
        return 0;
    }

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
    QApplication::setDesktopFileName(QStringLiteral("org.vellupix.Vellupix"));

    QtDialogs dialogs;
    MDIForm1 frame(dialogs);
    frame.Show();
    if (!parser.positionalArguments().isEmpty()) {
        const QString file = parser.positionalArguments().constFirst();
        // After the load step and once the frame is up, as a user's Open would be.
        QTimer::singleShot(0, &frame, [&frame, file] { frame.Open_File(file); });
    }
    frame.endProcess(app.exec());
}
