// The library index: reading libraries into it, and where its files come from.
#include "index/libindex.h"

#include "text/typetext.h"
#include "index/registered.h"
#include "platform/oleauto/hostpath.h"
#include "platform/oleauto/pe_image.h"
#include "platform/registry/winepath.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Deepest inheritance chain and alias chain followed; a damaged library may make them cyclic.
constexpr int kMaxDepth = 32;
// Most resources tried in one image.
constexpr int kMaxResources = 64;

const char* const kHiddenMethods[] = {"QueryInterface", "AddRef", "Release", "GetTypeInfoCount",
                                      "GetTypeInfo", "GetIDsOfNames", "Invoke"};

bool IsHiddenMethod(const QString& name) {
    for (const char* h : kHiddenMethods)
        if (name.compare(QLatin1String(h), Qt::CaseInsensitive) == 0) return true;
    return false;
}

QString TypeName(ITypeInfo* ti) {
    QString name;
    return GetMemberName(ti, MEMBERID_NIL, &name) ? name : QString();
}

void AddUnique(QStringList* list, const QString& name) {
    if (!name.isEmpty() && !list->contains(name, Qt::CaseInsensitive)) list->append(name);
}

// The names a type description stands for: the referenced type for a user-defined one (below
// pointers and arrays, and for an alias also what it stands for), else the type word ("Long",
// "String"); "Variant" for a variant. Each name is followed by one "*" per pointer above it
// ("Variant*"), so that a query can ask for a pointer depth; `pointers` drops that many first
// (a [retval] parameter's own pointer).
void CollectTypeNames(ITypeInfo* owner, const TYPEDESC& desc, QStringList* names, int depth = 0, int pointers = 0) {
    const TYPEDESC* t = &desc;
    int stars = -pointers;
    auto add = [&](const QString& name) {
        if (!name.isEmpty()) AddUnique(names, name + QString(std::max(stars, 0), QLatin1Char('*')));
    };
    for (; depth < kMaxDepth && t; ++depth) {
        switch (t->vt) {
        case VT_PTR:
            ++stars;
            t = t->lptdesc;
            continue;
        case VT_SAFEARRAY:
            t = t->lptdesc;
            continue;
        case VT_CARRAY:
            t = t->lpadesc ? &t->lpadesc->tdescElem : nullptr;
            continue;
        case VT_USERDEFINED: {
            ComPtr<ITypeInfo> referenced;
            if (FAILED(owner->GetRefTypeInfo(t->hreftype, referenced.Put())) || !referenced) return;
            add(TypeName(referenced.Get()));
            TypeAttrPtr attr;
            if (SUCCEEDED(referenced->GetTypeAttr(attr.Put(referenced.Get()))) && attr &&
                attr->typekind == TKIND_ALIAS)
                CollectTypeNames(referenced.Get(), attr->tdescAlias, names, depth + 1, -std::max(stars, 0));
            return;
        }
        case VT_VARIANT:
            add(QStringLiteral("Variant"));
            return;
        default:
            add(TypeNameOf(t->vt));
            return;
        }
    }
}

// ---- IDL form, for members the declaration notation cannot describe -------------------------

// Whether the declaration notation ("As Long", "As Array of String") can state the type: one
// pointer, safe array or fixed array level at most above a plain or user-defined type.
bool NotationStates(const TYPEDESC& desc) {
    const TYPEDESC* inner = nullptr;
    switch (desc.vt) {
    case VT_PTR:
    case VT_SAFEARRAY: inner = desc.lptdesc; break;
    case VT_CARRAY: inner = desc.lpadesc ? &desc.lpadesc->tdescElem : nullptr; break;
    default: return true;
    }
    if (!inner) return true;
    if (desc.vt == VT_PTR && inner->vt == VT_SAFEARRAY)  // a safe array passed by reference
        return !inner->lptdesc || (inner->lptdesc->vt != VT_PTR && inner->lptdesc->vt != VT_SAFEARRAY &&
                                   inner->lptdesc->vt != VT_CARRAY && inner->lptdesc->vt != VT_USERDEFINED);
    return inner->vt != VT_PTR && inner->vt != VT_SAFEARRAY && inner->vt != VT_CARRAY;
}

QString IdlBaseName(VARTYPE vt) {
    switch (vt) {
    case VT_I2: return QStringLiteral("short");
    case VT_I4: return QStringLiteral("long");
    case VT_R4: return QStringLiteral("float");
    case VT_R8: return QStringLiteral("double");
    case VT_CY: return QStringLiteral("CURRENCY");
    case VT_DATE: return QStringLiteral("DATE");
    case VT_BSTR: return QStringLiteral("BSTR");
    case VT_DISPATCH: return QStringLiteral("IDispatch*");
    case VT_ERROR: return QStringLiteral("SCODE");
    case VT_BOOL: return QStringLiteral("VARIANT_BOOL");
    case VT_VARIANT: return QStringLiteral("VARIANT");
    case VT_UNKNOWN: return QStringLiteral("IUnknown*");
    case VT_DECIMAL: return QStringLiteral("DECIMAL");
    case VT_I1: return QStringLiteral("char");
    case VT_UI1: return QStringLiteral("unsigned char");
    case VT_UI2: return QStringLiteral("unsigned short");
    case VT_UI4: return QStringLiteral("unsigned long");
    case VT_I8: return QStringLiteral("__int64");
    case VT_UI8: return QStringLiteral("unsigned __int64");
    case VT_INT: return QStringLiteral("int");
    case VT_UINT: return QStringLiteral("unsigned int");
    case VT_VOID: return QStringLiteral("void");
    case VT_HRESULT: return QStringLiteral("HRESULT");
    case VT_LPSTR: return QStringLiteral("LPSTR");
    case VT_LPWSTR: return QStringLiteral("LPWSTR");
    case VT_INT_PTR: return QStringLiteral("INT_PTR");
    case VT_UINT_PTR: return QStringLiteral("UINT_PTR");
    default: return QStringLiteral("VT%1").arg(vt);
    }
}

// The type as IDL writes it: "IUIAutomationElement**", "SAFEARRAY(BSTR)*", "long[4]".
QString IdlTypeText(ITypeInfo* owner, const TYPEDESC& desc, int depth = 0) {
    if (depth > kMaxDepth) return QStringLiteral("...");
    switch (desc.vt) {
    case VT_PTR:
        return (desc.lptdesc ? IdlTypeText(owner, *desc.lptdesc, depth + 1) : QStringLiteral("void")) + QLatin1Char('*');
    case VT_SAFEARRAY:
        return QStringLiteral("SAFEARRAY(%1)").arg(desc.lptdesc ? IdlTypeText(owner, *desc.lptdesc, depth + 1) : QString());
    case VT_CARRAY: {
        if (!desc.lpadesc) return QStringLiteral("void[]");
        QString text = IdlTypeText(owner, desc.lpadesc->tdescElem, depth + 1);
        for (USHORT d = 0; d < desc.lpadesc->cDims; ++d)
            text += QStringLiteral("[%1]").arg(desc.lpadesc->rgbounds[d].cElements);
        return text;
    }
    case VT_USERDEFINED: {
        ComPtr<ITypeInfo> referenced;
        QString name;
        if (SUCCEEDED(owner->GetRefTypeInfo(desc.hreftype, referenced.Put())) && referenced) name = TypeName(referenced.Get());
        return name.isEmpty() ? QStringLiteral("?") : name;
    }
    default:
        return IdlBaseName(desc.vt);
    }
}

// A function as IDL declares it: "[propget] HRESULT Name([in] long Index, [out, retval] T** p)".
QString IdlSignature(ITypeInfo* ti, const FUNCDESC& func, const QString& name) {
    const int cParams = func.lprgelemdescParam ? std::max<int>(func.cParams, 0) : 0;
    std::vector<BSTR> raw(size_t(cParams) + 1, nullptr);
    UINT fetched = 0;
    if (FAILED(ti->GetNames(func.memid, raw.data(), UINT(raw.size()), &fetched))) fetched = 0;
    std::vector<BStr> names;
    for (BSTR b : raw) names.emplace_back(b);
    QString text;
    switch (func.invkind) {
    case INVOKE_PROPERTYGET: text = QStringLiteral("[propget] "); break;
    case INVOKE_PROPERTYPUT: text = QStringLiteral("[propput] "); break;
    case INVOKE_PROPERTYPUTREF: text = QStringLiteral("[propputref] "); break;
    default: break;
    }
    text += IdlTypeText(ti, func.elemdescFunc.tdesc) + QLatin1Char(' ') + name + QLatin1Char('(');
    for (int p = 0; p < cParams; ++p) {
        const USHORT flags = func.lprgelemdescParam[p].paramdesc.wParamFlags;
        QStringList attrs;
        if (flags & PARAMFLAG_FIN) attrs << QStringLiteral("in");
        if (flags & PARAMFLAG_FOUT) attrs << QStringLiteral("out");
        if (flags & PARAMFLAG_FRETVAL) attrs << QStringLiteral("retval");
        if (flags & PARAMFLAG_FOPT) attrs << QStringLiteral("optional");
        if (p) text += QStringLiteral(", ");
        if (!attrs.isEmpty()) text += QLatin1Char('[') + attrs.join(QStringLiteral(", ")) + QStringLiteral("] ");
        const QString param = UINT(p + 1) < fetched ? BstrToQString(names[size_t(p) + 1].Get()) : QString();
        text += IdlTypeText(ti, func.lprgelemdescParam[p].tdesc) +
                (param.isEmpty() ? QString() : QLatin1Char(' ') + param);
    }
    return text + QLatin1Char(')');
}

bool NotationStatesFunction(const FUNCDESC& func) {
    const int cParams = func.lprgelemdescParam ? std::max<int>(func.cParams, 0) : 0;
    for (int p = 0; p < cParams; ++p)
        if (!NotationStates(func.lprgelemdescParam[p].tdesc)) return false;
    return NotationStates(func.elemdescFunc.tdesc);
}

// Adds what the interface ti inherits, transitively, its dispatch and vtable sides alike.
void CollectInheritance(ITypeInfo* ti, QStringList* names, int depth = 0) {
    if (!ti || depth > kMaxDepth) return;
    TypeAttrPtr attr;
    if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return;
    auto addBases = [&](ITypeInfo* of, UINT count) {
        for (UINT j = 0; j < count; ++j) {
            HREFTYPE ref;
            ComPtr<ITypeInfo> base;
            if (FAILED(of->GetRefTypeOfImplType(j, &ref)) || FAILED(of->GetRefTypeInfo(ref, base.Put())) || !base)
                continue;
            const QString name = TypeName(base.Get());
            if (name.isEmpty() || names->contains(name, Qt::CaseInsensitive)) continue;
            names->append(name);
            CollectInheritance(base.Get(), names, depth + 1);
        }
    };
    // A dual interface's dispatch side inherits IDispatch; its vtable side names the real base.
    if (attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL)) {
        HREFTYPE twin;
        ComPtr<ITypeInfo> vtable;
        if (SUCCEEDED(ti->GetRefTypeOfImplType(UINT(-1), &twin)) &&
            SUCCEEDED(ti->GetRefTypeInfo(twin, vtable.Put())) && vtable) {
            TypeAttrPtr vattr;
            if (SUCCEEDED(vtable->GetTypeAttr(vattr.Put(vtable.Get()))) && vattr) addBases(vtable.Get(), vattr->cImplTypes);
        }
    }
    addBases(ti, attr->cImplTypes);
}

// A constant's value as the documentation pane writes it; empty when it is no number.
QString ConstantText(const VARIANT& v) {
    switch (v.vt) {
    case VT_I1: return QString::number(v.cVal);
    case VT_UI1: return QString::number(v.bVal);
    case VT_I2: return QString::number(v.iVal);
    case VT_UI2: return QString::number(v.uiVal);
    case VT_I4: return QString::number(v.lVal);
    case VT_INT: return QString::number(v.intVal);
    case VT_ERROR: return QString::number(v.scode);
    case VT_UI4: return QString::number(qint32(v.ulVal));
    case VT_UINT: return QString::number(qint32(v.uintVal));
    case VT_I8: return QString::number(qint32(v.llVal));
    case VT_UI8: return QString::number(qint32(v.ullVal));
    case VT_BOOL: return QString::number(v.boolVal ? -1 : 0);
    default: return QString();
    }
}

class TypeReader {
public:
    TypeReader(ITypeLib* lib, TIndexLibrary* out) : FLib(lib), FOut(out) {}

    void Read() {
        const UINT count = FLib->GetTypeInfoCount();
        // Source interfaces of the library's coclasses: their members are events.
        std::vector<ComPtr<ITypeInfo>> infos;
        for (UINT i = 0; i < count; ++i) {
            ComPtr<ITypeInfo> ti;
            if (FAILED(FLib->GetTypeInfo(i, ti.Put())) || !ti) continue;
            infos.push_back(ti);
            TypeAttrPtr attr;
            if (FAILED(ti->GetTypeAttr(attr.Put(ti.Get()))) || !attr || attr->typekind != TKIND_COCLASS) continue;
            for (UINT j = 0; j < attr->cImplTypes; ++j) {
                HREFTYPE ref;
                INT flags;
                ComPtr<ITypeInfo> source;
                if (FAILED(ti->GetRefTypeOfImplType(j, &ref)) || FAILED(ti->GetImplTypeFlags(j, &flags))) continue;
                if (!(flags & IMPLTYPEFLAG_FSOURCE)) continue;
                if (FAILED(ti->GetRefTypeInfo(ref, source.Put())) || !source) continue;
                FEvents.insert(TypeName(source.Get()).toLower());
            }
        }
        for (const ComPtr<ITypeInfo>& ti : infos) ReadType(ti.Get());
    }

private:
    void ReadType(ITypeInfo* ti) {
        TypeAttrPtr attr;
        if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return;
        TIndexType type;
        type.TypeKind = attr->typekind;
        type.Guid = attr->guid;
        switch (attr->typekind) {
        case TKIND_COCLASS: type.Icon = eiCoClass; break;
        case TKIND_DISPATCH:
        case TKIND_INTERFACE: type.Icon = eiInterface; break;
        case TKIND_ENUM: type.Icon = eiEnumeration; break;
        case TKIND_RECORD: type.Icon = eiRecord; break;
        case TKIND_ALIAS: type.Icon = eiAlias; break;
        default: return;
        }
        type.Name = TypeName(ti);
        if (type.Name.isEmpty()) return;
        type.Signature = KindName(type.Icon) + QLatin1Char(' ') + type.Name;

        switch (attr->typekind) {
        case TKIND_COCLASS:
            for (UINT j = 0; j < attr->cImplTypes; ++j) {
                HREFTYPE ref;
                INT flags;
                ComPtr<ITypeInfo> impl;
                if (FAILED(ti->GetRefTypeOfImplType(j, &ref)) || FAILED(ti->GetImplTypeFlags(j, &flags))) continue;
                if (flags & IMPLTYPEFLAG_FSOURCE) continue;  // outgoing, not implemented
                if (FAILED(ti->GetRefTypeInfo(ref, impl.Put())) || !impl) continue;
                const QString name = TypeName(impl.Get());
                if (name.isEmpty()) continue;
                AddUnique(&type.Implements, name);
                CollectInheritance(impl.Get(), &type.Implements);
            }
            break;
        case TKIND_DISPATCH:
        case TKIND_INTERFACE:
            CollectInheritance(ti, &type.Implements);
            ReadInterfaceMembers(ti, *attr.Get(), &type);
            break;
        case TKIND_ENUM:
        case TKIND_RECORD:
            ReadVariables(ti, *attr.Get(), &type);
            break;
        case TKIND_ALIAS:
            type.Signature += QLatin1Char(' ') + FormatType(ti, attr->tdescAlias, nullptr);
            break;
        default:
            break;
        }
        FOut->Types.push_back(std::move(type));
    }

    void ReadInterfaceMembers(ITypeInfo* ti, const TYPEATTR& attr, TIndexType* type) {
        const bool events = FEvents.count(type->Name.toLower()) != 0;
        for (UINT i = 0; i < attr.cVars; ++i) {
            VarDescPtr var;
            if (FAILED(ti->GetVarDesc(i, var.Put(ti))) || !var) continue;
            TIndexMember m;
            bool isNull = true;
            if (!GetMemberName(ti, var->memid, &m.Name, &isNull) || isNull) continue;
            m.Icon = eiProperty;
            m.MemId = var->memid;
            m.Signature = NotationStates(var->elemdescVar.tdesc)
                              ? QStringLiteral("Property ") + m.Name + QLatin1Char(' ') +
                                    FormatType(ti, var->elemdescVar.tdesc, nullptr)
                              : IdlTypeText(ti, var->elemdescVar.tdesc) + QLatin1Char(' ') + m.Name;
            CollectTypeNames(ti, var->elemdescVar.tdesc, &m.Returns);
            type->Members.push_back(std::move(m));
        }
        // Accessors of one property make one member, described by the first one listed.
        std::map<QString, size_t> properties;
        for (UINT i = 0; i < attr.cFuncs; ++i) {
            FuncDescPtr func;
            if (FAILED(ti->GetFuncDesc(i, func.Put(ti))) || !func) continue;
            QString name;
            bool isNull = true;
            if (!GetMemberName(ti, func->memid, &name, &isNull) || isNull) continue;
            if (IsHiddenMethod(name)) continue;
            if (events && func->invkind != INVOKE_FUNC) continue;
            const int cParams = func->lprgelemdescParam ? std::max<int>(func->cParams, 0) : 0;
            const bool isPut = func->invkind == INVOKE_PROPERTYPUT || func->invkind == INVOKE_PROPERTYPUTREF;
            size_t slot;
            if (func->invkind != INVOKE_FUNC) {
                auto [it, added] = properties.emplace(name.toLower(), type->Members.size());
                slot = it->second;
                if (added) {
                    TIndexMember m;
                    m.Name = name;
                    m.Icon = eiProperty;
                    m.MemId = func->memid;
                    m.Signature = NotationStatesFunction(*func.Get())
                                      ? QStringLiteral("Property ") + name + FormatSignature(ti, *func.Get(), nullptr)
                                      : IdlSignature(ti, *func.Get(), name);
                    type->Members.push_back(std::move(m));
                }
            } else {
                slot = type->Members.size();
                TIndexMember m;
                m.Name = name;
                m.Icon = events ? eiEvent : eiMethod;
                m.MemId = func->memid;
                const QString word = events ? QStringLiteral("Event ")
                                            : func->elemdescFunc.tdesc.vt == VT_VOID ? QStringLiteral("Sub ")
                                                                                    : QStringLiteral("Function ");
                m.Signature = NotationStatesFunction(*func.Get()) ? word + name + FormatSignature(ti, *func.Get(), nullptr)
                                                                  : IdlSignature(ti, *func.Get(), name);
                type->Members.push_back(std::move(m));
            }
            TIndexMember& m = type->Members[slot];
            // What a property is read or assigned as counts as what it returns.
            for (int p = 0; p < cParams; ++p) {
                const bool value = isPut && p == cParams - 1;
                const ELEMDESC& param = func->lprgelemdescParam[p];
                CollectTypeNames(ti, param.tdesc, value ? &m.Returns : &m.Takes);
                if (value) CollectTypeNames(ti, param.tdesc, &m.Takes);
                // What comes back through [retval] is the result, below the parameter's own pointer.
                if (!value && (param.paramdesc.wParamFlags & PARAMFLAG_FRETVAL))
                    CollectTypeNames(ti, param.tdesc, &m.Returns, 0, param.tdesc.vt == VT_PTR ? 1 : 0);
            }
            if (!isPut && func->elemdescFunc.tdesc.vt != VT_VOID && func->elemdescFunc.tdesc.vt != VT_HRESULT)
                CollectTypeNames(ti, func->elemdescFunc.tdesc, &m.Returns);
        }
    }

    void ReadVariables(ITypeInfo* ti, const TYPEATTR& attr, TIndexType* type) {
        const bool isEnum = attr.typekind == TKIND_ENUM;
        for (UINT i = 0; i < attr.cVars; ++i) {
            VarDescPtr var;
            if (FAILED(ti->GetVarDesc(i, var.Put(ti))) || !var) continue;
            TIndexMember m;
            bool isNull = true;
            if (!GetMemberName(ti, var->memid, &m.Name, &isNull) || isNull) continue;
            m.MemId = var->memid;
            if (isEnum) {
                m.Icon = eiConstant;
                m.Signature = QStringLiteral("Const ") + m.Name;
                if (var->varkind == VAR_CONST && var->lpvarValue) {
                    const QString value = ConstantText(*var->lpvarValue);
                    if (!value.isEmpty()) m.Signature += QStringLiteral(" = ") + value;
                }
            } else {
                m.Icon = eiField;
                m.Signature = QStringLiteral("Field ") + m.Name + QLatin1Char(' ') +
                              FormatType(ti, var->elemdescVar.tdesc, nullptr);
                CollectTypeNames(ti, var->elemdescVar.tdesc, &m.Returns);
            }
            type->Members.push_back(std::move(m));
        }
    }

    ITypeLib* FLib;
    TIndexLibrary* FOut;
    std::set<QString> FEvents;
};

HRESULT LoadLibraryAt(const QString& path, ComPtr<ITypeLib>* lib) {
    const std::u16string wide = path.toStdU16String();
    return LoadTypeLib(reinterpret_cast<LPCOLESTR>(wide.c_str()), lib->Put());
}

void ReadLibrary(ITypeLib* lib, const QString& path, TIndexLibrary* out) {
    out->Path = path;
    LibAttrPtr attr;
    if (SUCCEEDED(lib->GetLibAttr(attr.Put(lib))) && attr) {
        out->Guid = attr->guid;
        out->Major = attr->wMajorVerNum;
        out->Minor = attr->wMinorVerNum;
    }
    BStr name, doc;
    if (SUCCEEDED(lib->GetDocumentation(MEMBERID_NIL, name.Put(), doc.Put(), nullptr, nullptr))) {
        out->Name = BstrToQString(name.Get());
        out->Description = BstrToQString(doc.Get());
    }
    TypeReader(lib, out).Read();
}

// A path of the API's form (host bytes that are not UTF-8 carried as escapes) and the host's bytes.
std::string HostBytes(const QString& path) { return Utf16ToHostPath(path.toStdU16String()); }
QString FromHostBytes(const std::string& bytes) { return QString::fromStdU16String(HostPathToUtf16(bytes)); }

bool StatHost(const QString& path, struct stat* st) { return ::stat(HostBytes(path).c_str(), st) == 0; }
// Modification time in milliseconds since the epoch, as the cache keeps it.
qint64 ModifiedMs(const struct stat& st) { return qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000; }

// The host file of a path LoadTypeLib is given, and the resource a trailing "\N" names.
QString HostFileOf(const QString& loadPath, int* resource) {
    *resource = 0;
    struct stat st {};
    QString host = FromHostBytes(HostPathFromWinePath(HostBytes(loadPath)));
    if (StatHost(host, &st) && S_ISREG(st.st_mode)) return host;
    const qsizetype slash = loadPath.lastIndexOf(QLatin1Char('\\'));
    if (slash < 0) return host;
    bool ok = false;
    const int n = loadPath.mid(slash + 1).toInt(&ok);
    if (!ok || n <= 0) return host;
    *resource = n;
    return FromHostBytes(HostPathFromWinePath(HostBytes(loadPath.left(slash))));
}

// Why a file gave TYPE_E_CANTLOADLIBRARY: that status stays for a file that simply holds no
// type library (no TYPELIB resource, or bytes of no library format); a file that cannot be
// read gets E_ACCESSDENIED, an image whose resources cannot be read or whose TYPELIB resource
// did not load TYPE_E_INVDATAREAD.
HRESULT ClassifyCantLoad(const QString& hostPath) {
    const int fd = ::open(HostBytes(hostPath).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? TYPE_E_CANTLOADLIBRARY : E_ACCESSDENIED;
    struct stat st {};
    HRESULT hr = TYPE_E_CANTLOADLIBRARY;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 2) {
        struct FdImage final : tlb::ImageReader {
            int fd;
            std::uint64_t size;
            std::uint64_t Size() const override { return size; }
            bool Read(std::uint64_t off, void* dst, std::size_t len) const override {
                if (off > size || len > size - off) return false;
                return ::pread(fd, dst, len, off_t(off)) == ssize_t(len);
            }
        } image;
        image.fd = fd;
        image.size = std::uint64_t(st.st_size);
        std::vector<std::uint32_t> ids;
        if (tlb::LooksLikePe(image) && (!tlb::ListTypeLibResources(image, &ids) || !ids.empty()))
            hr = TYPE_E_INVDATAREAD;
    }
    ::close(fd);
    return hr;
}

}  // namespace

bool IsIndexedFileName(const QString& fileName) {
    QString name = fileName;
    // "NAME.dll.2": a copy of resource 2 of NAME.dll.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0) {
        bool digits = dot + 1 < name.size();
        for (qsizetype i = dot + 1; i < name.size(); ++i) digits = digits && name[i].isDigit();
        if (digits) name.truncate(dot);
    }
    for (const char* ext : {".tlb", ".olb", ".dll", ".ocx", ".exe"})
        if (name.endsWith(QLatin1String(ext), Qt::CaseInsensitive) && name.size() > 4) return true;
    return false;
}

TIndexFile ReadIndexFile(const QString& loadPath, bool allResources) {
    TIndexFile file;
    file.LoadPath = loadPath;
    file.AllResources = allResources;
    file.HostPath = HostFileOf(loadPath, &file.Resource);
    struct stat st {};
    const bool exists = StatHost(file.HostPath, &st);
    file.Size = exists ? qint64(st.st_size) : -1;
    file.MTime = exists ? ModifiedMs(st) : 0;

    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadLibraryAt(loadPath, &lib);
    if (FAILED(hr) || !lib) {
        file.Status = FAILED(hr) ? hr : E_FAIL;
        if (file.Status == TYPE_E_CANTLOADLIBRARY && exists) file.Status = ClassifyCantLoad(file.HostPath);
        return file;
    }
    file.Libraries.emplace_back();
    ReadLibrary(lib.Get(), loadPath, &file.Libraries.back());
    if (!allResources) return file;

    // The other TYPELIB resources of an image, "\2", "\3", ... while they load. The first one
    // loaded may itself be one of them: a repeat of its library is left out.
    const GUID first = file.Libraries.front().Guid;
    const int firstMajor = file.Libraries.front().Major, firstMinor = file.Libraries.front().Minor;
    // Resource ids are sorted, so the first one is the lowest: looking from 2 on finds the rest;
    // a few missing numbers in a row end the look.
    int misses = 0;
    for (int n = 2; n <= kMaxResources && misses < 3; ++n) {
        const QString path = loadPath + QStringLiteral("\\") + QString::number(n);
        ComPtr<ITypeLib> more;
        if (FAILED(LoadLibraryAt(path, &more)) || !more) {
            ++misses;
            continue;
        }
        misses = 0;
        TIndexLibrary extra;
        ReadLibrary(more.Get(), path, &extra);
        if (IsEqualGUID(extra.Guid, first) && extra.Major == firstMajor && extra.Minor == firstMinor) continue;
        file.Libraries.push_back(std::move(extra));
    }
    return file;
}

namespace {

// A file a folder scan found that holds no type library: left out of the failures.
bool HoldsNoLibrary(const TIndexFile& f) { return f.AllResources && f.Status == TYPE_E_CANTLOADLIBRARY; }

}  // namespace

std::vector<TIndexFailure> TLibraryIndex::Failures() const {
    std::vector<TIndexFailure> failures;
    for (const TIndexFilePtr& f : Files)
        if (FAILED(f->Status) && !HoldsNoLibrary(*f)) failures.push_back({f->LoadPath, f->Status});
    return failures;
}

int TLibraryIndex::FilesWithoutLibrary() const {
    return int(std::count_if(Files.begin(), Files.end(), [](const TIndexFilePtr& f) { return HoldsNoLibrary(*f); }));
}

int TLibraryIndex::LibraryCount() const {
    int n = 0;
    for (const TIndexFilePtr& f : Files) n += int(f->Libraries.size());
    return n;
}

QString TLibraryIndex::LibraryDeclaringClsid(const GUID& clsid) const {
    for (const TIndexFilePtr& f : Files)
        for (const TIndexLibrary& lib : f->Libraries)
            for (const TIndexType& t : lib.Types)
                if (t.TypeKind == TKIND_COCLASS && IsEqualGUID(t.Guid, clsid)) return lib.Path;
    return QString();
}

TClassLibraryMap TLibraryIndex::ClassLibraries() const {
    TClassLibraryMap map;
    for (const TIndexFilePtr& f : Files)
        for (const TIndexLibrary& lib : f->Libraries)
            for (const TIndexType& t : lib.Types)
                if (t.TypeKind == TKIND_COCLASS) map.emplace(t.Guid, lib.Path);
    return map;
}

QString RegisteredLibraryDeclaringClsid(const GUID& clsid) {
    TIndexSources sources;
    sources.Registered = true;
    return BuildLibraryIndex(sources, IndexCachePath())->LibraryDeclaringClsid(clsid);
}

QString IndexCachePath() {
    QString dir = qEnvironmentVariable("QUIBREL_CACHE_DIR");
    if (dir.isEmpty()) {
        dir = qEnvironmentVariable("XDG_CACHE_HOME");
        if (dir.isEmpty() || QDir::isRelativePath(dir)) dir = QDir::homePath() + QStringLiteral("/.cache");
        dir += QStringLiteral("/quibrel");
    }
    return dir + QStringLiteral("/library-index.bin");
}

namespace {

struct SourceEntry {
    QString LoadPath;
    bool AllResources;
};

std::vector<SourceEntry> ListSources(const TIndexSources& sources) {
    std::vector<SourceEntry> entries;
    std::set<QString> seen;
    if (sources.Registered) {
        for (const TRegisteredLibrary& r : ReadRegisteredLibraries()) {
            if (!r.HasFile || r.File.isEmpty()) continue;
            if (seen.insert(QStringLiteral("r:") + r.File).second) entries.push_back({r.File, false});
        }
    }
    for (const QString& folder : sources.Folders) {
        // Walked by the host's bytes, so that names that are not UTF-8 reach their files.
        QStringList found;
        std::error_code ec;
        const std::filesystem::path root = std::filesystem::absolute(std::filesystem::path(HostBytes(folder)), ec);
        std::filesystem::recursive_directory_iterator it(root, std::filesystem::directory_options::skip_permission_denied, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            std::error_code fileEc;
            if (!it->is_regular_file(fileEc)) continue;
            const QString name = FromHostBytes(it->path().filename().string());
            if (IsIndexedFileName(name)) found << QDir::cleanPath(FromHostBytes(it->path().string()));
        }
        found.sort();
        for (const QString& path : found)
            if (seen.insert(QStringLiteral("f:") + path).second) entries.push_back({path, true});
    }
    // A registered file that a folder scan also found is left to the scan, which reads all of
    // its resources: a library is listed once.
    if (sources.Registered && !sources.Folders.isEmpty()) {
        std::set<QString> scanned;
        for (const SourceEntry& e : entries)
            if (e.AllResources) scanned.insert(QFileInfo(e.LoadPath).canonicalFilePath());
        int resource;
        std::erase_if(entries, [&](const SourceEntry& e) {
            if (e.AllResources) return false;
            const QString host = QFileInfo(HostFileOf(e.LoadPath, &resource)).canonicalFilePath();
            return !host.isEmpty() && scanned.count(host) != 0;
        });
    }
    return entries;
}

// The key of a file entry: which file, read how.
QString KeyOf(const QString& hostPath, bool allResources, int resource) {
    return hostPath + QLatin1Char('\n') + (allResources ? QStringLiteral("*") : QString::number(resource));
}

}  // namespace

std::shared_ptr<TLibraryIndex> BuildLibraryIndex(const TIndexSources& sources, const QString& cachePath,
                                                 const TLibraryIndex* previous, TIndexProgress* progress,
                                                 TIndexBuildStats* stats) {
    TIndexBuildStats localStats;
    if (!stats) stats = &localStats;
    *stats = TIndexBuildStats();
    auto index = std::make_shared<TLibraryIndex>();
    const std::vector<SourceEntry> entries = ListSources(sources);
    if (progress) {
        progress->Total = int(entries.size());
        progress->Done = 0;
    }

    // What is known: the previous index, and the cache file, read only when the previous index
    // does not know a file.
    std::map<QString, TIndexFilePtr> known;
    if (previous)
        for (const TIndexFilePtr& f : previous->Files) known[KeyOf(f->HostPath, f->AllResources, f->Resource)] = f;
    std::vector<TIndexFilePtr> cached;
    bool cacheRead = false;
    auto readCache = [&] {
        if (cacheRead || cachePath.isEmpty()) return;
        cacheRead = true;
        ReadIndexCache(cachePath, &cached, &stats->CacheRejected);
        for (const TIndexFilePtr& f : cached) known.emplace(KeyOf(f->HostPath, f->AllResources, f->Resource), f);
    };
    if (!previous) readCache();

    bool changed = false;
    for (const SourceEntry& e : entries) {
        if (progress && progress->Cancel) {
            stats->Cancelled = true;
            break;
        }
        int resource = 0;
        const QString host = HostFileOf(e.LoadPath, &resource);
        struct stat st {};
        const bool exists = StatHost(host, &st);
        const qint64 size = exists ? qint64(st.st_size) : -1;
        const qint64 mtime = exists ? ModifiedMs(st) : 0;
        const QString key = KeyOf(host, e.AllResources, resource);
        auto it = known.find(key);
        if (it == known.end() && !cacheRead) {
            readCache();
            it = known.find(key);
        }
        const TIndexFilePtr was = it != known.end() ? it->second : nullptr;
        if (was && was->Size == size && was->MTime == mtime && was->LoadPath == e.LoadPath) {
            index->Files.push_back(was);
            ++stats->FilesFromCache;
        } else {
            index->Files.push_back(std::make_shared<const TIndexFile>(ReadIndexFile(e.LoadPath, e.AllResources)));
            ++stats->FilesRead;
            changed = true;
        }
        if (progress) ++progress->Done;
    }

    // The cache keeps what it knew of other files too, while they still exist, so that
    // different sources share it.
    if (!cachePath.isEmpty() && (changed || stats->CacheRejected)) {
        if (!cacheRead) ReadIndexCache(cachePath, &cached);
        std::set<QString> kept;
        std::vector<TIndexFilePtr> all = index->Files;
        for (const TIndexFilePtr& f : all) kept.insert(KeyOf(f->HostPath, f->AllResources, f->Resource));
        for (const TIndexFilePtr& f : cached) {
            if (kept.count(KeyOf(f->HostPath, f->AllResources, f->Resource))) continue;
            struct stat st {};
            if (!StatHost(f->HostPath, &st)) continue;
            all.push_back(f);
        }
        WriteIndexCache(cachePath, all);
    }
    return index;
}
