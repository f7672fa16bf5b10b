// libFuzzer target: loads a library from arbitrary bytes into the main window, offscreen, and
// does what a person does with it: selects every class and every member (so every listing,
// description and signature is built by the window's own code), builds the event template of
// every event interface with all its events, and runs a search. Imports are looked for beside
// the input as in fuzz_load.
#include "app/application.h"
#include "dialogs/search.h"

#include "../damaged/browse.h"
#include "../hostile/libwalk.h"

#include <QApplication>
#include <QLineEdit>
#include <QTreeView>
#include <QTreeWidget>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

static std::string g_path;
static TMainForm* g_form = nullptr;
static TSearchForm* g_search = nullptr;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fs::path dir = libwalk::ScratchRoot() / ("quibrel-fuzz-browse-" + std::to_string(::getpid()));
    fs::create_directories(dir / "home");
    if (const char* beside = std::getenv("QUIBREL_FUZZ_BESIDE")) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(beside, ec))
            fs::copy_file(e.path(), dir / e.path().filename(), fs::copy_options::overwrite_existing, ec);
    }
    g_path = (dir / "Input.tlb").string();
    // A registry and user folders of our own; no display.
    for (const char* name : {"QUIBREL_REGISTRY_DIR", "WINEPREFIX", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
        setenv(name, (dir / "home" / name).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The application, the window and its search dialog live for the whole run.
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    (void)argc;
    static QApplication app(qtArgc, qtArgv);
    // What the window would show in a message box is dropped: no one is there to close it.
    ErrorSink() = [](const QString&) {};
    g_form = new TMainForm();
    g_search = new TSearchForm(g_form);
    g_search->FProcessMessages = [] {};
    // Fonts are loaded on the first text laid out; that happens here, once, not in an input.
    g_form->txtDoc->SetText(QStringLiteral("Sub Warm(Index As Long) As <Font>"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    libwalk::WriteFile(g_path, data, size);
    try {
        g_form->OpenTypeLib(QString::fromStdString(g_path));
    } catch (const EBrowserError&) {
        return 0;  // refused: the box's message, nothing else
    }
    if (browse::Everything(*g_form).textSize == std::size_t(-1)) std::abort();  // keeps the reads
    for (const char* text : {"e", "_"}) {
        g_search->txtSearch->setText(QString::fromLatin1(text));
        g_search->RunSearch();
        if (g_search->Busy()) std::abort();
        const int rows = int(g_search->Results().size());
        // Choosing a result selects its class and member in the window.
        if (rows > 0) g_search->lvSearch->setCurrentIndex(g_search->Model()->index(rows - 1, 0));
    }
    // What the browser's event loop would do between two user actions: deliver what was
    // posted (otherwise posted events pile up from input to input).
    QCoreApplication::sendPostedEvents();
    return 0;
}
