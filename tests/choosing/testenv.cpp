#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>

#include "platform/registry/registry.h"

#include <cstdlib>

QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "choosing_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

QStringList MenuTexts(const QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

void StoreRecentFiles(const std::vector<std::pair<std::string, std::string>>& values) {
    ScopedHKEY key;
    RegCreateKeyEx(HKEY_CURRENT_USER, kRecentFilesKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                   nullptr, key.Put(), nullptr);
    for (const auto& [name, data] : values) RegWriteString(key.Get(), name.c_str(), data);
}

QStringList StoredRecentFiles() {
    QStringList out;
    ScopedHKEY key;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, kRecentFilesKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return out;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof name;
        if (RegEnumValue(key.Get(), i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::string data;
        RegReadString(key.Get(), nullptr, name, &data);
        out << QString::fromStdString(std::string(name, cch) + "=" + data);
    }
    return out;
}

namespace {

const char* const kVariables[] = {"QUIBREL_REGISTRY_DIR", "WINEPREFIX", "XDG_CONFIG_HOME", "XDG_DATA_HOME"};

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

TTestRegistry::TTestRegistry() {
    for (const char* name : kVariables) {
        const char* value = std::getenv(name);
        FSaved.emplace_back(name, value ? std::string(1, '=') + value : std::string());
    }
    QDir(FDir.path()).mkpath("own");
    QDir(FDir.path()).mkpath("prefix");
    setenv("QUIBREL_REGISTRY_DIR", (FDir.path() + "/own").toUtf8().constData(), 1);
    setenv("WINEPREFIX", PrefixDir().toUtf8().constData(), 1);
    setenv("XDG_CONFIG_HOME", (FDir.path() + "/config").toUtf8().constData(), 1);
    setenv("XDG_DATA_HOME", (FDir.path() + "/data").toUtf8().constData(), 1);
}

TTestRegistry::~TTestRegistry() {
    for (const auto& [name, value] : FSaved) {
        if (value.empty()) unsetenv(name.c_str());
        else setenv(name.c_str(), value.c_str() + 1, 1);
    }
}

void TTestRegistry::WriteWineSystemReg(const std::vector<TWineKey>& keys) {
    std::string text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
    for (const TWineKey& key : keys) {
        text += "\n[" + Escape("Software\\Classes\\" + key.path) + "] 1700000000\n#time=1da0000000000000\n";
        for (const auto& [name, value] : key.values)
            text += (name.empty() ? std::string("@") : "\"" + Escape(name) + "\"") + "=\"" + Escape(value) + "\"\n";
    }
    QFile file(PrefixDir() + "/system.reg");
    if (file.open(QIODevice::WriteOnly)) file.write(text.data(), qint64(text.size()));
}

QString TTestRegistry::Fixture(const char* name) {
    return QStringLiteral(CHOOSING_FIXTURE_DIR "/") + QLatin1String(name);
}

std::vector<TWineKey> ResolveKeys() {
    const std::string doc = TTestRegistry::Fixture("ChoosingDoc.tlb").toStdString();
    const std::string noDoc = TTestRegistry::Fixture("ChoosingNoDoc.tlb").toStdString();
    const std::string noServer = "{5C3A0E10-8B7D-4F21-A0C4-1D2E3F409001}";
    const std::string noTypeLib = "{5C3A0E10-8B7D-4F21-A0C4-1D2E3F409002}";
    const std::string orphan = "{5C3A0E10-8B7D-4F21-A0C4-1D2E3F409003}";
    const std::string gadget = kGadget, widget = kWidget, docLib = kDocLib, noDocLib = kNoDocLib;
    return {
        {"Quibrel.Gadget", {{"", "Gadget"}}},
        {"Quibrel.Gadget\\CLSID", {{"", gadget}}},
        {"Quibrel.Thing\\CLSID", {{"", gadget}}},
        {"Quibrel.Thing\\CurVer", {{"", "Quibrel.Thing.2"}}},
        {"Quibrel.Thing.2\\CLSID", {{"", widget}}},
        {"Quibrel.Widget\\CLSID", {{"", widget}}},
        {"Loop.A\\CLSID", {{"", gadget}}},
        {"Loop.A\\CurVer", {{"", "Loop.B"}}},
        {"Loop.B\\CurVer", {{"", "Loop.A"}}},
        {"Quibrel.NoServer\\CLSID", {{"", noServer}}},
        {"Quibrel.NoTypeLib\\CLSID", {{"", noTypeLib}}},
        {"Quibrel.Orphan\\CLSID", {{"", orphan}}},
        {"Quibrel.Unregistered\\CLSID", {{"", "{5C3A0E10-8B7D-4F21-A0C4-1D2E3F409004}"}}},
        {"Quibrel.BadClsid\\CLSID", {{"", "not a class"}}},
        {"Quibrel.Gizmo\\CLSID", {{"", kGizmo}}},
        {"Quibrel.Sprocket\\CLSID", {{"", kSprocket}}},
        {"CLSID\\" + std::string(kGizmo) + "\\InprocServer32", {{"", "C:\\gizmo.dll"}}},
        {"CLSID\\" + std::string(kSprocket) + "\\LocalServer32", {{"", "C:\\sprocket.exe"}}},
        {"CLSID\\" + std::string(kSprocket) + "\\TypeLib", {{"", "{5C3A0E10-8B7D-4F21-A0C4-1D2E3F409998}"}}},
        {"CLSID\\" + gadget, {{"", "Gadget"}}},
        {"CLSID\\" + gadget + "\\InprocServer32", {{"", "C:\\windows\\system32\\gadget.dll"}}},
        {"CLSID\\" + gadget + "\\TypeLib", {{"", docLib}}},
        {"CLSID\\" + gadget + "\\Version", {{"", "1.0"}}},
        {"CLSID\\" + widget + "\\LocalServer32", {{"", "C:\\widget.exe"}}},
        {"CLSID\\" + widget + "\\TypeLib", {{"", noDocLib}}},
        {"CLSID\\" + noServer + "\\TypeLib", {{"", docLib}}},
        {"CLSID\\" + noTypeLib + "\\InprocServer32", {{"", "C:\\none.dll"}}},
        {"CLSID\\" + orphan + "\\InprocServer32", {{"", "C:\\orphan.dll"}}},
        {"CLSID\\" + orphan + "\\TypeLib", {{"", "{5C3A0E10-8B7D-4F21-A0C4-1D2E3F409999}"}}},
        {"TypeLib\\" + docLib + "\\1.0", {{"", "Choosing Test Library"}}},
        {"TypeLib\\" + docLib + "\\1.0\\0\\win64", {{"", doc}}},
        {"TypeLib\\" + noDocLib + "\\2.0", {{"", "ChoosingNoDoc"}}},
        {"TypeLib\\" + noDocLib + "\\2.0\\0\\win64", {{"", noDoc}}},
        {"TypeLib\\" + noDocLib + "\\1.0", {{"", "ChoosingNoDoc (old)"}}},
        {"TypeLib\\" + noDocLib + "\\1.0\\0\\win32", {{"", "/nonexistent/ChoosingNoDoc1.tlb"}}},
    };
}
