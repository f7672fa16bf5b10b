// What changed between two versions of a type library, judged by COM's rule that a published
// interface never changes: each change has a rule id and a level (breaking for callers or
// implementers, compatible, or information only). Used by `quibrel-tlb diff` and the Compare
// window. Qt Core only.
#pragma once

#include "platform/oleauto/oleauto.h"

#include <optional>
#include <string>
#include <vector>

struct ITypeLib;

enum class TDiffLevel { Breaking, Compatible, Info };

// One change. Type is empty for a change of the library itself; Member is empty for a change
// of a type. Old and New are what the item was and became (absent for an item that is new or
// gone).
struct TDiffChange {
    TDiffLevel Level = TDiffLevel::Info;
    std::string Rule;
    std::string Type;
    std::string Member;  // with "(get)", "(put)" or "(putref)" for property accessors
    std::optional<std::string> Old, New;
};

// An item of either library that could not be read, so could not be compared.
struct TDiffProblem {
    bool InNew = false;  // in the new library, else in the old one
    std::string Item;    // "library", "type 3 (IFoo)", "IFoo function 2"...
    HRESULT Status = E_FAIL;
};

struct TDiffLibrary {
    std::string Name;
    std::string Guid;
    WORD Major = 0, Minor = 0;
};

struct TDiffResult {
    TDiffLibrary Old, New;
    std::vector<TDiffChange> Changes;  // library first, then by type, then by member
    std::vector<TDiffProblem> Problems;
};

// Compares two loaded libraries. Either may be null (it could not be loaded): that is a
// problem, and nothing is compared.
TDiffResult DiffTypeLibs(ITypeLib* Old, ITypeLib* New);

const char* DiffLevelName(TDiffLevel Level);
// "Type", "Type.Member", or the library's name for a change of the library.
std::string DiffWhere(const TDiffResult& Result, const TDiffChange& Change);
// "old -> new", or the one side there is.
std::string DiffDetail(const TDiffChange& Change);
// LEVEL<TAB>RULE<TAB>WHERE<TAB>DETAIL, each field one line (text/escape.h OneLineText); no
// line break at the end.
std::string DiffLine(const TDiffResult& Result, const TDiffChange& Change);
// Whether a change is shown: info changes only with All.
inline bool DiffShown(const TDiffChange& Change, bool All) { return All || Change.Level != TDiffLevel::Info; }
// The exit status as bits: 1 a problem, 4 changes shown, 8 a breaking change among them.
int DiffExitStatus(const TDiffResult& Result, bool All);
// "old" or "new" library, item and status, for a message.
std::string DiffProblemText(const TDiffProblem& Problem);

// The same changes as one JSON document (UTF-8, one line, LF at the end); docs/quibrel-tlb-
// diff.schema.json describes it. OldPath and NewPath are what the libraries were opened as.
std::string DiffJson(const TDiffResult& Result, const std::string& OldPath, const std::string& NewPath, bool All);
