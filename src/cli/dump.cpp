// quibrel-tlb dump: a library exactly as the type-library service reports it.
#include "text/typetext.h"
#include "cli/command.h"
#include "cli/fileproblem.h"
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/hostpath.h"

#include <cinttypes>
#include <cstdio>
#include <string>

namespace {

constexpr int kMaxNesting = 16;

class Out {
public:
    Out& operator<<(std::string_view s) { buf_.append(s); return *this; }
    Out& operator<<(char c) { buf_ += c; return *this; }
    Out& Dec(long long v) { return *this << std::to_string(v); }
    Out& Hex(unsigned long long v, int digits) {
        char b[24];
        std::snprintf(b, sizeof b, "0x%0*llX", digits, v);
        return *this << b;
    }
    // Text in double quotes, with quotes, backslashes and control bytes escaped; like the
    // platform's own conversions it ends at a 0 character.
    Out& Quoted(const std::string& s) {
        buf_ += '"';
        for (unsigned char c : s) {
            if (c == 0) break;
            switch (c) {
            case '"': buf_ += "\\\""; break;
            case '\\': buf_ += "\\\\"; break;
            case '\n': buf_ += "\\n"; break;
            case '\r': buf_ += "\\r"; break;
            case '\t': buf_ += "\\t"; break;
            default:
                if (c < 0x20) {
                    char b[8];
                    std::snprintf(b, sizeof b, "\\x%02X", c);
                    buf_ += b;
                } else {
                    buf_ += char(c);
                }
            }
        }
        buf_ += '"';
        return *this;
    }
    // A name; "?" when missing or empty.
    Out& Name(const BStr& b) {
        std::string s = b.Utf8();
        return *this << (s.empty() ? std::string_view("?") : std::string_view(s));
    }
    // False when standard output did not take it all.
    bool Flush() {
        const bool ok = CliWrite(buf_.data(), buf_.size());
        buf_.clear();
        return ok;
    }
    std::size_t Size() const { return buf_.size(); }

private:
    std::string buf_;
};

void TypeName(Out& out, ITypeInfo* ti, HREFTYPE href) {
    ComPtr<ITypeInfo> ref;
    BStr name;
    if (FAILED(ti->GetRefTypeInfo(href, ref.Put())) || !ref ||
        FAILED(ref->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr))) {
        out << '?';
        return;
    }
    out.Name(name);
}

void Type(Out& out, ITypeInfo* ti, const TYPEDESC& td, int level = 1) {
    if (level > kMaxNesting) {
        out << "...";
        return;
    }
    out << VtName(td.vt);
    switch (td.vt) {
    case VT_PTR:
    case VT_SAFEARRAY:
        out << '(';
        if (td.lptdesc) Type(out, ti, *td.lptdesc, level + 1);
        out << ')';
        break;
    case VT_CARRAY:
        if (td.lpadesc) {
            out << '[';
            for (USHORT i = 0; i < td.lpadesc->cDims; ++i) {
                if (i) out << ',';
                out.Dec(td.lpadesc->rgbounds[i].lLbound) << ':';
                out.Dec(td.lpadesc->rgbounds[i].cElements);
            }
            out << "](";
            Type(out, ti, td.lpadesc->tdescElem, level + 1);
            out << ')';
        }
        break;
    case VT_USERDEFINED:
        out << '(';
        TypeName(out, ti, td.hreftype);
        out << ')';
        break;
    default:
        break;
    }
}

void Value(Out& out, const VARIANT& v) {
    char b[64];
    switch (v.vt) {
    case VT_I1: out << "I1:"; out.Dec(v.cVal); break;
    case VT_UI1: out << "UI1:"; out.Dec(v.bVal); break;
    case VT_I2: out << "I2:"; out.Dec(v.iVal); break;
    case VT_UI2: out << "UI2:"; out.Dec(v.uiVal); break;
    case VT_I4: out << "I4:"; out.Dec(v.lVal); break;
    case VT_UI4: out << "UI4:"; out.Dec(v.ulVal); break;
    case VT_INT: out << "INT:"; out.Dec(v.intVal); break;
    case VT_UINT: out << "UINT:"; out.Dec(v.uintVal); break;
    case VT_I8: out << "I8:"; out.Dec(v.llVal); break;
    case VT_UI8:
        std::snprintf(b, sizeof b, "UI8:%" PRIu64, std::uint64_t(v.ullVal));
        out << b;
        break;
    case VT_BOOL: out << "BOOL:"; out.Dec(v.boolVal); break;
    case VT_ERROR: out << "ERROR:"; out.Dec(v.scode); break;
    case VT_R4:
        std::snprintf(b, sizeof b, "R4:%.9g", double(v.fltVal));
        out << b;
        break;
    case VT_R8:
        std::snprintf(b, sizeof b, "R8:%.17g", v.dblVal);
        out << b;
        break;
    case VT_BSTR:
        out << "BSTR:";
        out.Quoted(BstrToUtf8(v.bstrVal));
        break;
    default: out << VtName(v.vt); break;
    }
}

const char* KindName(TYPEKIND k) {
    switch (k) {
    case TKIND_ENUM: return "TKIND_ENUM";
    case TKIND_RECORD: return "TKIND_RECORD";
    case TKIND_MODULE: return "TKIND_MODULE";
    case TKIND_INTERFACE: return "TKIND_INTERFACE";
    case TKIND_DISPATCH: return "TKIND_DISPATCH";
    case TKIND_COCLASS: return "TKIND_COCLASS";
    case TKIND_ALIAS: return "TKIND_ALIAS";
    case TKIND_UNION: return "TKIND_UNION";
    default: return "TKIND_MAX";
    }
}

void DumpType(Out& out, ITypeLib* lib, UINT index) {
    ComPtr<ITypeInfo> ti;
    TypeAttrPtr attr;
    if (FAILED(lib->GetTypeInfo(index, ti.Put())) || !ti || FAILED(ti->GetTypeAttr(attr.Put(ti.Get()))) || !attr) {
        out << "type ";
        out.Dec(index) << " ?\n";
        return;
    }
    BStr name, doc;
    if (FAILED(ti->GetDocumentation(MEMBERID_NIL, name.Put(), doc.Put(), nullptr, nullptr))) {
        name.Reset();
        doc.Reset();
    }
    out << "type ";
    out.Dec(index) << ' ' << KindName(attr->typekind) << ' ';
    out.Name(name) << "\n  doc ";
    out.Quoted(doc.Utf8()) << "\n  guid " << GuidToString(attr->guid) << " flags ";
    out.Hex(attr->wTypeFlags, 4) << " funcs ";
    out.Dec(attr->cFuncs) << " vars ";
    out.Dec(attr->cVars) << " impls ";
    out.Dec(attr->cImplTypes) << " version ";
    out.Dec(attr->wMajorVerNum) << '.';
    out.Dec(attr->wMinorVerNum) << '\n';
    if (attr->typekind == TKIND_ALIAS) {
        out << "  alias ";
        Type(out, ti.Get(), attr->tdescAlias);
        out << '\n';
    }
    for (UINT j = 0; j < attr->cImplTypes; ++j) {
        out << "  impl ";
        out.Dec(j) << " flags ";
        INT flags;
        if (SUCCEEDED(ti->GetImplTypeFlags(j, &flags))) out.Dec(flags);
        else out << '?';
        out << ' ';
        HREFTYPE href;
        if (SUCCEEDED(ti->GetRefTypeOfImplType(j, &href))) TypeName(out, ti.Get(), href);
        else out << '?';
        out << '\n';
    }
    for (UINT j = 0; j < attr->cFuncs; ++j) {
        FuncDescPtr fd;
        if (FAILED(ti->GetFuncDesc(j, fd.Put(ti.Get()))) || !fd) {
            out << "  func ";
            out.Dec(j) << " ?\n";
            continue;
        }
        BStr fname, fdoc;
        if (FAILED(ti->GetDocumentation(fd->memid, fname.Put(), fdoc.Put(), nullptr, nullptr))) {
            fname.Reset();
            fdoc.Reset();
        }
        out << "  func ";
        out.Dec(j) << ' ';
        out.Name(fname) << " memid ";
        out.Hex(std::uint32_t(fd->memid), 8) << " invkind ";
        out.Dec(fd->invkind) << " funckind ";
        out.Dec(fd->funckind) << " flags ";
        out.Hex(fd->wFuncFlags, 4) << " params ";
        out.Dec(fd->cParams) << " opt ";
        out.Dec(fd->cParamsOpt) << " returns ";
        Type(out, ti.Get(), fd->elemdescFunc.tdesc);
        out << "\n    doc ";
        out.Quoted(fdoc.Utf8()) << '\n';
        BSTR names[64] = {};
        UINT count = 0;
        if (FAILED(ti->GetNames(fd->memid, names, 64, &count))) count = 0;
        out << "    names ";
        out.Dec(count);
        for (UINT k = 0; k < count && k < 64; ++k) {
            BStr n(names[k]);
            out << ' ';
            out.Name(n);
        }
        out << '\n';
        for (SHORT k = 0; k < fd->cParams; ++k) {
            const ELEMDESC& e = fd->lprgelemdescParam[k];
            out << "    param ";
            out.Dec(k) << " flags ";
            out.Hex(e.paramdesc.wParamFlags, 4) << ' ';
            Type(out, ti.Get(), e.tdesc);
            out << '\n';
        }
    }
    for (UINT j = 0; j < attr->cVars; ++j) {
        VarDescPtr vd;
        if (FAILED(ti->GetVarDesc(j, vd.Put(ti.Get()))) || !vd) {
            out << "  var ";
            out.Dec(j) << " ?\n";
            continue;
        }
        BStr vname, vdoc;
        if (FAILED(ti->GetDocumentation(vd->memid, vname.Put(), vdoc.Put(), nullptr, nullptr))) {
            vname.Reset();
            vdoc.Reset();
        }
        out << "  var ";
        out.Dec(j) << ' ';
        out.Name(vname) << " memid ";
        out.Hex(std::uint32_t(vd->memid), 8) << " varkind ";
        out.Dec(vd->varkind) << " flags ";
        out.Hex(vd->wVarFlags, 4) << " type ";
        Type(out, ti.Get(), vd->elemdescVar.tdesc);
        if (vd->varkind == VAR_CONST && vd->lpvarValue) {
            out << " = ";
            Value(out, *vd->lpvarValue);
        }
        out << "\n    doc ";
        out.Quoted(vdoc.Utf8()) << '\n';
    }
}

int Dump(const std::vector<std::string>& args) {
    CliArgs parsed;
    if (!ParseCliArgs("dump", "FILE", args, &parsed) || parsed.operands.size() != 1) {
        std::fprintf(stderr, "usage: quibrel-tlb dump FILE\n");
        return 2;
    }
    const std::vector<std::string>& operands = parsed.operands;
    ComPtr<ITypeLib> lib;
    std::u16string path = HostPathToUtf16(operands[0]);
    HRESULT hr = LoadTypeLib(path.c_str(), lib.Put());
    if (FAILED(hr) || !lib) {
        std::printf("error 0x%08X\n", unsigned(hr));
        PrintLoadFailure(operands[0], hr);
        return 1;
    }
    ReportMissingImports(operands[0], lib.Get());
    Out out;
    BStr name, doc;
    if (FAILED(lib->GetDocumentation(-1, name.Put(), doc.Put(), nullptr, nullptr))) {
        name.Reset();
        doc.Reset();
    }
    out << "library ";
    out.Name(name) << "\n  doc ";
    out.Quoted(doc.Utf8()) << '\n';
    LibAttrPtr attr;
    if (SUCCEEDED(lib->GetLibAttr(attr.Put(lib.Get()))) && attr) {
        out << "  guid " << GuidToString(attr->guid) << " version ";
        out.Dec(attr->wMajorVerNum) << '.';
        out.Dec(attr->wMinorVerNum) << " lcid ";
        out.Dec(attr->lcid) << " syskind ";
        out.Dec(attr->syskind) << " flags ";
        out.Hex(attr->wLibFlags, 4) << '\n';
    } else {
        out << "  guid ?\n";
    }
    UINT count = lib->GetTypeInfoCount();
    out << "  types ";
    out.Dec(count) << '\n';
    bool written = true;
    for (UINT i = 0; i < count && written; ++i) {
        DumpType(out, lib.Get(), i);
        if (out.Size() > (1u << 20)) written = out.Flush();
    }
    // A failed write is reported by the caller's final check of standard output.
    if (written) out.Flush();
    return 0;
}

CliRegistrar reg({"dump", "FILE", Dump, "the library as the type-library service reports it"});

}  // namespace
