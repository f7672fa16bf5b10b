// The browser's command line: its options, and the library, class and member it names.
#pragma once

#include <QString>
#include <QStringList>

struct TCommandLine {
    enum TAction { Run, Help, Version, UsageError };
    TAction Action = Run;
    QStringList Operands;  // LIBRARY [CLASS [MEMBER]], as given
    QString Error;         // for UsageError
};

// The arguments after the program name as text. A library name's bytes that are not UTF-8
// are kept (in the platform's file-name form), so that the file still opens.
QStringList ArgumentsFromArgv(int argc, const char* const* argv);

// Reads the arguments after the program name. Options come before the first operand; "--"
// ends them, so a library path that starts with "-" is still reachable. Qt's own options
// (-platform, -style, ...) are accepted and left to Qt.
TCommandLine ParseCommandLine(const QStringList& arguments);

// The one-line usage, and the whole --help text.
QString CommandLineUsage();
QString CommandLineHelp();
