// What the tests of library choosing share: one application object, and a registry of its
// own per test (our files and a Wine prefix in a temporary folder).
#pragma once

#include <QTemporaryDir>
#include <QString>
#include <QStringList>

#include <string>
#include <utility>
#include <vector>

class QApplication;
class QMenu;

QApplication& TestApp();

// The captions of a menu's items, "-" for a separator.
QStringList MenuTexts(const QMenu* menu);

// The recent-file list's values below HKEY_CURRENT_USER: written as given, read back in
// enumeration order as "name=data".
inline constexpr const char* kRecentFilesKey = "Software\\Quibrel Type Library Explorer\\MRU Items";
void StoreRecentFiles(const std::vector<std::pair<std::string, std::string>>& values);
QStringList StoredRecentFiles();

// A registry key as a Wine prefix's system.reg writes it, below Software\Classes: its path
// (single backslashes) and its values in order; an empty value name is the default value.
struct TWineKey {
    std::string path;
    std::vector<std::pair<std::string, std::string>> values;
};

// GUIDs of the test libraries and classes.
inline constexpr const char* kDocLib = "{5C3A0E10-8B7D-4F21-A0C4-1D2E3F405100}";
inline constexpr const char* kGadget = "{5C3A0E10-8B7D-4F21-A0C4-1D2E3F405103}";
// Declared in ChoosingDoc.tlb; registered without a TypeLib key, and with one that leads nowhere.
inline constexpr const char* kGizmo = "{5C3A0E10-8B7D-4F21-A0C4-1D2E3F405105}";
inline constexpr const char* kSprocket = "{5C3A0E10-8B7D-4F21-A0C4-1D2E3F405106}";
inline constexpr const char* kNoDocLib = "{5C3A0E10-8B7D-4F21-A0C4-1D2E3F405200}";
inline constexpr const char* kWidget = "{5C3A0E10-8B7D-4F21-A0C4-1D2E3F405202}";

// Classes and ProgIDs for resolving:
//   Quibrel.Gadget      -> Gadget (in-process server, library with doc string, Version 1.0)
//   Quibrel.Thing       -> own CLSID Gadget, CurVer Quibrel.Thing.2 -> Widget
//   Quibrel.Widget      -> Widget (local server, library without doc string, no Version key;
//                          version 2.0 is registered before a stale 1.0)
//   Loop.A, Loop.B      -> CurVer of each other; Loop.A's own CLSID is Gadget
//   Quibrel.NoServer    -> a class without a server key
//   Quibrel.NoTypeLib   -> a class without a TypeLib key
//   Quibrel.Orphan      -> a class whose library is not registered
//   Quibrel.Unregistered-> a CLSID with no class key
//   Quibrel.BadClsid    -> CLSID text that is not a GUID
std::vector<TWineKey> ResolveKeys();

// Points the registry at a fresh temporary folder for its lifetime.
class TTestRegistry {
public:
    TTestRegistry();
    ~TTestRegistry();

    QString Dir() const { return FDir.path(); }
    QString PrefixDir() const { return FDir.path() + "/prefix"; }
    // Writes the prefix's system.reg with these keys, in this order.
    void WriteWineSystemReg(const std::vector<TWineKey>& keys);
    // Where the test libraries are built.
    static QString Fixture(const char* name);

private:
    QTemporaryDir FDir;
    std::vector<std::pair<std::string, std::string>> FSaved;
};
