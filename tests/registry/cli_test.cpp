#include "regtest.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <map>

namespace {

struct Outcome {
    int exit;
    std::string out, err;
};

}  // namespace

class RegistryCliTest : public RegistryTest {
protected:
    Outcome Tlb(const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(QProcessEnvironment::systemEnvironment());  // our folders and prefix
        p.start(QUIBREL_TLB, args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return {p.exitCode(), p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
    }
};

TEST_F(RegistryCliTest, RegisterListUnregister) {
    const std::string shared = QUIBREL_FIXTURE_DIR "/QuibrelShared.tlb";
    const std::string events = QUIBREL_FIXTURE_DIR "/QuibrelEvents.tlb";
    Outcome r = Tlb({"register", QString::fromStdString(shared)});
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "registered QuibrelShared {7A0C5E00-1F2B-4C3D-8E9F-000000100000} 1.2 " + shared + "\n");
    ASSERT_EQ(Tlb({"register", QString::fromStdString(events)}).exit, 0);

    const std::string version = "TypeLib\\{7A0C5E00-1F2B-4C3D-8E9F-000000100000}\\1.2";
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, version.c_str()), "Quibrel shared test types");
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, (version + "\\409\\win32").c_str()), shared);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, (version + "\\409\\win64").c_str()), shared);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, (version + "\\HELPDIR").c_str()), QUIBREL_FIXTURE_DIR);
    const std::string itf = "Interface\\{7A0C5E00-1F2B-4C3D-8E9F-000000100003}";  // ISharedThing, dual
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, itf.c_str()), "ISharedThing");
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, (itf + "\\TypeLib").c_str()), "{7A0C5E00-1F2B-4C3D-8E9F-000000100000}");
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, (itf + "\\TypeLib").c_str(), "Version"), "1.2");

    // Sorted by description.
    r = Tlb({"registered"});
    EXPECT_EQ(r.out, "Quibrel events with many parameters\t" + events + "\nQuibrel shared test types\t" + shared + "\n");

    ASSERT_EQ(Tlb({"unregister", QString::fromStdString(shared)}).exit, 0);
    ScopedHKEY k;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "TypeLib\\{7A0C5E00-1F2B-4C3D-8E9F-000000100000}", 0, KEY_READ, k.Put()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, itf.c_str(), 0, KEY_READ, k.Put()), ERROR_FILE_NOT_FOUND);
    r = Tlb({"unregister", QString::fromStdString(shared)});
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("not registered"), std::string::npos) << r.err;
    EXPECT_EQ(Tlb({"register"}).exit, 2);
}

// The rules of the registered-library list, over a Wine prefix: the last version key, the
// first locale key, win32 else win64.
TEST_F(RegistryCliTest, RegisteredListsAWinePrefixsLibraries) {
    MakeWinePrefix(
        "[Software\\\\Classes\\\\TypeLib\\\\{A0000000-0000-0000-0000-000000000000}\\\\1.0] 1\n@=\"Old\"\n"
        "[Software\\\\Classes\\\\TypeLib\\\\{A0000000-0000-0000-0000-000000000000}\\\\2.0] 1\n@=\"Alpha 64\"\n"
        "[Software\\\\Classes\\\\TypeLib\\\\{A0000000-0000-0000-0000-000000000000}\\\\2.0\\\\0\\\\win64] 1\n"
        "@=\"C:\\\\windows\\\\system32\\\\alpha.tlb\"\n"
        "[Software\\\\Classes\\\\TypeLib\\\\{B0000000-0000-0000-0000-000000000000}\\\\1.0] 1\n@=\"Beta both\"\n"
        "[Software\\\\Classes\\\\TypeLib\\\\{B0000000-0000-0000-0000-000000000000}\\\\1.0\\\\0\\\\win32] 1\n"
        "@=\"C:\\\\b32.tlb\"\n"
        "[Software\\\\Classes\\\\TypeLib\\\\{B0000000-0000-0000-0000-000000000000}\\\\1.0\\\\0\\\\win64] 1\n"
        "@=\"C:\\\\b64.tlb\"\n"
        "[Software\\\\Classes\\\\TypeLib\\\\{C0000000-0000-0000-0000-000000000000}\\\\1.0] 1\n@=\"Gamma no locale\"\n"
        "[Software\\\\Classes\\\\TypeLib\\\\{D0000000-0000-0000-0000-000000000000}] 1\n");
    Outcome r = Tlb({"registered"});
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out,
              "Alpha 64\tC:\\windows\\system32\\alpha.tlb\n"
              "Beta both\tC:\\b32.tlb\n"
              "Gamma no locale\t\n");
}

// A library registered in our file at 2.0 and in the Wine prefix at 1.0 and 10.0 is listed by
// the last of its versions in the platform's order (1.0, 10.0, 2.0), wherever each comes from.
TEST_F(RegistryCliTest, RegisteredTakesTheLastVersionInSortedOrderAcrossBothSources) {
    MakeWinePrefix(
        "[Software\\\\Classes\\\\TypeLib\\\\{00020430-0000-0000-C000-000000000046}\\\\1.0] 1\n@=\"OLE Automation\"\n"
        "[Software\\\\Classes\\\\TypeLib\\\\{00020430-0000-0000-C000-000000000046}\\\\1.0\\\\0\\\\win32] 1\n"
        "@=\"C:\\\\windows\\\\system32\\\\stdole32.tlb\"\n"
        "[Software\\\\Classes\\\\TypeLib\\\\{00020430-0000-0000-C000-000000000046}\\\\10.0] 1\n@=\"Sixteen\"\n");
    HKEY version = Create(HKEY_CLASSES_ROOT, "TypeLib\\{00020430-0000-0000-C000-000000000046}\\2.0");
    RegWriteString(version, nullptr, "OLE Automation");
    HKEY file = Create(version, "0\\win32");
    RegWriteString(file, nullptr, "/ours/stdole2.tlb");
    RegCloseKey(file);
    ASSERT_EQ(RegCloseKey(version), ERROR_SUCCESS);
    Outcome r = Tlb({"registered"});
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "OLE Automation\t/ours/stdole2.tlb\n");
}

// describe only reads: the user's files (with a recent-file list in them) stay byte for byte
// as they were, nothing is added beside them, and the list does not reach the output.
TEST_F(RegistryCliTest, DescribeLeavesTheRegistryFolderAsItWas) {
    const std::string stored = "/nowhere/Remembered.tlb";
    auto snapshot = [&] {
        std::map<std::string, std::string> files;
        for (const QFileInfo& f : QDir(QString::fromStdString(ours_)).entryInfoList(QDir::Files | QDir::Hidden))
            files[f.fileName().toStdString()] = ReadFile(f.filePath().toStdString());
        return files;
    };
    const std::string library = QUIBREL_FIXTURE_DIR "/QuibrelTest.tlb";
    // An empty folder stays empty.
    QDir().mkpath(QString::fromStdString(ours_));
    Outcome r = Tlb({"describe", QString::fromStdString(library)});
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("class "), std::string::npos);
    EXPECT_TRUE(snapshot().empty());

    WriteFile(ours_ + "/user.reg",
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Quibrel Type Library Explorer\\MRU Items]\r\n"
              "\"F0\"=\"" + stored + "\"\r\n\r\n");
    ASSERT_EQ(Tlb({"register", QUIBREL_FIXTURE_DIR "/QuibrelShared.tlb"}).exit, 0);
    const auto before = snapshot();
    ASSERT_EQ(before.size(), 2u);
    r = Tlb({"describe", QString::fromStdString(library)});
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out.find(stored), std::string::npos);
    EXPECT_EQ(snapshot(), before);
}

// A path with a tab or a line break stays on its one line: control characters are escaped.
TEST_F(RegistryCliTest, RegisteredEscapesControlCharactersInPaths) {
    const QString folder = QString::fromStdString(ours_) + "/odd\tfolder";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = folder + "/two\nlines.tlb";
    ASSERT_TRUE(QFile::copy(QUIBREL_FIXTURE_DIR "/QuibrelShared.tlb", file));
    Outcome r = Tlb({"register", file});
    ASSERT_EQ(r.exit, 0) << r.err;
    r = Tlb({"registered"});
    EXPECT_EQ(r.out, "Quibrel shared test types\t" + ours_ + "/odd\\tfolder/two\\nlines.tlb\n");
}

namespace {

// A host path as a Wine prefix records it, through its z: drive.
std::string WinePathOf(const QString& path) {
    std::string p = "Z:" + path.toStdString();
    for (char& c : p)
        if (c == '/') c = '\\';
    std::string escaped;  // as Wine's registry files write a backslash
    for (char c : p) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return escaped;
}

}  // namespace

// Stale registrations, the usual cause of "library not registered": a file that is gone, one
// that holds another version, one that holds another library; a sound one says nothing.
TEST_F(RegistryCliTest, CheckListsMissingAndMismatchedRegistrations) {
    QTemporaryDir files;
    const QString shared = files.filePath("shared.tlb"), other = files.filePath("other.tlb");
    ASSERT_TRUE(QFile::copy(QUIBREL_FIXTURE_DIR "/QuibrelShared.tlb", shared));
    ASSERT_TRUE(QFile::copy(QUIBREL_FIXTURE_DIR "/QuibrelTest.tlb", other));
    MakeWinePrefix(
        "[Software\\\\Classes\\\\TypeLib\\\\{7A0C5E00-1F2B-4C3D-8E9F-000000100000}\\\\1.1] 1\n@=\"Old shared\"\n"
        "[Software\\\\Classes\\\\TypeLib\\\\{7A0C5E00-1F2B-4C3D-8E9F-000000100000}\\\\1.1\\\\0\\\\win32] 1\n"
        "@=\"" + WinePathOf(shared) + "\"\n"
        "[Software\\\\Classes\\\\TypeLib\\\\{A0000000-0000-0000-0000-000000000000}\\\\1.0] 1\n@=\"Gone\"\n"
        "[Software\\\\Classes\\\\TypeLib\\\\{A0000000-0000-0000-0000-000000000000}\\\\1.0\\\\0\\\\win32] 1\n"
        "@=\"C:\\\\windows\\\\gone.tlb\"\n"
        "[Software\\\\Classes\\\\TypeLib\\\\{B0000000-0000-0000-0000-000000000000}\\\\1.0] 1\n@=\"Replaced\"\n"
        "[Software\\\\Classes\\\\TypeLib\\\\{B0000000-0000-0000-0000-000000000000}\\\\1.0\\\\0\\\\win64] 1\n"
        "@=\"" + WinePathOf(other) + "\"\n");
    Outcome r = Tlb({"registered", "--check"});
    EXPECT_EQ(r.exit, 1) << r.err;
    EXPECT_EQ(r.out,
              "MISMATCH 1.1 != 1.2\tOld shared\tZ:" +
                  QString(shared).replace('/', '\\').toStdString() + "\n"
              "MISSING\tGone\tC:\\windows\\gone.tlb\n"
              "MISMATCH {B0000000-0000-0000-0000-000000000000} != {7A0C5E00-1F2B-4C3D-8E9F-000000200000}\tReplaced\tZ:" +
                  QString(other).replace('/', '\\').toStdString() + "\n");

    // Our own registration of a sound library adds no line; with nothing stale, exit 0.
    ASSERT_EQ(Tlb({"register", QUIBREL_FIXTURE_DIR "/QuibrelEvents.tlb"}).exit, 0);
    MakeWinePrefix("");
    r = Tlb({"registered", "--check"});
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_EQ(r.out, "");
}
