#include "app/commandline.h"
#include "version.h"

#include <QCommandLineParser>
#include <QStringList>

CommandLine CommandLine::parse(const QList<QByteArray> &arguments, const QByteArray &workingDirectory)
{
    // Latin-1 maps every byte to one character and back, so the file
    // argument comes out of the parser exactly as it went in, whatever the
    // locale; a name that is not UTF-8 is still a name the folder holds.
    QStringList latin1;
    for (const QByteArray &a : arguments)
        latin1 << QString::fromLatin1(a);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vellupix, a picture viewer"));
    // Not addHelpOption(): it offers --help-all for Qt's own options, which
    // this command line does not take.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The picture to open."), QStringLiteral("[file]"));

    CommandLine result;
    if (!parser.parse(latin1)) {
        result.exitCode = 2;
        result.err = "vellupix: " + parser.errorText().toLocal8Bit() + '\n';
        return result;
    }
    if (parser.isSet(help)) {
        result.exitCode = 0;
        // The usage line names the command as it is installed, not as it was
        // started (a path, a symbolic link).
        QString text = parser.helpText();
        text.replace(0, text.indexOf(u'\n'), QStringLiteral("Usage: vellupix [options] [file]"));
        result.out = text.toUtf8();
        return result;
    }
    if (parser.isSet(version)) {
        result.exitCode = 0;
        result.out = QByteArrayLiteral("vellupix " VELLUPIX_VERSION "\n");
        return result;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        result.exitCode = 2;
        result.err = "vellupix: only one file can be opened\n";
        return result;
    }
    if (!files.isEmpty()) {
        result.file = files.constFirst().toLatin1();
        // Without a known working directory (it was removed) the name stays
        // relative rather than being taken from the root.
        if (!result.file.startsWith('/') && !workingDirectory.isEmpty())
            result.file = workingDirectory + (workingDirectory.endsWith('/') ? "" : "/") + result.file;
    }
    return result;
}
