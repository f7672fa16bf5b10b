// writers/: what turns a library into text others read or compile: the event template,
// IDL, JSON. Qt Core only; built on text/.
//
// IDL out of a type library: the whole library, or some of its types, as text an IDL compiler
// accepts, with where each type and member landed and where the library's own types are named.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ITypeLib;
struct ITypeInfo;

// A use of one of the library's own types in the text (a hot spot for the IDL window).
struct TIdlTypeRef {
    int Line = 0;       // 0-based
    int Column = 0;     // in bytes of the UTF-8 line
    int Length = 0;
    int TypeIndex = 0;  // in the library
};

// Where a member was written: functions by member id and invoke kind, variables by member id.
struct TIdlMemberSpan {
    int FirstLine = 0;
    int LastLine = 0;
    std::int32_t MemberId = 0;
    int InvokeKind = 0;  // INVOKEKIND of a function; 0 for a variable or constant
    bool IsVariable = false;
    std::string Name;
};

struct TIdlTypeSpan {
    int TypeIndex = 0;
    int FirstLine = 0;
    int LastLine = 0;
    std::vector<TIdlMemberSpan> Members;
};

class TIdlWriter {
public:
    explicit TIdlWriter(ITypeLib* Library);
    ~TIdlWriter();
    TIdlWriter(const TIdlWriter&) = delete;
    TIdlWriter& operator=(const TIdlWriter&) = delete;

    // The whole library: base declarations for compilers without system headers, then the
    // library block with its imports and every type in an order that compiles.
    void WriteLibrary();
    // Only the given types (indexes in the library), each preceded by a comment listing the
    // declarations it needs to stand alone.
    void WriteTypes(const std::vector<int>& TypeIndexes);

    const std::string& Text() const { return Out; }
    int LineCount() const { return Lines; }
    const std::vector<TIdlTypeRef>& TypeRefs() const { return Refs; }
    const std::vector<TIdlTypeSpan>& TypeSpans() const { return Spans; }

    // The index of the library's type named Name (exact case first, then ASCII case folded); -1.
    int FindType(const std::string& Name) const;

private:
    struct Impl;
    Impl* D;
    std::string Out;
    int Lines = 0;
    std::vector<TIdlTypeRef> Refs;
    std::vector<TIdlTypeSpan> Spans;
};

