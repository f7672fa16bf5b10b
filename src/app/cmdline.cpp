// The browser's command line.
#include "app/cmdline.h"

#include "platform/oleauto/hostpath.h"

namespace {

// Options QApplication reads for itself; those in the first list take a value.
const char* const QtValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                      "qwindowgeometry", "qwindowicon", "qwindowtitle", "session",
                                      "display", "geometry", "style", "stylesheet", "qmljsdebugger"};
const char* const QtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// The name of a Qt option ("-style", "--style" or "-style=x" give "style"), else empty.
QString QtOptionName(const QString& arg) {
    QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
    name = name.left(name.indexOf(QLatin1Char('=')));
    for (const char* option : QtValueOptions)
        if (name == QLatin1String(option)) return name;
    for (const char* option : QtFlagOptions)
        if (name == QLatin1String(option)) return name;
    return QString();
}

bool TakesValue(const QString& name) {
    for (const char* option : QtValueOptions)
        if (name == QLatin1String(option)) return true;
    return false;
}

}  // namespace

QStringList ArgumentsFromArgv(int argc, const char* const* argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromStdU16String(HostPathToUtf16(argv[i]));
    return arguments;
}

TCommandLine ParseCommandLine(const QStringList& arguments) {
    TCommandLine result;
    int i = 0;
    for (; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QLatin1String("--")) {
            ++i;
            break;
        }
        if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) break;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            result.Action = TCommandLine::Help;
            return result;
        }
        if (arg == QLatin1String("--version")) {
            result.Action = TCommandLine::Version;
            return result;
        }
        const QString qtOption = QtOptionName(arg);
        if (qtOption.isEmpty()) {
            result.Action = TCommandLine::UsageError;
            result.Error = QStringLiteral("unknown option '%1'").arg(arg);
            return result;
        }
        if (TakesValue(qtOption) && !arg.contains(QLatin1Char('='))) {
            if (++i >= arguments.size()) {
                result.Action = TCommandLine::UsageError;
                result.Error = QStringLiteral("option '%1' needs a value").arg(arg);
                return result;
            }
        }
    }
    // Everything from the first operand on is an operand, so that a class or member name
    // that starts with "-" reaches the window as it is.
    result.Operands = arguments.mid(i);
    return result;
}

QString CommandLineUsage() {
    return QStringLiteral("usage: quibrel-browser [--help | --version] [--] [LIBRARY [CLASS [MEMBER]]]\n");
}

QString CommandLineHelp() {
    return CommandLineUsage() + QStringLiteral(
        "\n"
        "Browses a COM type library: opens LIBRARY (a .tlb, or a .dll/.ocx/.exe/.olb carrying one)\n"
        "and selects the class CLASS and its member MEMBER.\n"
        "\n"
        "  -h, --help     show this help and exit\n"
        "      --version  show the version and exit\n"
        "  --             end of options: a LIBRARY that starts with '-' follows\n"
        "\n"
        "Qt's own options (-platform, -style, ...) are accepted too. See quibrel-browser(1).\n");
}
