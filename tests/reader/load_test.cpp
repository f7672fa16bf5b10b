// Opening files: what a path names, the "\N" resource suffix, and where imported libraries are
// found (registered first, then beside the importing file).
#include "platform/registry/registry.h"
#include "reader_util.h"

#include <filesystem>

using namespace readertest;
namespace fs = std::filesystem;

namespace {

// Registrations of the person running the tests must not be seen: a registry of our own.
class EmptyRegistry : public ::testing::Environment {
public:
    void SetUp() override {
        std::string dir = ScratchDir("registry");
        ::setenv("QUIBREL_REGISTRY_DIR", dir.c_str(), 1);
        ::setenv("WINEPREFIX", (dir + "/no-wine").c_str(), 1);
    }
};
const auto* const kRegistry = ::testing::AddGlobalTestEnvironment(new EmptyRegistry);

std::string LibName(ITypeLib* lib) {
    BStr name;
    return SUCCEEDED(lib->GetDocumentation(-1, name.Put(), nullptr, nullptr, nullptr)) ? name.Utf8() : "<failed>";
}

// The library that the first implemented type of ThingHolder (IDerivedThing) inherits from.
HRESULT ImportedBase(ITypeLib* lib, ComPtr<ITypeLib>* owner) {
    ComPtr<ITypeInfo> derived = TypeNamed(lib, "IDerivedThing");
    if (!derived) return E_FAIL;
    HREFTYPE other, base;
    ComPtr<ITypeInfo> iface, shared;
    HRESULT hr = derived->GetRefTypeOfImplType(UINT(-1), &other);
    if (SUCCEEDED(hr)) hr = derived->GetRefTypeInfo(other, iface.Put());
    if (SUCCEEDED(hr)) hr = iface->GetRefTypeOfImplType(0, &base);
    if (SUCCEEDED(hr)) hr = iface->GetRefTypeInfo(base, shared.Put());
    if (SUCCEEDED(hr)) hr = shared->GetContainingTypeLib(owner->Put(), nullptr);
    return hr;
}

TEST(ReaderLoad, PathsThatAreNotLibraries) {
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(Load(Fixture("no-such-file.tlb"), &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_FALSE(lib);
    EXPECT_EQ(Load(QUIBREL_FIXTURE_DIR, &lib), TYPE_E_CANTLOADLIBRARY);  // a folder
    EXPECT_EQ(Load("", &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(LoadTypeLib(nullptr, lib.Put()), E_INVALIDARG);
    std::string dir = ScratchDir("notlibs");
    WriteFile(dir + "/empty.tlb", {});
    WriteFile(dir + "/text.tlb", {'h', 'e', 'l', 'l', 'o'});
    WriteFile(dir + "/header.tlb", {'M', 'S', 'F', 'T', 2, 0, 1, 0});
    EXPECT_EQ(Load(dir + "/empty.tlb", &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(Load(dir + "/text.tlb", &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(Load(dir + "/header.tlb", &lib), TYPE_E_INVDATAREAD);
}

TEST(ReaderLoad, ResourceSuffixPicksTheLibrary) {
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(Load(Fixture("QuibrelPair.dll"), &lib), S_OK);
    EXPECT_EQ(LibName(lib.Get()), "QuibrelEvents");
    ASSERT_EQ(Load(Fixture("QuibrelPair.dll") + "\\1", &lib), S_OK);
    EXPECT_EQ(LibName(lib.Get()), "QuibrelEvents");
    ASSERT_EQ(Load(Fixture("QuibrelPair.dll") + "\\2", &lib), S_OK);
    EXPECT_EQ(LibName(lib.Get()), "QuibrelShared");
    EXPECT_EQ(Load(Fixture("QuibrelPair.dll") + "\\3", &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(Load(Fixture("QuibrelPair.dll") + "\\x", &lib), TYPE_E_CANTLOADLIBRARY);
    // A stand-alone library is its only resource.
    EXPECT_EQ(Load(Fixture("QuibrelShared.tlb") + "\\1", &lib), S_OK);
    EXPECT_EQ(Load(Fixture("QuibrelShared.tlb") + "\\2", &lib), TYPE_E_CANTLOADLIBRARY);
    // A file whose own name ends like a suffix is that file.
    std::string dir = ScratchDir("suffix");
    fs::copy_file(Fixture("QuibrelShared.tlb"), dir + "/odd\\2");
    ASSERT_EQ(Load(dir + "/odd\\2", &lib), S_OK);
    EXPECT_EQ(LibName(lib.Get()), "QuibrelShared");
}

TEST(ReaderLoad, ImportFoundBesideTheFileInAnyLetterCase) {
    std::string dir = ScratchDir("beside");
    fs::copy_file(Fixture("QuibrelTest.tlb"), dir + "/QuibrelTest.tlb");
    fs::copy_file(Fixture("QuibrelShared.tlb"), dir + "/QUIBRELSHARED.TLB");
    ComPtr<ITypeLib> lib, owner;
    ASSERT_EQ(Load(dir + "/QuibrelTest.tlb", &lib), S_OK);
    ASSERT_EQ(ImportedBase(lib.Get(), &owner), S_OK);
    EXPECT_EQ(LibName(owner.Get()), "QuibrelShared");
    // Found once and kept: another reference into it reaches the same library.
    ComPtr<ITypeLib> again;
    ASSERT_EQ(ImportedBase(lib.Get(), &again), S_OK);
    EXPECT_EQ(again.Get(), owner.Get());
}

TEST(ReaderLoad, MissingImportFailsOnlyWhatNeedsIt) {
    ComPtr<ITypeLib> lib, owner;
    ASSERT_EQ(Load(Fixture("lonely/QuibrelTest.tlb"), &lib), S_OK);
    EXPECT_EQ(ImportedBase(lib.Get(), &owner), TYPE_E_CANTLOADLIBRARY);
    // A dual interface whose chain reaches into it counts its whole vtable, as the platform
    // does, and none of its functions can be read.
    ComPtr<ITypeLib> whole;
    ASSERT_EQ(Load(Fixture("QuibrelTest.tlb"), &whole), S_OK);
    for (const char* name : {"IDerivedThing", "IShapes2"}) {  // IDispatch comes from there too
        ComPtr<ITypeInfo> cut = TypeNamed(lib.Get(), name), complete = TypeNamed(whole.Get(), name);
        TypeAttrPtr ca, wa;
        ASSERT_EQ(cut->GetTypeAttr(ca.Put(cut.Get())), S_OK);
        ASSERT_EQ(complete->GetTypeAttr(wa.Put(complete.Get())), S_OK);
        EXPECT_EQ(ca->cFuncs, wa->cFuncs) << name;
        FuncDescPtr fd;
        EXPECT_EQ(cut->GetFuncDesc(0, fd.Put(cut.Get())), TYPE_E_CANTLOADLIBRARY) << name;
        EXPECT_FALSE(fd);
        UINT count = 9;
        BSTR names[4];
        EXPECT_NE(cut->GetNames(0, names, 4, &count), S_OK);
        EXPECT_EQ(count, 0u);
    }
    // Types that need nothing from it are whole.
    ComPtr<ITypeInfo> panel = TypeNamed(lib.Get(), "DPanel"), wholePanel = TypeNamed(whole.Get(), "DPanel");
    TypeAttrPtr pa, wa;
    ASSERT_EQ(panel->GetTypeAttr(pa.Put(panel.Get())), S_OK);
    ASSERT_EQ(wholePanel->GetTypeAttr(wa.Put(wholePanel.Get())), S_OK);
    EXPECT_EQ(pa->cFuncs, wa->cFuncs);
    EXPECT_EQ(pa->cVars, wa->cVars);
}

TEST(ReaderLoad, AnImportOfItsOwnFileIsItself) {
    // QuibrelTest's bytes under the name of the library it imports: the import is the file
    // itself, which does not have the imported types, and is not loaded again and again.
    std::string dir = ScratchDir("self");
    fs::copy_file(Fixture("QuibrelTest.tlb"), dir + "/QuibrelShared.tlb");
    ComPtr<ITypeLib> lib, owner;
    ASSERT_EQ(Load(dir + "/QuibrelShared.tlb", &lib), S_OK);
    EXPECT_EQ(ImportedBase(lib.Get(), &owner), TYPE_E_ELEMENTNOTFOUND);
    ComPtr<ITypeInfo> panel = TypeNamed(lib.Get(), "DPanel");
    HREFTYPE href;
    ASSERT_EQ(panel->GetRefTypeOfImplType(0, &href), S_OK);
    ComPtr<ITypeInfo> dispatch;
    EXPECT_EQ(panel->GetRefTypeInfo(href, dispatch.Put()), TYPE_E_ELEMENTNOTFOUND);
}

TEST(ReaderLoad, RegisteredImportComesBeforeTheFileBeside) {
    std::string dir = ScratchDir("registered");
    fs::copy_file(Fixture("QuibrelTest.tlb"), dir + "/QuibrelTest.tlb");
    fs::copy_file(Fixture("QuibrelShared.tlb"), dir + "/QuibrelShared.tlb");  // Win64
    // The registration names the Win32 build of the same library.
    std::string key = "TypeLib\\{7A0C5E00-1F2B-4C3D-8E9F-000000100000}\\1.2\\0\\win32";
    ScopedHKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.Put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegWriteString(k.Get(), nullptr, Fixture("win32/QuibrelShared.tlb")), ERROR_SUCCESS);
    ASSERT_EQ(k.Reset(), ERROR_SUCCESS);

    ComPtr<ITypeLib> lib, owner;
    ASSERT_EQ(Load(dir + "/QuibrelTest.tlb", &lib), S_OK);
    ASSERT_EQ(ImportedBase(lib.Get(), &owner), S_OK);
    LibAttrPtr attr;
    ASSERT_EQ(owner->GetLibAttr(attr.Put(owner.Get())), S_OK);
    EXPECT_EQ(attr->syskind, SYS_WIN32);

    ScopedHKEY root;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "TypeLib", 0, KEY_WRITE, root.Put()), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(root.Get(), "{7A0C5E00-1F2B-4C3D-8E9F-000000100000}"), ERROR_SUCCESS);
}

}  // namespace
