// quibrel-browser: the type library browser.
#include "app/application.h"
#include "app/notice.h"
#include "app/cmdline.h"
#include "index/libindex.h"
#include "app/mainform.h"
#include "dialogs/history.h"
#include "dialogs/idl.h"
#include "dialogs/legend.h"
#include "dialogs/resolve.h"
#include "dialogs/search.h"
#include "platform/com/classindex.h"

#include <QIcon>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv) {
    // Options are read before Qt starts, so --help and --version need no display.
    const TCommandLine commandLine = ParseCommandLine(ArgumentsFromArgv(argc, argv));
    switch (commandLine.Action) {
    case TCommandLine::Help:
        std::fputs(CommandLineHelp().toLocal8Bit().constData(), stdout);
        return 0;
    case TCommandLine::Version:
        std::printf("quibrel-browser %s\n", QUIBREL_VERSION);
        return 0;
    case TCommandLine::UsageError:
        std::fprintf(stderr, "quibrel-browser: %s\n%s", commandLine.Error.toLocal8Bit().constData(),
                     CommandLineUsage().toLocal8Bit().constData());
        return 2;
    case TCommandLine::Run:
        break;
    }

    QuietMissingRuntimeDir();
    TApplication app(argc, argv);
    // Lets the desktop match the window to its menu entry; the installed icon, when there is one.
    QGuiApplication::setDesktopFileName(QStringLiteral(QUIBREL_DESKTOP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("quibrel-browser")));
    SetUpApplicationFont();
    // Classes whose registration names no library are looked up in the library index's cache
    // (read once while the Resolve ProgID dialog is open).
    SetClassLibraryLocator(LocateClassLibrary);
    TMainForm mainForm(commandLine.Operands);
    // The tool windows, hidden until asked for; they belong to the main window.
    new THistoryForm(&mainForm);
    new TSearchForm(&mainForm);
    new TLegendForm(&mainForm);
    new TIdlForm(&mainForm);
    // Centred on the screen when it first shows.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = mainForm.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        mainForm.move(frame.topLeft());
    }
    mainForm.show();
    return app.exec();
}
