// header_layout LIBRARY HEADER: a C program that includes HEADER (the library's header) and
// asserts at compile time that every vtable slot and record field is where the library says,
// and that every Vtbl and record has the library's size.
#include "writers/header.h"
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/hostpath.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: header_layout LIBRARY HEADER\n");
        return 2;
    }
    ComPtr<ITypeLib> lib;
    if (FAILED(LoadTypeLib(HostPathToUtf16(argv[1]).c_str(), lib.Put())) || !lib) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    THeaderWriter writer(lib.Get());
    writer.WriteLibrary();
    const unsigned ptr = unsigned(writer.PointerSize());
    std::string out = "#define COBJMACROS\n#define INITGUID\n#include \"" + std::string(argv[2]) + "\"\n#include <stddef.h>\n";
    out += "_Static_assert(sizeof(void *) == " + std::to_string(ptr) + ", \"pointer size\");\n";
    for (const THeaderLayout& l : writer.Layouts()) {
        const std::string type = l.IsInterface ? "struct " + l.Struct : l.Struct;
        for (const THeaderLayout::Member& m : l.Members) {
            if (l.IsInterface)
                out += "_Static_assert(offsetof(" + type + ", " + m.Name + ") / " + std::to_string(ptr) + " == " +
                       std::to_string(m.Offset / ptr) + ", \"" + l.Struct + "." + m.Name + " slot\");\n";
            else
                out += "_Static_assert(offsetof(" + type + ", " + m.Name + ") == " + std::to_string(m.Offset) +
                       ", \"" + l.Struct + "." + m.Name + " offset\");\n";
        }
        out += "_Static_assert(sizeof(" + type + ") == " + std::to_string(l.Size) + ", \"" + l.Struct + " size\");\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
