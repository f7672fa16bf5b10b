#include "index/registered.h"

#include "platform/registry/registry.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <string>

namespace {

// The default value of hKey's subkey, empty when the key or the value is absent.
QString DefaultValue(HKEY key, const std::string& subKey, bool* present = nullptr) {
    std::string value;
    const bool found = RegReadString(key, subKey.c_str(), nullptr, &value);
    if (present) *present = found;
    return found ? QString::fromStdString(value) : QString();
}

bool KeyExists(HKEY key, const std::string& subKey) {
    ScopedHKEY k;
    return RegOpenKeyEx(key, subKey.c_str(), 0, KEY_READ, k.Put()) == ERROR_SUCCESS;
}

}  // namespace

std::vector<TRegisteredLibrary> ReadRegisteredLibraries() {
    std::vector<TRegisteredLibrary> rows;
    ScopedHKEY typeLibs;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, "TypeLib", 0, KEY_READ, typeLibs.Put()) != ERROR_SUCCESS)
        return rows;
    for (const std::string& guid : RegSubKeyNames(typeLibs.Get())) {
        ScopedHKEY library;
        if (RegOpenKeyEx(typeLibs.Get(), guid.c_str(), 0, KEY_READ, library.Put()) != ERROR_SUCCESS)
            continue;
        const std::vector<std::string> versions = RegSubKeyNames(library.Get());
        if (versions.empty()) continue;
        TRegisteredLibrary row;
        // The last version key as listed, without comparing version numbers.
        const std::string& versionName = versions.back();
        row.Description = DefaultValue(library.Get(), versionName);
        ScopedHKEY version;
        if (RegOpenKeyEx(library.Get(), versionName.c_str(), 0, KEY_READ, version.Put()) == ERROR_SUCCESS) {
            const std::vector<std::string> locales = RegSubKeyNames(version.Get());
            if (!locales.empty()) {
                // The first subkey, whatever it is. A 64-bit Wine prefix registers only win64.
                const std::string& locale = locales.front();
                row.HasFile = true;
                bool found = false;
                row.File = DefaultValue(version.Get(), locale + "\\win32", &found);
                if ((!found || row.File.isEmpty()) && KeyExists(version.Get(), locale + "\\win64"))
                    row.File = DefaultValue(version.Get(), locale + "\\win64");
            }
        }
        rows.push_back(std::move(row));
    }
    // The user's collation; without a configured locale ("C"), a neutral one rather than
    // plain character codes, which would put every upper-case letter first.
    QCollator collator(QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale());
    collator.setCaseSensitivity(Qt::CaseSensitive);
    std::stable_sort(rows.begin(), rows.end(), [&](const TRegisteredLibrary& a, const TRegisteredLibrary& b) {
        return collator.compare(a.Description, b.Description) < 0;
    });
    return rows;
}
