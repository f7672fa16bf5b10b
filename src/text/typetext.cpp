// Type-library lookups and type/signature formatting.
#include "text/typetext.h"

#include <vector>

const char* const KindNames[5] = {"CoClass", "Interface", "Enumeration", "Record", "Alias"};

QString KindName(int icon) {
    return icon >= 0 && icon < 5 ? QString::fromLatin1(KindNames[icon]) : QString();
}

namespace {

// Type words for vt 2..31.
const char* const kTypeNames[30] = {
    "Integer", "Long",  "Single",  "Double", "Currency", "Date",  "String", "Object",
    "Long",    "Boolean", "Variant", "Object", "Number", "15",    "Byte",   "Byte",
    "Integer", "Long",  "Int64",   "Int64",  "Long",     "Long",  "Any",    "Long",
    "Long",    "Array", "Array",   "Unknown", "String",  "String",
};

QChar FoldAscii(QChar c) {
    ushort u = c.unicode();
    return (u >= 'a' && u <= 'z') ? QChar(ushort(u - 32)) : c;
}

}  // namespace

QString TypeNameOf(VARTYPE vt) {
    return vt >= 2 && vt <= 31 ? QString::fromLatin1(kTypeNames[vt - 2]) : QString();
}

int CompareCaptions(QStringView a, QStringView b) {
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        ushort x = FoldAscii(a[i]).unicode(), y = FoldAscii(b[i]).unicode();
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool GetMemberName(ITypeInfo* ti, MEMBERID memid, QString* name, bool* isNull) {
    BStr b;
    if (FAILED(ti->GetDocumentation(memid, b.Put(), nullptr, nullptr, nullptr))) return false;
    if (isNull) *isNull = b.IsNull();
    *name = BstrToQString(b.Get());
    return true;
}

VARTYPE BaseVarType(const ELEMDESC& elem) {
    const TYPEDESC& t = elem.tdesc;
    switch (t.vt) {
    case VT_PTR:
    case VT_SAFEARRAY:
        return t.lptdesc ? t.lptdesc->vt : VARTYPE(VT_EMPTY);
    case VT_CARRAY:
        return t.lpadesc ? t.lpadesc->tdescElem.vt : VARTYPE(VT_EMPTY);
    default:
        return t.vt;
    }
}

QString FormatType(ITypeInfo* owner, const TYPEDESC& desc, ExternalTypeRegistry* registry) {
    QString result = QStringLiteral("As");
    VARTYPE vt = desc.vt;
    const TYPEDESC* unwrapped = &desc;  // the description vt now stands for
    bool haveRef = false;
    HREFTYPE ref = 0;

    switch (desc.vt) {
    case VT_PTR:
    case VT_SAFEARRAY:
        if (!desc.lptdesc) { vt = VT_EMPTY; break; }
        unwrapped = desc.lptdesc;
        vt = unwrapped->vt;
        if (vt == VT_USERDEFINED) { haveRef = true; ref = unwrapped->hreftype; }
        break;
    case VT_CARRAY: {
        if (!desc.lpadesc) { vt = VT_EMPTY; break; }
        const ARRAYDESC& a = *desc.lpadesc;
        result += QStringLiteral(" Array(");
        for (USHORT d = 0; d < a.cDims; ++d) {
            // 64-bit so that a lying element count cannot wrap the upper bound.
            qint64 lo = a.rgbounds[d].lLbound;
            qint64 hi = lo + qint64(a.rgbounds[d].cElements) - 1;
            if (d) result += QLatin1Char(',');
            result += QString::number(lo) + QStringLiteral(" to ") + QString::number(hi);
        }
        result += QStringLiteral(") of");
        unwrapped = &a.tdescElem;
        vt = unwrapped->vt;
        if (vt == VT_USERDEFINED) { haveRef = true; ref = unwrapped->hreftype; }
        break;
    }
    case VT_USERDEFINED:
        haveRef = true;
        ref = desc.hreftype;
        break;
    default:
        break;
    }

    if (vt == VT_SAFEARRAY) {
        // A pointer to a safe array: name the safe array's element.
        VARTYPE elem = unwrapped->lptdesc ? unwrapped->lptdesc->vt : VARTYPE(VT_EMPTY);
        QString word = TypeNameOf(elem);
        result += QStringLiteral(" Array of ") + (word.isEmpty() ? QStringLiteral("Unknown") : word);
    } else if (vt == VT_USERDEFINED) {
        ComPtr<ITypeInfo> referenced;
        QString name;
        if (haveRef && SUCCEEDED(owner->GetRefTypeInfo(ref, referenced.Put())) && referenced &&
            GetMemberName(referenced.Get(), MEMBERID_NIL, &name)) {
            result += QLatin1Char('<') + QualifyTypeName(owner, referenced.Get(), name, registry) +
                      QLatin1Char('>');
        } else {
            result += QStringLiteral(" Unknown");
        }
    } else if (vt >= 2 && vt <= 31) {
        result += QLatin1Char(' ') + TypeNameOf(vt);
    }
    return result;
}

QString FormatSignature(ITypeInfo* owner, const FUNCDESC& func, ExternalTypeRegistry* registry) {
    const int cParams = func.lprgelemdescParam ? std::max<int>(func.cParams, 0) : 0;
    const bool isPut = func.invkind == INVOKE_PROPERTYPUT || func.invkind == INVOKE_PROPERTYPUTREF;
    bool open = false;
    switch (func.invkind) {
    case INVOKE_FUNC: open = true; break;
    case INVOKE_PROPERTYGET: open = cParams > 0; break;
    case INVOKE_PROPERTYPUT:
    case INVOKE_PROPERTYPUTREF: open = cParams > 1; break;
    }
    QString result = open ? QStringLiteral("(") : QStringLiteral(" ");

    // Slot 0 is the member's name, slot k the name of parameter k-1; a put accessor's last
    // parameter (the value assigned) is not listed.
    const int n = (isPut && cParams > 0) ? cParams : cParams + 1;
    std::vector<BSTR> raw(size_t(n), nullptr);
    UINT fetched = 0;
    if (FAILED(owner->GetNames(func.memid, raw.data(), UINT(n), &fetched))) fetched = 0;
    std::vector<BStr> names;
    names.reserve(raw.size());
    for (BSTR b : raw) names.emplace_back(b);
    fetched = std::min<UINT>(fetched, UINT(n));

    for (int j = 0; j <= n - 2; ++j) {
        const ELEMDESC& e = func.lprgelemdescParam[j];
        const USHORT flags = e.paramdesc.wParamFlags;
        const int slot = j + 1;
        QString name = UINT(slot) < fetched ? BstrToQString(names[size_t(slot)].Get())
                                            : QStringLiteral("Param%1").arg(slot);
        const bool optional = flags & PARAMFLAG_FOPT;
        if (optional) result += QLatin1Char('[');
        if (flags & PARAMFLAG_FOUT) result += QStringLiteral("out ");
        if (BaseVarType(e) == VT_VARIANT)
            result += name;
        else
            result += name + QLatin1Char(' ') + FormatType(owner, e.tdesc, registry);
        if (optional) result += QLatin1Char(']');
        if (j < n - 2) result += QStringLiteral(", ");
    }
    if (open) result += QStringLiteral(") ");

    if (func.invkind == INVOKE_FUNC || func.invkind == INVOKE_PROPERTYGET) {
        if (func.elemdescFunc.tdesc.vt != VT_VOID) result += FormatType(owner, func.elemdescFunc.tdesc, registry);
    } else if (isPut && cParams > 0) {
        result += FormatType(owner, func.lprgelemdescParam[cParams - 1].tdesc, registry);
    }
    return result;
}

QString QualifyTypeName(ITypeInfo* owner, ITypeInfo* referenced, const QString& name,
                        ExternalTypeRegistry* registry) {
    ComPtr<ITypeLib> ownerLib, refLib;
    UINT index = 0;
    if (FAILED(owner->GetContainingTypeLib(ownerLib.Put(), &index)) || !ownerLib) return name;
    if (FAILED(referenced->GetContainingTypeLib(refLib.Put(), &index)) || !refLib) return name;
    LibAttrPtr ownerAttr, refAttr;
    if (FAILED(ownerLib->GetLibAttr(ownerAttr.Put(ownerLib.Get()))) || !ownerAttr) return name;
    if (FAILED(refLib->GetLibAttr(refAttr.Put(refLib.Get()))) || !refAttr) return name;
    if (IsEqualGUID(ownerAttr->guid, refAttr->guid)) return name;

    BStr path;
    if (FAILED(QueryPathOfRegTypeLib(refAttr->guid, refAttr->wMajorVerNum, refAttr->wMinorVerNum,
                                     refAttr->lcid, path.Put())))
        return name;
    QString full = BstrToQString(path.Get());
    if (qsizetype nul = full.indexOf(QChar(0)); nul >= 0) full.truncate(nul);
    QString base = full.mid(std::max(full.lastIndexOf(QLatin1Char('\\')), full.lastIndexOf(QLatin1Char('/'))) + 1);
    if (qsizetype dot = base.lastIndexOf(QLatin1Char('.')); dot >= 0) base.truncate(dot);
    QString qualified = base + QLatin1Char('.') + name;
    if (registry && !registry->IsExternalTypeKnown(qualified)) registry->RegisterExternalType(qualified, full);
    return qualified;
}

QString LoadErrorText(HRESULT hr) {
    QString text = QString::fromStdString(SysErrorMessage(hr));
    while (!text.isEmpty()) {
        QChar c = text.back();
        if (c == QLatin1Char(' ') || c == QLatin1Char('.') || c.unicode() < 0x20)
            text.chop(1);
        else
            break;
    }
    return text;
}

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > '.') return message + QLatin1Char('.');
    return message;
}

namespace {

const char* const kVtNames[32] = {"EMPTY", "NULL", "I2", "I4", "R4", "R8", "CY", "DATE", "BSTR", "DISPATCH", "ERROR",
                                  "BOOL", "VARIANT", "UNKNOWN", "DECIMAL", "VT15", "I1", "UI1", "UI2", "UI4", "I8",
                                  "UI8", "INT", "UINT", "VOID", "HRESULT", "PTR", "SAFEARRAY", "CARRAY", "USERDEFINED",
                                  "LPSTR", "LPWSTR"};

}  // namespace

std::string VtName(VARTYPE vt) {
    if (vt < 32) return kVtNames[vt];
    if (vt == VT_RECORD) return "RECORD";
    if (vt == VT_INT_PTR) return "INT_PTR";
    if (vt == VT_UINT_PTR) return "UINT_PTR";
    return "VT" + std::to_string(vt);
}
