// Which registered type library declares a class: what an object created from the class would
// answer for its type information, when the class's registration names no library.
#pragma once

#include "platform/oleauto/comptr.h"

#include <string>

// The registered library that declares a coclass whose GUID is `clsid`:
// REGDB_E_CLASSNOTREG when none does. While a TClassIndexScope exists on this thread the
// registered libraries are read once for all lookups; otherwise each lookup reads them.
HRESULT LibraryDeclaringClass(const CLSID& clsid, ComPtr<ITypeLib>* typeLib);

// A quicker way to the declaring library, installed by the program when it keeps an index of the
// registered libraries: gives the library's path (what LoadTypeLib opens), or an empty string.
// Its answer is checked by loading the library; when it has none, or a wrong one, the registered
// libraries are read as without it. Null removes it.
using TClassLibraryLocator = std::string (*)(const CLSID& clsid);
void SetClassLibraryLocator(TClassLibraryLocator locator);

// Shares one index of the registered libraries' coclasses between the lookups made while it
// exists (a dialog holds one for its life). Scopes nest; the innermost is used.
class TClassIndexScope {
public:
    TClassIndexScope();
    ~TClassIndexScope();
    TClassIndexScope(const TClassIndexScope&) = delete;
    TClassIndexScope& operator=(const TClassIndexScope&) = delete;

    struct Index;

private:
    Index* FIndex;
    Index* FOuter;
};
