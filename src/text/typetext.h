// text/: the declaration notation of types and signatures, and the lookups every writer
// shares. Qt Core only, like writers/ and index/ above it.
//
// Type-library lookups and the declaration notation the browser writes types in:
// "As Long", "As Array(0 to 9) of Integer", "(Index As Long, [out Value]) As String".
#pragma once

#include "platform/oleauto/comptr.h"

#include <QString>
#include <QStringView>

#include <string>

// The kind of a class or member row; also its image in ilMain.
enum EntityIcon : int {
    eiCoClass = 0,
    eiInterface = 1,
    eiEnumeration = 2,
    eiRecord = 3,
    eiAlias = 4,
    eiProperty = 5,
    eiMethod = 6,
    eiEvent = 7,
    eiConstant = 8,
    eiField = 9,
};
inline constexpr int EntityIconCount = 10;

// Kind words of the class icons 0..4 ("CoClass" .. "Alias").
extern const char* const KindNames[5];
QString KindName(int icon);

// The type word of a VARTYPE from 2 to 31; empty for anything else.
QString TypeNameOf(VARTYPE vt);
// The service's short name of a variant type ("I4", "PTR", "VT73"), as dump and json print it.
std::string VtName(VARTYPE vt);

// Row order of both lists: by icon, then by caption with only a-z folded to upper case.
int CompareCaptions(QStringView a, QStringView b);
inline bool RowLess(int iconA, QStringView a, int iconB, QStringView b) {
    if (iconA != iconB) return iconA < iconB;
    return CompareCaptions(a, b) < 0;
}

// The main window's table of types that live in other registered libraries.
class ExternalTypeRegistry {
public:
    virtual bool IsExternalTypeKnown(const QString& qualifiedName) const = 0;
    virtual void RegisterExternalType(const QString& qualifiedName, const QString& libraryPath) = 0;

protected:
    ~ExternalTypeRegistry() = default;
};

// "As ..." for a type description owned by owner.
QString FormatType(ITypeInfo* owner, const TYPEDESC& desc, ExternalTypeRegistry* registry);
// Parameter list and result type of a function, starting with " " or "(".
QString FormatSignature(ITypeInfo* owner, const FUNCDESC& func, ExternalTypeRegistry* registry);
// The vt below one pointer, safe array or fixed array level.
VARTYPE BaseVarType(const ELEMDESC& elem);
// name, or "<library base name>.name" when referenced lives in another registered library.
QString QualifyTypeName(ITypeInfo* owner, ITypeInfo* referenced, const QString& name,
                        ExternalTypeRegistry* registry);

// ---- lookups --------------------------------------------------------------------------------

inline QString BstrToQString(BSTR b) {
    return b ? QString::fromUtf16(b, qsizetype(SysStringLen(b))) : QString();
}

// The name of a member (or of the type itself for MEMBERID_NIL). False when it cannot be
// read; isNull tells whether the service gave no name at all.
bool GetMemberName(ITypeInfo* ti, MEMBERID memid, QString* name, bool* isNull = nullptr);

// Text of a load failure: the system's message without trailing blanks, control characters
// and full stops.
QString LoadErrorText(HRESULT hr);
// What the error box shows: the text, with "." added unless it already ends in a character
// at or below ".".
QString ErrorBoxText(const QString& message);
