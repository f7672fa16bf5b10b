// The registry calls the browser makes, with the platform's names and values (the "A" forms:
// names and string data are UTF-8 text).
//
// HKEY_CURRENT_USER is stored in user.reg in $XDG_CONFIG_HOME/quibrel (~/.config/quibrel).
// HKEY_CLASSES_ROOT is our classes.reg in $XDG_DATA_HOME/quibrel (~/.local/share/quibrel),
// seen over the Software\Classes keys of the Wine prefix ($WINEPREFIX, else ~/.wine: user.reg
// over system.reg), which are read only. QUIBREL_REGISTRY_DIR, when set, holds both of our files.
//
// Key and value names match without regard to letter case and keep the spelling they were
// created with. Subkeys enumerate in the platform's sorted order (a-z folded to upper case),
// merged across the files; values in stored order, ours before the Wine prefix's. Changes are
// saved when the last handle opened for writing on that file is closed (at once when no such
// handle is open), so RegCloseKey reports whether saving worked. Saving merges with changes another process saved
// meanwhile and never leaves a half-written file.
#pragma once

#include "platform/oleauto/oleauto.h"

#include <string>
#include <vector>

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using LSTATUS = LONG;
using REGSAM = DWORD;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPSTR = char*;
using LPCSTR = const char*;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)

constexpr LSTATUS ERROR_SUCCESS = 0;
constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
constexpr LSTATUS ERROR_OUTOFMEMORY = 14;
constexpr LSTATUS ERROR_WRITE_FAULT = 29;
constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
constexpr LSTATUS ERROR_BAD_PATHNAME = 161;
constexpr LSTATUS ERROR_MORE_DATA = 234;
constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;
constexpr LSTATUS ERROR_CANTWRITE = 1013;
constexpr LSTATUS ERROR_KEY_DELETED = 1018;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// lpSubKey null or "" opens hKey again. A path is separated by backslashes.
LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      PHKEY phkResult);
// Opens the key, creating it and any missing keys on the way; lpdwDisposition (optional)
// tells which. lpClass and lpSecurityAttributes are ignored.
LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                        DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                        PHKEY phkResult, LPDWORD lpdwDisposition);
// The dwIndex-th subkey name. *lpcchName: buffer size in chars in, name length (without the
// terminating 0) out. ERROR_MORE_DATA when it does not fit; ERROR_NO_MORE_ITEMS past the end.
LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                      LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                      FILETIME* lpftLastWriteTime);
// The dwIndex-th value: its name as RegEnumKeyExA gives names, and its type and data as
// RegQueryValueExA gives them. The default value's name is "".
LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                      LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
// lpValueName null or "" is the default value. *lpcbData: buffer size in bytes in, data size
// out (string data counts its terminating 0); lpData null asks for the size only.
// ERROR_MORE_DATA when the buffer is too small, ERROR_FILE_NOT_FOUND when there is no value.
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData);
// String types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) take UTF-8 text with its terminating 0.
LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                       const BYTE* lpData, DWORD cbData);
// Deletes lpSubKey with everything below it; with lpSubKey null, everything below hKey.
// Keys that come from the Wine prefix cannot be deleted (ERROR_ACCESS_DENIED).
LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey);
// Closing the last handle opened for writing saves the changes; a failed save is reported.
LSTATUS RegCloseKey(HKEY hKey);

#define RegOpenKeyEx RegOpenKeyExA
#define RegCreateKeyEx RegCreateKeyExA
#define RegEnumKeyEx RegEnumKeyExA
#define RegEnumValue RegEnumValueA
#define RegQueryValueEx RegQueryValueExA
#define RegSetValueEx RegSetValueExA
#define RegDeleteTree RegDeleteTreeA

// ---- conveniences over the calls above --------------------------------------------------

// Closes the key it holds on every path.
class ScopedHKEY {
public:
    ScopedHKEY() = default;
    ScopedHKEY(const ScopedHKEY&) = delete;
    ScopedHKEY& operator=(const ScopedHKEY&) = delete;
    ~ScopedHKEY() { Reset(); }
    // Closes the key; the status of RegCloseKey (ERROR_SUCCESS when nothing was held).
    LSTATUS Reset();
    PHKEY Put() { Reset(); return &key_; }
    HKEY Get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

private:
    HKEY key_ = nullptr;
};

// A string value (REG_SZ or REG_EXPAND_SZ) of hKey, or of its subkey when lpSubKey is given;
// false when the key or value is absent or is not a string.
bool RegReadString(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpValueName, std::string* out);
// All subkey names of hKey in enumeration order.
std::vector<std::string> RegSubKeyNames(HKEY hKey);
// Writes a REG_SZ value.
LSTATUS RegWriteString(HKEY hKey, LPCSTR lpValueName, const std::string& value);

// The files behind the roots, as they are currently chosen (for messages and the README).
std::string RegistryUserFile();     // HKEY_CURRENT_USER
std::string RegistryClassesFile();  // our part of HKEY_CLASSES_ROOT
