// A C/C++ header out of a type library: one text that compiles as C and as C++, on its own
// or after the platform's headers, with every vtable slot and record offset in comments.
// Qt Core only; names and text go through text/escape.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ITypeLib;

// What the header declares for one type of the library, for programs that check the layout
// the compiler gives against the one the library reports.
struct THeaderLayout {
    struct Member {
        std::string Name;      // as written in the header
        std::uint32_t Offset;  // oVft of a function (bytes), oInst of a field
    };
    int TypeIndex = 0;         // in the library
    bool IsInterface = false;  // Struct is "…Vtbl" with every slot; otherwise a record or union
    std::string Struct;        // the type name to give sizeof and offsetof
    std::uint32_t Size = 0;    // cbSizeVft of an interface, cbSizeInstance of a record
    std::vector<Member> Members;
};

class THeaderWriter {
public:
    explicit THeaderWriter(ITypeLib* Library);
    ~THeaderWriter();
    THeaderWriter(const THeaderWriter&) = delete;
    THeaderWriter& operator=(const THeaderWriter&) = delete;

    // The whole library.
    void WriteLibrary();
    // Only the given types (indexes in the library) and what they need to compile.
    void WriteTypes(const std::vector<int>& TypeIndexes);

    const std::string& Text() const { return Out; }
    // The interfaces and records of the library written in full (after a Write call).
    const std::vector<THeaderLayout>& Layouts() const { return Layout; }
    // Bytes per pointer of the library's platform: 8 for SYS_WIN64, otherwise 4.
    int PointerSize() const;

    // The index of the library's type named Name (exact case first, then ASCII case folded); -1.
    int FindType(const std::string& Name) const;

private:
    struct Impl;
    Impl* D;
    std::string Out;
    std::vector<THeaderLayout> Layout;
};
