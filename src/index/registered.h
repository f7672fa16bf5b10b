// The type libraries registered under HKEY_CLASSES_ROOT\TypeLib, as the "Open..." list and
// the library index see them.
#pragma once

#include <QString>

#include <vector>

// One registered library as the "Open..." list shows it.
struct TRegisteredLibrary {
    QString Description;  // default value of the library's last version key
    QString File;         // win32 (else win64) path below the version's first subkey
    bool HasFile = false; // false when the version key has no subkeys
};

// Walks HKEY_CLASSES_ROOT\TypeLib: per library the last version key, per version the first
// subkey. Libraries without version keys are left out. Sorted by description, case-sensitive
// and locale-aware; libraries with equal descriptions keep the registry's order.
std::vector<TRegisteredLibrary> ReadRegisteredLibraries();
