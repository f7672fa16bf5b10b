#include "regtest.h"

#include "platform/oleauto/comptr.h"
#include "platform/registry/winepath.h"

namespace {

const char* const kShared = "{7A0C5E00-1F2B-4C3D-8E9F-000000100000}";  // QuibrelShared 1.2, lcid 0x409

std::string QueryPath(const std::string& guidText, USHORT major, USHORT minor, LCID lcid, HRESULT* hr) {
    GUID guid{};
    EXPECT_TRUE(GuidFromString(guidText, &guid));
    BStr path;
    *hr = QueryPathOfRegTypeLib(guid, major, minor, lcid, path.Put());
    return path.Utf8();
}

ComPtr<ITypeLib> Load(const std::string& path, HRESULT* hr) {
    ComPtr<ITypeLib> lib;
    *hr = LoadTypeLib(Utf8ToUtf16(path).c_str(), lib.Put());
    return lib;
}

std::string LibraryName(ITypeLib* lib) {
    BStr name;
    lib->GetDocumentation(-1, name.Put(), nullptr, nullptr, nullptr);
    return name.Utf8();
}

void Register(const std::string& key, const std::string& value) {
    ScopedHKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.Put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegWriteString(k.Get(), nullptr, value), ERROR_SUCCESS);
}

// The library of the type of field Shape.Origin of the test library at `importer` (imported
// from QuibrelShared), found through the library's reference.
std::string OriginType(const std::string& importer, HRESULT* hr) {
    ComPtr<ITypeLib> lib = Load(importer, hr);
    if (FAILED(*hr)) return "load failed";
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        BStr name;
        if (FAILED(lib->GetTypeInfo(i, ti.Put())) ||
            FAILED(ti->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr)) ||
            name.Utf8() != "Shape")
            continue;
        TypeAttrPtr attr;
        ti->GetTypeAttr(attr.Put(ti.Get()));
        for (UINT v = 0; attr && v < attr->cVars; ++v) {
            VarDescPtr var;
            BStr field;
            if (FAILED(ti->GetVarDesc(v, var.Put(ti.Get())))) continue;
            ti->GetDocumentation(var->memid, field.Put(), nullptr, nullptr, nullptr);
            if (field.Utf8() != "Origin") continue;
            ComPtr<ITypeInfo> ref;
            *hr = ti->GetRefTypeInfo(var->elemdescVar.tdesc.hreftype, ref.Put());
            if (FAILED(*hr)) return "not resolved";
            ComPtr<ITypeLib> owner;
            UINT index = 0;
            ref->GetContainingTypeLib(owner.Put(), &index);
            return owner ? LibraryName(owner.Get()) : "no library";
        }
    }
    return "no Shape.Origin";
}

}  // namespace

TEST_F(RegistryTest, QueryPathFallsBackOverVersionsLocalesAndPlatforms) {
    const std::string lib = "[HKEY_CLASSES_ROOT\\TypeLib\\{11111111-2222-3333-4444-555555555555}";
    WriteFile(ours_ + "/classes.reg", "Windows Registry Editor Version 5.00\n\n" +
                                          lib + "\\1.2\\409\\win32]\n@=\"/l/en32.tlb\"\n" +
                                          lib + "\\1.2\\409\\win64]\n@=\"/l/en64.tlb\"\n" +
                                          lib + "\\1.2\\0\\win32]\n@=\"/l/neutral.tlb\"\n" +
                                          lib + "\\1.a\\0\\win32]\n@=\"/l/v1a.tlb\"\n" +
                                          lib + "\\1.9\\0\\win32]\n@=\"/l/v19.tlb\"\n" +
                                          lib + "\\2.0\\9\\win32]\n@=\"/l/v2.tlb\"\n");
    const std::string g = "{11111111-2222-3333-4444-555555555555}";
    struct Case {
        USHORT major, minor;
        LCID lcid;
        const char* path;  // nullptr: not registered
    } cases[] = {
        {1, 2, 0x409, "/l/en64.tlb"},      // 64-bit file before the 32-bit one
        {1, 2, 0x10409, "/l/en64.tlb"},    // the sort order dropped
        {1, 2, 0x809, "/l/neutral.tlb"},   // no 809, no 9: language neutral
        {1, 5, 0x409, "/l/v1a.tlb"},       // newest minor of the major: hexadecimal a > 9
        {2, 0, 0x409, "/l/v2.tlb"},        // the primary language alone
        {3, 0, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor) + " lcid " + std::to_string(c.lcid));
        HRESULT hr;
        std::string path = QueryPath(g, c.major, c.minor, c.lcid, &hr);
        if (c.path) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(path, c.path);
        } else {
            EXPECT_EQ(hr, TYPE_E_LIBNOTREGISTERED);
        }
    }
    HRESULT hr;
    QueryPath("{11111111-2222-3333-4444-555555555556}", 1, 2, 0x409, &hr);
    EXPECT_EQ(hr, TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(QueryPathOfRegTypeLib(IID_NULL, 1, 0, 0, nullptr), E_INVALIDARG);
}

// The importer lies alone; the library it imports is found through its registration.
TEST_F(RegistryTest, ImportResolvesThroughRegistrationWhenNotBesideTheImporter) {

    HRESULT hr;
    OriginType(QUIBREL_FIXTURE_DIR "/lonely/QuibrelTest.tlb", &hr);
    EXPECT_TRUE(FAILED(hr)) << "resolved without a registration";
    // The importer asks for locale 0 (widl records no locale for an import).
    Register(std::string("TypeLib\\") + kShared + "\\1.2\\0\\win64", QUIBREL_FIXTURE_DIR "/QuibrelShared.tlb");
    EXPECT_EQ(OriginType(QUIBREL_FIXTURE_DIR "/lonely/QuibrelTest.tlb", &hr), "QuibrelShared");
    EXPECT_EQ(hr, S_OK);
}

// A library that the service found beside its importer by the file name the importer recorded
// is known to QueryPathOfRegTypeLib from then on, as loading registers it on the platform; only
// in memory: our files are not written, and the registry's own entries come first.
TEST_F(RegistryTest, ImportFoundBesideItsImporterIsKnownToQueryPathAfterwards) {
    HRESULT hr;
    QueryPath(kShared, 1, 2, 0x409, &hr);
    EXPECT_EQ(hr, TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(OriginType(QUIBREL_FIXTURE_DIR "/QuibrelTest.tlb", &hr), "QuibrelShared");
    EXPECT_EQ(QueryPath(kShared, 1, 2, 0x409, &hr), QUIBREL_FIXTURE_DIR "/QuibrelShared.tlb");
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(QueryPath(kShared, 1, 0, 0x10409, &hr), QUIBREL_FIXTURE_DIR "/QuibrelShared.tlb");  // newest minor
    QueryPath(kShared, 1, 2, 0x407, &hr);  // another language
    EXPECT_EQ(hr, TYPE_E_LIBNOTREGISTERED);
    QueryPath(kShared, 2, 0, 0x409, &hr);
    EXPECT_EQ(hr, TYPE_E_LIBNOTREGISTERED);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(ours_)));

    Register(std::string("TypeLib\\") + kShared + "\\1.2\\409\\win64", "/elsewhere/QuibrelShared.tlb");
    EXPECT_EQ(QueryPath(kShared, 1, 2, 0x409, &hr), "/elsewhere/QuibrelShared.tlb");
}

TEST_F(RegistryTest, WinePrefixRegistrationsShowUnderOursAndOpenByDriveLetterPaths) {
    const std::string fixtures = QUIBREL_FIXTURE_DIR;
    std::string zPath = "Z:" + QString::fromStdString(fixtures).replace('/', '\\').toStdString() + "\\QuibrelEvents.tlb";
    std::string zEscaped = QString::fromStdString(zPath).replace("\\", "\\\\").toStdString();
    MakeWinePrefix(std::string("[Software\\\\Classes\\\\TypeLib\\\\") + kShared + "\\\\1.2] 1700000000\n"
                   "@=\"Shared (system)\"\n"
                   "[Software\\\\Classes\\\\TypeLib\\\\" + kShared + "\\\\1.2\\\\409\\\\win64] 1700000000\n"
                   "@=\"C:\\\\windows\\\\system32\\\\QuibrelShared.tlb\"\n"
                   "[Software\\\\Classes\\\\TypeLib\\\\{22222222-0000-0000-0000-000000000000}\\\\1.0\\\\0\\\\win32] 1\n"
                   "@=\"" + zEscaped + "\"\n",
                   std::string("[Software\\\\Classes\\\\TypeLib\\\\") + kShared + "\\\\1.2] 1700000000\n"
                   "@=\"Shared (user)\"\n");
    // The file lies in other letter case than registered: Windows paths ignore case.
    ASSERT_TRUE(QFile::copy(QUIBREL_FIXTURE_DIR "/QuibrelShared.tlb",
                            QString::fromStdString(prefix_ + "/drive_c/windows/system32/QUIBRELSHARED.TLB")));

    const std::string registered = "C:\\windows\\system32\\QuibrelShared.tlb";
    HRESULT hr;
    EXPECT_EQ(QueryPath(kShared, 1, 2, 0x409, &hr), registered);  // as registered, unchanged
    EXPECT_EQ(HostPathFromWinePath(registered), prefix_ + "/dosdevices/c:/windows/system32/QUIBRELSHARED.TLB");
    EXPECT_EQ(HostPathFromWinePath("c:/Windows/System32/quibrelshared.tlb\\2"),
              prefix_ + "/dosdevices/c:/windows/system32/QUIBRELSHARED.TLB\\2");
    EXPECT_EQ(HostPathFromWinePath("C:\\..\\..\\windows"), prefix_ + "/dosdevices/c:/windows");
    EXPECT_EQ(HostPathFromWinePath(zPath), prefix_ + "/dosdevices/z:" + fixtures + "/QuibrelEvents.tlb");
    EXPECT_EQ(HostPathFromWinePath("D:\\x.tlb"), "D:\\x.tlb");  // the prefix has no D:
    EXPECT_EQ(HostPathFromWinePath("/home/x.tlb"), "/home/x.tlb");

    // Wine's user.reg is over its system.reg, ours over both; Wine's keys are read only.
    const std::string version = std::string("TypeLib\\") + kShared + "\\1.2";
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, version.c_str()), "Shared (user)");
    Register(version, "Shared (ours)");
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, version.c_str()), "Shared (ours)");
    ScopedHKEY typeLib;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "TypeLib", 0, KEY_READ, typeLib.Put()), ERROR_SUCCESS);
    EXPECT_EQ(RegSubKeyNames(typeLib.Get()),
              (std::vector<std::string>{"{22222222-0000-0000-0000-000000000000}", kShared}));
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, version.c_str()), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, version.c_str()), "Shared (user)");
    EXPECT_EQ(QueryPath(kShared, 1, 2, 0x409, &hr), registered);

    // LoadTypeLib maps the registered paths.
    ComPtr<ITypeLib> lib = Load(registered, &hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(LibraryName(lib.Get()), "QuibrelShared");
    lib = Load(zPath, &hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(LibraryName(lib.Get()), "QuibrelEvents");
}
