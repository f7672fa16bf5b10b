// Helpers shared by the reader tests.
#pragma once

#include "platform/oleauto/comptr.h"
#include "platform/oleauto/typelib_load.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace readertest {

inline std::string Fixture(const std::string& name) { return std::string(QUIBREL_FIXTURE_DIR) + "/" + name; }

inline std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline HRESULT Load(const std::string& path, ComPtr<ITypeLib>* lib) {
    std::u16string w = Utf8ToUtf16(path);
    return LoadTypeLib(w.c_str(), lib->Put());
}

inline std::string Name(ITypeInfo* ti, MEMBERID memid = MEMBERID_NIL) {
    BStr name;
    if (FAILED(ti->GetDocumentation(memid, name.Put(), nullptr, nullptr, nullptr))) return "<failed>";
    return name.Utf8();
}

// The library's type of that name (first match).
inline ComPtr<ITypeInfo> TypeNamed(ITypeLib* lib, const std::string& name) {
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        if (SUCCEEDED(lib->GetTypeInfo(i, ti.Put())) && Name(ti.Get()) == name) return ti;
    }
    return nullptr;
}

// The index of the function of that name and kind, or -1.
inline int FuncNamed(ITypeInfo* ti, const std::string& name, INVOKEKIND kind = INVOKE_FUNC) {
    TypeAttrPtr attr;
    if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return -1;
    for (UINT j = 0; j < attr->cFuncs; ++j) {
        FuncDescPtr fd;
        if (SUCCEEDED(ti->GetFuncDesc(j, fd.Put(ti))) && fd->invkind == kind && Name(ti, fd->memid) == name) return int(j);
    }
    return -1;
}

// A folder of its own under the test's temporary folder, emptied first.
inline std::string ScratchDir(const std::string& name) {
    std::filesystem::path p = std::filesystem::temp_directory_path() / ("quibrel-reader-" + std::to_string(::getpid())) / name;
    std::filesystem::remove_all(p);
    std::filesystem::create_directories(p);
    return p.string();
}

}  // namespace readertest
