#include "regtest.h"

#include "platform/registry/regfile.h"

#include <chrono>
#include <csignal>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof name;
        if (RegEnumValueA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, cch);
    }
    return names;
}

using Strings = std::vector<std::string>;

#define BYTES(literal) std::string(literal, sizeof(literal) - 1)

}  // namespace

TEST_F(RegistryTest, SortedKeysStoredValuesAndSpellingSurviveSavingAndNamesMatchIgnoringCase) {
    HKEY app = Create(HKEY_CURRENT_USER, "Software\\Quibrel Test");
    for (const char* name : {"Zeta", "alpha", "Mid", "Größe"}) RegCloseKey(Create(app, name));
    for (const char* name : {"b", "A", "c"}) RegWriteString(app, name, name);
    ASSERT_EQ(RegCloseKey(app), ERROR_SUCCESS);

    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass ? "after reading the file again" : "in memory");
        ScopedHKEY k;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\quibrel TEST", 0, KEY_READ, k.Put()), ERROR_SUCCESS);
        EXPECT_EQ(RegSubKeyNames(k.Get()), (Strings{"alpha", "Größe", "Mid", "Zeta"}));
        EXPECT_EQ(ValueNames(k.Get()), (Strings{"b", "A", "c"}));
        EXPECT_EQ(Read(k.Get(), nullptr, "a"), "A");
        ScopedHKEY u;
        EXPECT_EQ(RegOpenKeyExA(k.Get(), "GRÖSSE", 0, KEY_READ, u.Put()), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(RegOpenKeyExA(k.Get(), "gRÖße", 0, KEY_READ, u.Put()), ERROR_SUCCESS);
        Reload();
    }
    // Creating an existing key in other letter case opens it and keeps the first spelling;
    // writing a value in other letter case replaces it in place.
    DWORD disposition = 0;
    ScopedHKEY again;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "software\\QUIBREL TEST\\ALPHA", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, again.Put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    again.Reset();
    ScopedHKEY k;
    RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Quibrel Test", 0, KEY_ALL_ACCESS, k.Put());
    RegWriteString(k.Get(), "B", "second");
    EXPECT_EQ(ValueNames(k.Get()), (Strings{"b", "A", "c"}));
    EXPECT_EQ(Read(k.Get(), nullptr, "b"), "second");
    EXPECT_EQ(RegSubKeyNames(k.Get())[0], "alpha");
    k.Reset();
    EXPECT_NE(ReadFile(RegistryUserFile()).find("[HKEY_CURRENT_USER\\Software\\Quibrel Test\\alpha]"),
              std::string::npos);
}

TEST_F(RegistryTest, ValuesFollowThePlatformsBufferRules) {
    HKEY k = Create(HKEY_CURRENT_USER, "Software\\Values");
    const char text[] = "abc";  // written without its terminating 0: the store adds it
    ASSERT_EQ(RegSetValueExA(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 3), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA(k, "", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 4u);
    char small[2];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(k, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(RegQueryValueExA(k, "missing", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);

    char name[4];
    DWORD cch = sizeof name;
    EXPECT_EQ(RegEnumValueA(k, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(cch, 0u);  // the default value's name
    RegWriteString(k, "long name", "x");
    cch = sizeof name;
    EXPECT_EQ(RegEnumValueA(k, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    cch = sizeof name;
    EXPECT_EQ(RegEnumValueA(k, 2, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);

    // Access, handles and names that a file could not hold.
    ScopedHKEY ro;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Values", 0, KEY_READ, ro.Put()), ERROR_SUCCESS);
    EXPECT_EQ(RegWriteString(ro.Get(), "x", "y"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeA(ro.Get(), nullptr), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegQueryValueExA(reinterpret_cast<HKEY>(&type), nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
    HKEY bad = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "a\nb", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &bad, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "a\\\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &bad, nullptr),
              ERROR_BAD_PATHNAME);
}

TEST_F(RegistryTest, DeleteTreeRemovesAKeyWithEverythingBelowIt) {
    HKEY c = Create(HKEY_CURRENT_USER, "A\\B\\C");
    RegWriteString(c, "v", "1");
    RegCloseKey(Create(HKEY_CURRENT_USER, "A\\B2"));
    HKEY a = Create(HKEY_CURRENT_USER, "A");
    RegWriteString(a, "keep", "1");
    EXPECT_EQ(RegDeleteTreeA(a, "b"), ERROR_SUCCESS);
    EXPECT_EQ(RegSubKeyNames(a), (Strings{"B2"}));
    EXPECT_EQ(RegWriteString(c, "v", "2"), ERROR_KEY_DELETED);  // a handle below the deleted key
    EXPECT_EQ(RegDeleteTreeA(a, "B"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTreeA(a, nullptr), ERROR_SUCCESS);  // everything below, the key stays
    EXPECT_TRUE(RegSubKeyNames(a).empty());
    EXPECT_EQ(Read(a, nullptr, "keep"), "<absent>");
    RegCloseKey(c);
    EXPECT_EQ(RegCloseKey(a), ERROR_SUCCESS);
    Reload();
    ScopedHKEY k;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "A", 0, KEY_READ, k.Put()), ERROR_SUCCESS);
    EXPECT_TRUE(RegSubKeyNames(k.Get()).empty());
}

// Subkeys of one key in our file and in the Wine prefix enumerate as one sorted list, as the
// platform gives them: names compare with a-z folded to upper case, "10.0" before "2.0".
TEST_F(RegistryTest, SubKeysFromBothSourcesEnumerateInThePlatformsOrder) {
    const char* lib = "TypeLib\\{00020430-0000-0000-C000-000000000046}";
    auto wineKey = [&](const char* sub) {
        return std::string("[Software\\\\Classes\\\\TypeLib\\\\{00020430-0000-0000-C000-000000000046}\\\\") +
               sub + "] 1\n@=\"wine " + sub + "\"\n";
    };
    MakeWinePrefix(wineKey("1.0") + wineKey("10.0") + wineKey("_x") + wineKey("b"));
    for (const char* v : {"2.0", "Z", "A1"}) {
        HKEY k = Create(HKEY_CLASSES_ROOT, (std::string(lib) + "\\" + v).c_str());
        RegWriteString(k, nullptr, std::string("ours ") + v);
        ASSERT_EQ(RegCloseKey(k), ERROR_SUCCESS);
    }
    ScopedHKEY k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, lib, 0, KEY_READ, k.Put()), ERROR_SUCCESS);
    EXPECT_EQ(RegSubKeyNames(k.Get()), (Strings{"1.0", "10.0", "2.0", "A1", "b", "Z", "_x"}));
    // Past the end, and a name that does not fit, as for one source.
    char name[4];
    DWORD cch = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(k.Get(), 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    cch = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(k.Get(), 2, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name, cch), "2.0");
    EXPECT_EQ(RegEnumKeyExA(k.Get(), 7, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    // The other split gives the same list.
    k.Reset();
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "TypeLib");
    MakeWinePrefix(wineKey("2.0"));
    for (const char* v : {"10.0", "1.0"}) RegCloseKey(Create(HKEY_CLASSES_ROOT, (std::string(lib) + "\\" + v).c_str()));
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, lib, 0, KEY_READ, k.Put()), ERROR_SUCCESS);
    EXPECT_EQ(RegSubKeyNames(k.Get()), (Strings{"1.0", "10.0", "2.0"}));
}

// Every value kind a Wine prefix writes is read, and survives being written to our file and
// read back.
TEST_F(RegistryTest, WineValueKindsRoundTripThroughOurFile) {
    WriteFile(prefix_ + "/system.reg",
              "WINE REGISTRY Version 2\n"
              ";; All keys relative to \\\\Machine\n\n"
              "#arch=win64\n\n"
              "[Software\\\\Classes\\\\Kinds] 1700000000\n"
              "#time=1da1b2c3d4e5f60\n"
              "@=\"Def\\\\ault \\\"q\\\" \\xe9\\xd83d\\xde00x \\t\"\n"
              "\"Expand\"=str(2):\"%SystemRoot%\\\\x\"\n"
              "\"Multi\"=str(7):\"one\\0two\\0\"\n"
              "\"Dword\"=dword:0000002a\n"
              "\"Bin\"=hex:01,02,ff,\\\n  00,7f\n"
              "\"Qword\"=hex(b):01,00,00,00,00,00,00,80\n"
              "\"None\"=hex(0):\n"
              "\"Wide\"=hex(2):41,00,e9,00,00,00\n"
              "\"Odd\"=hex(100):aa\n"
              "\"Octal\"=\"a\\101\\7b\"\n\n"
              "[Software\\\\Other] 1700000000\n"
              "\"Hidden\"=\"not classes\"\n");
    struct Want {
        const char* name;
        DWORD type;
        std::string data;
    };
    const Want want[] = {
        {"", REG_SZ, BYTES("Def\\ault \"q\" \xC3\xA9\xF0\x9F\x98\x80x \t\0")},
        {"Expand", REG_EXPAND_SZ, BYTES("%SystemRoot%\\x\0")},
        {"Multi", REG_MULTI_SZ, BYTES("one\0two\0\0")},
        {"Dword", REG_DWORD, BYTES("\x2a\0\0\0")},
        {"Bin", REG_BINARY, BYTES("\x01\x02\xff\x00\x7f")},
        {"Qword", REG_QWORD, BYTES("\x01\0\0\0\0\0\0\x80")},
        {"None", REG_NONE, BYTES("")},
        {"Wide", REG_EXPAND_SZ, BYTES("A\xC3\xA9\0")},
        {"Odd", 0x100, BYTES("\xaa")},
        {"Octal", REG_SZ, BYTES("aA\x07" "b\0")},
    };
    auto Check = [&](HKEY key) {
        for (const Want& w : want) {
            SCOPED_TRACE(w.name);
            DWORD type = 0, size = 64;
            BYTE buf[64];
            ASSERT_EQ(RegQueryValueExA(key, w.name, nullptr, &type, buf, &size), ERROR_SUCCESS);
            EXPECT_EQ(type, w.type);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), size), w.data);
        }
    };
    ScopedHKEY wine, copy;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "kinds", 0, KEY_READ, wine.Put()), ERROR_SUCCESS);
    Check(wine.Get());
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Other", 0, KEY_READ, copy.Put()), ERROR_FILE_NOT_FOUND);

    *copy.Put() = Create(HKEY_CURRENT_USER, "Copy");
    for (const Want& w : want)
        ASSERT_EQ(RegSetValueExA(copy.Get(), w.name, 0, w.type, reinterpret_cast<const BYTE*>(w.data.data()),
                                 DWORD(w.data.size())),
                  ERROR_SUCCESS);
    ASSERT_EQ(copy.Reset(), ERROR_SUCCESS);
    Reload();
    testing::internal::CaptureStderr();
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Copy", 0, KEY_READ, copy.Put()), ERROR_SUCCESS);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // our own file reads back clean
    Check(copy.Get());
}

TEST_F(RegistryTest, DamagedFileIsReportedAndKeptAsBadBeforeItIsOverwritten) {
    const std::string file = ours_ + "/user.reg";
    const std::string damaged =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Keep]\n"
        "\"before\"=\"1\"\n"
        "this line is garbage\n"
        "\"after\"=\"2\"\n"
        "\"broken\"=\"no end\n";
    WriteFile(file, damaged);
    testing::internal::CaptureStderr();
    ScopedHKEY k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Keep", 0, KEY_ALL_ACCESS, k.Put()), ERROR_SUCCESS);
    std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find(file + ":5:"), std::string::npos) << report;
    EXPECT_EQ(Read(k.Get(), nullptr, "before"), "1");
    EXPECT_EQ(Read(k.Get(), nullptr, "after"), "2");
    EXPECT_EQ(ReadFile(file), damaged);  // reading changes nothing

    RegWriteString(k.Get(), "new", "3");
    testing::internal::CaptureStderr();
    ASSERT_EQ(k.Reset(), ERROR_SUCCESS);
    report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadFile(file + ".bad"), damaged);
    EXPECT_NE(report.find(file + ".bad"), std::string::npos) << report;
    Reload();
    testing::internal::CaptureStderr();
    EXPECT_EQ(Read(HKEY_CURRENT_USER, "Keep", "new"), "3");
    EXPECT_EQ(Read(HKEY_CURRENT_USER, "Keep", "after"), "2");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    // A second damaged file does not replace the first copy.
    WriteFile(file, "not a registry file\n");
    testing::internal::CaptureStderr();
    RegCloseKey(Create(HKEY_CURRENT_USER, "Other"));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadFile(file + ".bad"), damaged);
    EXPECT_EQ(ReadFile(file + ".1.bad"), "not a registry file\n");
}

TEST(RegFileTest, GarbageNeverCrashesTheReader) {
    const std::string sample =
        "WINE REGISTRY Version 2\n[Software\\\\Classes\\\\A\\\\B] 1\n@=\"x\\xd800\\\\\"\n"
        "\"h\"=hex(2):41,00,\\\n  42\n\"s\"=str(7):\"a\\0\"\n\"d\"=dword:1\n[Software\\\\Classes\\\\\\]\n";
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        std::string text = sample;
        for (int m = 0; m < 1 + round % 8; ++m) {
            size_t at = rng() % text.size();
            switch (rng() % 3) {
            case 0: text[at] = char(rng()); break;
            case 1: text.erase(at, rng() % 8); break;
            default: text.insert(at, 1, "\\\"[]=,:(\n"[rng() % 9]); break;
            }
            if (text.empty()) text = "x";
        }
        for (bool wine : {true, false}) {
            regstore::Node root;
            regstore::Dialect d{wine, {"HKEY_CLASSES_ROOT"}, "Software\\Classes"};
            regstore::ParseRegText(text, d, &root);
            if (wine) continue;
            // What we write from what we read reads back the same.
            const std::string written = regstore::WriteRegText(root, "HKEY_CLASSES_ROOT");
            regstore::Node again;
            regstore::ParseReport r = regstore::ParseRegText(written, d, &again);
            EXPECT_EQ(r.errors, 0) << written;
            EXPECT_EQ(regstore::WriteRegText(again, "HKEY_CLASSES_ROOT"), written);
        }
    }
}

// A save that dies half way leaves the previous file whole, and a later save still works.
TEST_F(RegistryTest, InterruptedSaveLeavesThePreviousFileWhole) {
    HKEY k = Create(HKEY_CURRENT_USER, "Saved");
    RegWriteString(k, "v", "old");
    ASSERT_EQ(RegCloseKey(k), ERROR_SUCCESS);
    const std::string file = ours_ + "/user.reg";
    const std::string before = ReadFile(file);
    const std::string big(200000, 'x');

    for (bool killed : {true, false}) {
        SCOPED_TRACE(killed ? "killed while writing" : "write fails");
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            struct rlimit limit = {4096, 4096};
            setrlimit(RLIMIT_FSIZE, &limit);
            if (!killed) signal(SIGXFSZ, SIG_IGN);  // the write fails instead
            HKEY c = Create(HKEY_CURRENT_USER, "Saved");
            RegWriteString(c, "v", big);
            _exit(RegCloseKey(c) == ERROR_SUCCESS ? 0 : 3);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (killed) EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
        else EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;  // reported, not success
        EXPECT_EQ(ReadFile(file), before);
    }
    k = Create(HKEY_CURRENT_USER, "Saved");
    RegWriteString(k, "v", "new");
    ASSERT_EQ(RegCloseKey(k), ERROR_SUCCESS);
    Reload();
    EXPECT_EQ(Read(HKEY_CURRENT_USER, "Saved", "v"), "new");
}

// Copies saving at the same time: each save builds on the other's, so nothing is lost.
TEST_F(RegistryTest, ConcurrentSavesMergeInsteadOfLosingChanges) {
    RegCloseKey(Create(HKEY_CURRENT_USER, "Shared"));  // every copy starts from this file
    const int copies = 4, writes = 15;
    std::vector<pid_t> children;
    for (int c = 0; c < copies; ++c) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            for (int i = 0; i < writes; ++i) {
                HKEY k = nullptr;
                ok = ok && RegCreateKeyExA(HKEY_CURRENT_USER, "Shared", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                                           nullptr) == ERROR_SUCCESS;
                std::string name = "c" + std::to_string(c) + "_" + std::to_string(i);
                ok = ok && RegWriteString(k, name.c_str(), name) == ERROR_SUCCESS;
                ok = ok && RegCloseKey(k) == ERROR_SUCCESS;
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    testing::internal::CaptureStderr();
    ScopedHKEY k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Shared", 0, KEY_READ, k.Put()), ERROR_SUCCESS);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(ValueNames(k.Get()).size(), size_t(copies * writes));
}

// While a handle opened for writing is open, changes wait; closing the last one saves them.
TEST_F(RegistryTest, ClosingTheLastWritingHandleSaves) {
    HKEY outer = Create(HKEY_CURRENT_USER, "Software\\App");
    RegDeleteTreeA(outer, "MRU Items");
    HKEY items = Create(outer, "MRU Items");
    RegWriteString(items, "F0", "/a.tlb");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(ours_ + "/user.reg")));
    EXPECT_EQ(RegCloseKey(items), ERROR_SUCCESS);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(ours_ + "/user.reg")));
    EXPECT_EQ(RegCloseKey(outer), ERROR_SUCCESS);
    EXPECT_NE(ReadFile(ours_ + "/user.reg").find("\"F0\"=\"/a.tlb\""), std::string::npos);
}

// A registry file that is no regular file (a device, a FIFO) is refused at once, reported, and
// never saved over; a symlink to a regular file is read, and saving writes through to its target.
TEST_F(RegistryTest, RegistryFilesThatAreNotRegularFilesAreRefused) {
    const std::string file = ours_ + "/classes.reg";
    QDir().mkpath(QString::fromStdString(ours_));
    for (const char* kind : {"device", "fifo"}) {
        SCOPED_TRACE(kind);
        ::unlink(file.c_str());
        if (std::string(kind) == "device") ASSERT_EQ(::symlink("/dev/zero", file.c_str()), 0);
        else ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
        Reload();
        testing::internal::CaptureStderr();
        const auto start = std::chrono::steady_clock::now();
        ScopedHKEY k;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "TypeLib", 0, KEY_READ, k.Put()), ERROR_FILE_NOT_FOUND);
        // Writing is refused too: the file's content is unknown, so it is not replaced.
        ScopedHKEY w;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "Added", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, w.Put(), nullptr),
                  ERROR_SUCCESS);
        EXPECT_NE(w.Reset(), ERROR_SUCCESS);
        const std::string report = testing::internal::GetCapturedStderr();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_NE(report.find(file + ": not a regular file"), std::string::npos) << report;
        struct stat st {};
        ASSERT_EQ(::lstat(file.c_str(), &st), 0);
        EXPECT_EQ(std::string(kind) == "device" ? S_ISLNK(st.st_mode) : S_ISFIFO(st.st_mode), true);
    }
    ::unlink(file.c_str());

    // A symlink to a regular file: read, and saved through to the target; the link stays.
    const std::string target = tmp_.filePath("elsewhere/real.reg").toStdString();
    WriteFile(target, "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\Old]\n@=\"1\"\n");
    ASSERT_EQ(::symlink(target.c_str(), file.c_str()), 0);
    Reload();
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, "Old"), "1");
    RegCloseKey(Create(HKEY_CLASSES_ROOT, "New"));
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(ReadFile(target).find("[HKEY_CLASSES_ROOT\\New]"), std::string::npos) << ReadFile(target);
}

// Key names the API refuses (a NUL or another control character, a name too long) are refused
// from a file as well: the line is reported and skipped, the file kept as *.bad, and they are
// never saved back.
TEST_F(RegistryTest, KeyNamesTheApiRefusesAreRefusedFromAFile) {
    const std::string file = ours_ + "/classes.reg";
    const std::string damaged = "Windows Registry Editor Version 5.00\n\n"
                                "[HKEY_CLASSES_ROOT\\Good]\n@=\"1\"\n\n" +
                                BYTES("[HKEY_CLASSES_ROOT\\Bad\0Name]\n@=\"2\"\n\n") +
                                "[HKEY_CLASSES_ROOT\\Tab\tName]\n@=\"3\"\n\n"
                                "[HKEY_CLASSES_ROOT\\" + std::string(1 << 20, 'K') + "]\n@=\"4\"\n";
    WriteFile(file, damaged);
    Reload();
    testing::internal::CaptureStderr();
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, "Good"), "1");
    std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find(file + ":6: invalid key name"), std::string::npos) << report;
    ScopedHKEY root;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ, root.Put()), ERROR_SUCCESS);
    EXPECT_EQ(RegSubKeyNames(root.Get()), Strings({"Good"}));

    testing::internal::CaptureStderr();
    RegCloseKey(Create(HKEY_CLASSES_ROOT, "Added"));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadFile(file + ".bad"), damaged);
    const std::string saved = ReadFile(file);
    EXPECT_EQ(saved.find('\0'), std::string::npos);
    EXPECT_EQ(saved.find("Bad"), std::string::npos);
    EXPECT_LT(saved.size(), 1000u);
}
