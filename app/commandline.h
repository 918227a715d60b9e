#pragma once

#include <QByteArray>
#include <QList>

// What the command line asks for, worked out before the window system is
// touched so that --help and --version answer on a machine without a display.
struct CommandLine
{
    // -1: start the viewer; otherwise exit with this code after printing.
    int exitCode = -1;
    QByteArray out; // for standard output
    QByteArray err; // for standard error
    // The picture to open, absolute and byte for byte as the file system
    // names it (a name need not be valid in any encoding); empty for none.
    QByteArray file;

    // arguments as main() got them, the program's name first; a relative
    // file is taken from workingDirectory.
    static CommandLine parse(const QList<QByteArray> &arguments, const QByteArray &workingDirectory);
};
