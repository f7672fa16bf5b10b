// The MSFT type-library format (what MIDL and widl write): a header, a directory of segments
// (type info records, names, strings, GUIDs, type descriptions, imports ...) and, per type, a
// block of function and variable records. Everything is reached through offsets the file gives;
// each is checked before it is followed.
#include "platform/oleauto/msft_source.h"

#include "platform/oleauto/bytes.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

namespace tlb {
namespace {

constexpr std::uint32_t kMagic = 0x5446534D;  // "MSFT"
constexpr std::size_t kHeaderSize = 0x54;
constexpr std::size_t kTypeInfoSize = 0x64;
constexpr std::uint32_t kHelpDllFlag = 0x100;
constexpr std::uint32_t kImportByGuid = 0x10000;
constexpr std::uint32_t kFuncHasDefaults = 0x1000;
// The fixed parts of a function record and of a variable record.
constexpr std::size_t kMinFuncRecord = 24;
constexpr std::size_t kMinVarRecord = 20;

enum Segment {
    kTypeInfoTab, kImpInfo, kImpFiles, kRefTab, kGuidHashTab, kGuidTab, kNameHashTab, kNameTab,
    kStringTab, kTypeDescTab, kArrayDescTab, kCustData, kCdGuids, kSegReserved1, kSegReserved2, kSegmentCount
};

class MsftSource final : public LibrarySource {
public:
    explicit MsftSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)), d_(bytes_.data(), bytes_.size()) {}

    HRESULT Open();

    HRESULT GetLibrary(LibraryData* out) override;
    std::uint32_t TypeCount() override { return typeCount_; }
    HRESULT GetType(std::uint32_t index, TypeData* out) override;
    HRESULT GetFunc(std::uint32_t typeIndex, const TypeData& type, std::uint32_t index, FuncData* out,
                    bool namesOnly) override;
    HRESULT GetVar(std::uint32_t typeIndex, const TypeData& type, std::uint32_t index, VarData* out) override;
    HRESULT ResolveRef(HREFTYPE href, RefTarget* out) override;
    HRESULT GetImport(std::uint32_t key, ImportData* out) override;
    HRESULT ImportKeys(std::vector<std::uint32_t>* out) override;
    HRESULT GetCustData(const CustOwner& owner, std::vector<CustItem>* out) override;
    HRESULT GetDllEntry(std::uint32_t typeIndex, const TypeData& type, std::uint32_t index,
                        DllEntryData* out) override;
    HRESULT Names(std::vector<std::string_view>* out) override;

private:
    // A function record's optional fields: where they start and how many there are, and the
    // flag word that says which are meaningful.
    struct FuncFields {
        std::size_t at = 0;
        std::size_t count = 0;
        std::uint32_t fkccic = 0;
        std::uint32_t nArgs = 0;
    };
    bool FuncRecordFields(const TypeData& type, std::uint32_t typeIndex, std::uint32_t index, FuncFields* f) const;
    // The custom data list starting at `off` in the custom data GUID segment (-1: none).
    bool CustList(std::int32_t off, std::vector<CustItem>* out) const;

    // Where a type's member block is: the records, and the arrays of ids, names and offsets.
    struct Members {
        std::size_t records = 0;   // start of the records (offsets are relative to it)
        std::size_t arrays = 0;    // memids[n], names[n], offsets[n]
        std::uint32_t count = 0;
    };

    bool Seg(Segment s, std::int64_t off, std::size_t len, std::size_t* at) const {
        if (off < 0 || std::uint64_t(off) > seg_[s].len || len > seg_[s].len - std::size_t(off)) return false;
        *at = seg_[s].off + std::size_t(off);
        return true;
    }
    std::string_view Name(std::int32_t off) const;
    std::string_view String(std::int32_t off) const;
    bool Guid(std::int32_t off, GUID* g) const;
    bool TypeRecord(std::uint32_t index, std::size_t* at) const;
    bool MemberBlock(std::uint32_t index, std::uint32_t count, Members* m) const;
    // The member block GetType found (and checked) for the type.
    bool Cached(std::uint32_t, const TypeData& type, Members* m) const {
        m->records = std::size_t(type.sourceData[0]);
        m->arrays = std::size_t(type.sourceData[1]);
        m->count = std::uint32_t(type.cFuncs) + type.cVars;
        return m->count != 0 && d_.Has(m->arrays, std::size_t(m->count) * 12);
    }
    bool Record(const Members& m, std::uint32_t k, std::size_t* at, std::size_t* len) const;
    bool DecodeType(std::int32_t enc, TypeTree* t, int depth, std::uint32_t* node) const;
    bool DecodeValue(std::int32_t enc, ValueData* v) const;

    std::vector<std::uint8_t> bytes_;
    Bytes d_;
    std::int32_t h_[21] = {};
    std::uint32_t typeCount_ = 0;
    std::size_t typeOffsets_ = 0;
    struct SegInfo {
        std::size_t off = 0;
        std::size_t len = 0;
    } seg_[kSegmentCount];
    // Type info offsets (what local HREFTYPEs are) and their type indexes, sorted by offset.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> byOffset_;
};

HRESULT MsftSource::Open() {
    std::uint32_t magic;
    if (!d_.U32(0, &magic) || magic != kMagic) return TYPE_E_CANTLOADLIBRARY;
    if (!d_.Has(0, kHeaderSize)) return TYPE_E_INVDATAREAD;
    for (int i = 0; i < 21; ++i) d_.I32(std::size_t(i) * 4, &h_[i]);
    std::int32_t count = h_[8];
    if (count < 0) return TYPE_E_INVDATAREAD;
    std::size_t pos = kHeaderSize;
    if (std::uint32_t(h_[5]) & kHelpDllFlag) pos += 4;
    typeOffsets_ = pos;
    if (!d_.Has(pos, std::size_t(count) * 4)) return TYPE_E_INVDATAREAD;
    typeCount_ = std::uint32_t(count);
    pos += std::size_t(count) * 4;
    for (int s = 0; s < kSegmentCount; ++s) {
        std::int32_t off, len;
        if (!d_.I32(pos, &off) || !d_.I32(pos + 4, &len)) return TYPE_E_INVDATAREAD;
        pos += 16;
        if (off == -1 || len <= 0) continue;  // absent
        if (off < 0 || !d_.Has(std::size_t(off), std::size_t(len))) return TYPE_E_INVDATAREAD;
        seg_[s].off = std::size_t(off);
        seg_[s].len = std::size_t(len);
    }
    byOffset_.reserve(typeCount_);
    for (std::uint32_t i = 0; i < typeCount_; ++i) {
        std::uint32_t off;
        d_.U32(typeOffsets_ + std::size_t(i) * 4, &off);
        byOffset_.emplace_back(off, i);
    }
    std::stable_sort(byOffset_.begin(), byOffset_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return S_OK;
}

std::string_view MsftSource::Name(std::int32_t off) const {
    std::size_t at;
    std::uint32_t len;
    std::string_view v;
    if (off < 0 || !Seg(kNameTab, off, 12, &at) || !d_.U32(at + 8, &len)) return {};
    len &= 0xFF;
    if (!Seg(kNameTab, std::int64_t(off) + 12, len, &at) || !d_.View(at, len, &v)) return {};
    return v;
}

// The name table is a run of entries: 12 bytes (reference, next in its hash chain, length and
// hash), then the name, padded to 4 bytes.
HRESULT MsftSource::Names(std::vector<std::string_view>* out) {
    out->clear();
    const std::size_t len = seg_[kNameTab].len;
    for (std::size_t off = 0; off + 12 <= len;) {
        std::size_t at;
        std::uint32_t word;
        if (!Seg(kNameTab, std::int64_t(off), 12, &at) || !d_.U32(at + 8, &word)) break;
        const std::size_t n = word & 0xFF;
        std::string_view v;
        if (!Seg(kNameTab, std::int64_t(off) + 12, n, &at) || !d_.View(at, n, &v)) break;
        out->push_back(v);
        off += 12 + ((n + 3) & ~std::size_t(3));
    }
    return S_OK;
}

std::string_view MsftSource::String(std::int32_t off) const {
    std::size_t at;
    std::uint16_t len;
    std::string_view v;
    if (off < 0 || !Seg(kStringTab, off, 2, &at) || !d_.U16(at, &len)) return {};
    if (!Seg(kStringTab, std::int64_t(off) + 2, len, &at) || !d_.View(at, len, &v)) return {};
    return v;
}

bool MsftSource::Guid(std::int32_t off, GUID* g) const {
    std::size_t at;
    std::uint8_t raw[16];
    if (off < 0 || !Seg(kGuidTab, off, 16, &at) || !d_.Copy(at, raw, 16)) return false;
    g->Data1 = std::uint32_t(raw[0]) | (std::uint32_t(raw[1]) << 8) | (std::uint32_t(raw[2]) << 16) | (std::uint32_t(raw[3]) << 24);
    g->Data2 = std::uint16_t(raw[4] | (raw[5] << 8));
    g->Data3 = std::uint16_t(raw[6] | (raw[7] << 8));
    std::memcpy(g->Data4, raw + 8, 8);
    return true;
}

HRESULT MsftSource::GetLibrary(LibraryData* out) {
    *out = LibraryData();
    if (h_[2] >= 0 && !Guid(h_[2], &out->guid)) return TYPE_E_INVDATAREAD;
    out->lcid = LCID(h_[4]);
    std::uint32_t syskind = std::uint32_t(h_[5]) & 0xF;
    if (syskind > SYS_WIN64) return TYPE_E_INVDATAREAD;
    out->syskind = SYSKIND(syskind);
    out->majorVersion = WORD(std::uint32_t(h_[6]) & 0xFFFF);
    out->minorVersion = WORD(std::uint32_t(h_[6]) >> 16);
    out->flags = WORD(std::uint32_t(h_[7]) | LIBFLAG_FHASDISKIMAGE);
    out->byteSize = bytes_.size();
    out->name = Name(h_[14]);
    out->doc = String(h_[9]);
    out->helpContext = DWORD(h_[11]);
    out->helpStringContext = DWORD(h_[10]);
    out->helpFile = String(h_[15]);
    if (h_[19] != -1) {
        out->hasDispatchRef = true;
        out->dispatchRef = HREFTYPE(h_[19]);
    }
    return S_OK;
}

bool MsftSource::TypeRecord(std::uint32_t index, std::size_t* at) const {
    std::int32_t off;
    return index < typeCount_ && d_.I32(typeOffsets_ + std::size_t(index) * 4, &off) &&
           Seg(kTypeInfoTab, off, kTypeInfoSize, at);
}

bool MsftSource::MemberBlock(std::uint32_t index, std::uint32_t count, Members* m) const {
    std::size_t at;
    std::int32_t memOffset, infoLen;
    if (!TypeRecord(index, &at) || !d_.I32(at + 4, &memOffset) || memOffset < 0) return false;
    if (!d_.I32(std::size_t(memOffset), &infoLen) || infoLen < 0) return false;
    m->records = std::size_t(memOffset) + 4;
    m->arrays = m->records + std::size_t(infoLen);
    m->count = count;
    return d_.Has(m->arrays, std::size_t(count) * 12);
}

// Record k of a member block: where it starts and its length (at least the fixed part).
bool MsftSource::Record(const Members& m, std::uint32_t k, std::size_t* at, std::size_t* len) const {
    std::int32_t off;
    std::uint32_t info;
    if (k >= m.count || !d_.I32(m.arrays + (std::size_t(m.count) * 2 + k) * 4, &off) || off < 0) return false;
    *at = m.records + std::size_t(off);
    if (!d_.U32(*at, &info)) return false;
    *len = info & 0xFFFF;
    return d_.Has(*at, *len);
}

// A type description: negative values are a base type in place, others an offset into the
// type description table.
bool MsftSource::DecodeType(std::int32_t enc, TypeTree* t, int depth, std::uint32_t* node) const {
    if (depth > kMaxTypeDepth) return false;
    TypeNode n;
    if (enc < 0) {
        n.vt = VARTYPE(std::uint32_t(enc) & VT_TYPEMASK);
        if (n.vt == VT_PTR || n.vt == VT_SAFEARRAY || n.vt == VT_CARRAY || n.vt == VT_USERDEFINED) return false;
        *node = t->Add(n);
        return true;
    }
    std::size_t at;
    std::uint16_t vt;
    std::int32_t value;
    if (!Seg(kTypeDescTab, enc, 8, &at) || !d_.U16(at, &vt) || !d_.I32(at + 4, &value)) return false;
    n.vt = VARTYPE(vt & VT_TYPEMASK);
    switch (n.vt) {
    case VT_PTR:
    case VT_SAFEARRAY: {
        std::uint32_t child;
        if (!DecodeType(value, t, depth + 1, &child)) return false;
        n.child = child;
        break;
    }
    case VT_CARRAY: {
        std::size_t a;
        std::int32_t elem;
        std::uint16_t dims;
        if (!Seg(kArrayDescTab, value, 8, &a) || !d_.I32(a, &elem) || !d_.U16(a + 4, &dims)) return false;
        std::size_t b;
        if (!Seg(kArrayDescTab, std::int64_t(value) + 8, std::size_t(dims) * 8, &b)) return false;
        std::uint32_t child;
        if (!DecodeType(elem, t, depth + 1, &child)) return false;
        n.child = child;
        n.dims = dims;
        n.firstBound = std::uint32_t(t->bounds.size());
        for (std::uint16_t i = 0; i < dims; ++i) {
            SAFEARRAYBOUND sb;
            std::int32_t lower;
            d_.U32(b + std::size_t(i) * 8, &sb.cElements);
            d_.I32(b + std::size_t(i) * 8 + 4, &lower);
            sb.lLbound = lower;
            t->bounds.push_back(sb);
        }
        break;
    }
    case VT_USERDEFINED:
        n.href = HREFTYPE(value);
        break;
    default:
        break;
    }
    *node = t->Add(n);
    return true;
}

// A constant or default value: negative values hold a small integer and its type in place,
// others are an offset into the custom data segment (a type word, then the data).
bool MsftSource::DecodeValue(std::int32_t enc, ValueData* out) const {
    VARIANT& v = out->v;
    VariantInit(&v);
    out->text = {};
    if (enc < 0) {
        std::uint32_t u = std::uint32_t(enc);
        VARTYPE vt = VARTYPE((u & 0x7C000000u) >> 26);
        std::uint32_t x = u & 0x03FFFFFFu;
        switch (vt) {
        case VT_I2: v.iVal = SHORT(x); break;
        case VT_UI2: v.uiVal = USHORT(x); break;
        case VT_BOOL: v.boolVal = VARIANT_BOOL(x); break;
        case VT_I1: v.cVal = CHAR(x); break;
        case VT_UI1: v.bVal = BYTE(x); break;
        case VT_R4: v.fltVal = float(x); break;
        case VT_R8: v.dblVal = double(x); break;
        case VT_I8: v.llVal = x; break;
        case VT_UI8: v.ullVal = x; break;
        case VT_BSTR: out->text = {}; break;
        default: v.ulVal = x; break;
        }
        v.vt = vt;
        return true;
    }
    std::size_t at;
    std::uint16_t vt;
    if (!Seg(kCustData, enc, 2, &at) || !d_.U16(at, &vt)) return false;
    std::size_t size = 0;
    switch (vt) {
    case VT_EMPTY: case VT_NULL:
        break;
    case VT_I2: case VT_I4: case VT_R4: case VT_ERROR: case VT_BOOL: case VT_I1: case VT_UI1: case VT_UI2:
    case VT_UI4: case VT_INT: case VT_UINT: case VT_HRESULT:
        size = 4;
        break;
    case VT_R8: case VT_CY: case VT_DATE: case VT_I8: case VT_UI8:
        size = 8;
        break;
    case VT_DECIMAL: {
        std::size_t p;
        if (!Seg(kCustData, std::int64_t(enc) + 2, 14, &p)) return false;
        std::uint8_t raw[14];
        d_.Copy(p, raw, 14);
        v.decVal.scale = raw[0];
        v.decVal.sign = raw[1];
        std::memcpy(&v.decVal.Hi32, raw + 2, 4);
        std::memcpy(&v.decVal.Lo64, raw + 6, 8);
        v.vt = VT_DECIMAL;
        return true;
    }
    case VT_BSTR: {
        std::size_t p;
        std::int32_t len;
        if (!Seg(kCustData, std::int64_t(enc) + 2, 4, &p) || !d_.I32(p, &len)) return false;
        v.vt = VT_BSTR;
        if (len == -1) return true;  // a null string
        if (len < 0 || !Seg(kCustData, std::int64_t(enc) + 6, std::size_t(len), &p)) return false;
        d_.View(p, std::size_t(len), &out->text);
        return true;
    }
    default:
        v.vt = vt;  // a kind whose data this reader does not take
        return true;
    }
    if (size) {
        std::size_t p;
        if (!Seg(kCustData, std::int64_t(enc) + 2, size, &p)) return false;
        std::uint8_t raw[8] = {};
        d_.Copy(p, raw, size);
        std::memcpy(&v.llVal, raw, 8);
    }
    v.vt = vt;
    return true;
}

HRESULT MsftSource::GetType(std::uint32_t index, TypeData* out) {
    *out = TypeData();
    std::size_t at;
    if (!TypeRecord(index, &at)) return TYPE_E_INVDATAREAD;
    std::int32_t f[25];
    for (int i = 0; i < 25; ++i) d_.I32(at + std::size_t(i) * 4, &f[i]);
    std::uint32_t kind = std::uint32_t(f[0]) & 0xF;
    if (kind >= TKIND_MAX) return TYPE_E_INVDATAREAD;
    out->kind = TYPEKIND(kind);
    out->cbAlignment = WORD((std::uint32_t(f[0]) >> 11) & 0x1F);
    out->cFuncs = WORD(std::uint32_t(f[6]) & 0xFFFF);
    out->cVars = WORD(std::uint32_t(f[6]) >> 16);
    if (f[11] >= 0 && !Guid(f[11], &out->guid)) return TYPE_E_INVDATAREAD;
    out->flags = WORD(std::uint32_t(f[12]) & 0xFFFF);
    out->name = Name(f[13]);
    out->majorVersion = WORD(std::uint32_t(f[14]) & 0xFFFF);
    out->minorVersion = WORD(std::uint32_t(f[14]) >> 16);
    out->doc = String(f[15]);
    out->helpStringContext = DWORD(f[16]);
    out->helpContext = DWORD(f[17]);
    std::uint32_t implCount = std::uint32_t(f[19]) & 0xFFFF;
    out->cbSizeVft = WORD(std::uint32_t(f[19]) >> 16);
    out->cbSizeInstance = ULONG(f[20]);
    std::int32_t dataType1 = f[21];
    out->lcid = LCID(h_[4]);

    switch (out->kind) {
    case TKIND_COCLASS: {
        // Implemented interfaces: a chain of reference records, at most as many as the
        // segment holds. A chain that comes back to a record it has been through ends there.
        std::int32_t next = dataType1;
        const std::size_t room = seg_[kRefTab].len / 16;
        std::int32_t highest = -1;  // records at rising offsets cannot repeat one
        std::unordered_set<std::int32_t> seen;
        for (std::uint32_t i = 0; i < implCount && i < room && next != -1; ++i) {
            if (next <= highest) {
                if (seen.empty())
                    for (const ImplData& impl : out->impls) seen.insert(std::int32_t(impl.sourceData));
                if (!seen.insert(next).second) break;
            } else {
                highest = next;
                if (!seen.empty()) seen.insert(next);
            }
            std::size_t r;
            std::int32_t ref, flags;
            if (!Seg(kRefTab, next, 16, &r)) return TYPE_E_INVDATAREAD;
            d_.I32(r, &ref);
            d_.I32(r + 4, &flags);
            out->impls.push_back({HREFTYPE(ref), INT(flags), std::uint32_t(next)});
            d_.I32(r + 12, &next);
        }
        break;
    }
    case TKIND_DISPATCH:
        if (out->flags & TYPEFLAG_FDUAL) {
            // Stored as the dispatch interface, described here by its interface side.
            out->dual = true;
            out->kind = TKIND_INTERFACE;
            if (implCount && dataType1 != -1) out->impls.push_back({HREFTYPE(dataType1), 0});
        } else if (implCount && dataType1 != -1) {
            out->hasDispatchOf = true;
            out->dispatchOf = HREFTYPE(dataType1);
        } else if (implCount && h_[19] != -1) {
            out->impls.push_back({HREFTYPE(h_[19]), 0});
        }
        break;
    case TKIND_INTERFACE:
        if (implCount && dataType1 != -1) out->impls.push_back({HREFTYPE(dataType1), 0});
        break;
    case TKIND_ALIAS:
        if (!DecodeType(dataType1, &out->aliasTypes, 0, &out->aliasType)) return TYPE_E_INVDATAREAD;
        break;
    default:
        break;
    }

    std::uint32_t count = std::uint32_t(out->cFuncs) + out->cVars;
    if (count) {
        Members m;
        if (!MemberBlock(index, count, &m)) return TYPE_E_INVDATAREAD;
        // Every member has a record of its own, one after the other in the block (that is how
        // the platform reads them), so the block must hold the fixed part of each. A type whose
        // members claim more than that shares records it cannot have, and is refused: without
        // this rule a small file could make any number of members out of one record.
        const std::uint64_t least = std::uint64_t(out->cFuncs) * kMinFuncRecord + std::uint64_t(out->cVars) * kMinVarRecord;
        if (least > m.arrays - m.records) return TYPE_E_INVDATAREAD;
        out->sourceData[0] = m.records;
        out->sourceData[1] = m.arrays;
        out->memids.resize(count);
        for (std::uint32_t k = 0; k < count; ++k) {
            std::int32_t id;
            d_.I32(m.arrays + std::size_t(k) * 4, &id);
            out->memids[k] = id;
        }
    }
    return S_OK;
}

HRESULT MsftSource::GetFunc(std::uint32_t typeIndex, const TypeData& type, std::uint32_t index, FuncData* out,
                            bool namesOnly) {
    if (index >= type.cFuncs) return TYPE_E_ELEMENTNOTFOUND;
    Members m;
    std::size_t at, len;
    if (!Cached(typeIndex, type, &m) || !Record(m, index, &at, &len) || len < kMinFuncRecord)
        return TYPE_E_INVDATAREAD;
    std::int32_t dataType, flags, fkccic, nameOff;
    std::int16_t vtableOffset, nArgs, nOptArgs;
    d_.I32(at + 4, &dataType);
    d_.I32(at + 8, &flags);
    d_.I16(at + 12, &vtableOffset);
    d_.I32(at + 16, &fkccic);
    d_.I16(at + 20, &nArgs);
    d_.I16(at + 22, &nOptArgs);
    if (nArgs < 0) return TYPE_E_INVDATAREAD;
    bool defaults = (std::uint32_t(fkccic) & kFuncHasDefaults) != 0;
    std::size_t argBytes = std::size_t(nArgs) * (defaults ? 16 : 12);
    if (argBytes > len - 24) return TYPE_E_INVDATAREAD;
    std::size_t params = at + len - std::size_t(nArgs) * 12;
    std::size_t defaultsAt = params - (defaults ? std::size_t(nArgs) * 4 : 0);
    std::size_t optional = (defaultsAt - at - 24) / 4;  // fields between the fixed part and the arguments
    auto field = [&](std::size_t i, std::int32_t fallback) {
        std::int32_t v = fallback;
        if (i < optional) d_.I32(at + 24 + i * 4, &v);
        return v;
    };

    out->memid = type.memids[index];
    d_.I32(m.arrays + (std::size_t(m.count) + index) * 4, &nameOff);
    out->name = Name(nameOff);
    out->funckind = FUNCKIND(std::uint32_t(fkccic) & 7);
    out->invkind = INVOKEKIND((std::uint32_t(fkccic) >> 3) & 0xF);
    out->callconv = CALLCONV((std::uint32_t(fkccic) >> 8) & 0xF);
    out->flags = WORD(std::uint32_t(flags) & 0xFFFF);
    out->oVft = vtableOffset;
    out->cParamsOpt = nOptArgs;
    if (!DecodeType(dataType, &out->types, 0, &out->returnType)) return TYPE_E_INVDATAREAD;
    if (!namesOnly) {
        out->helpContext = DWORD(field(0, 0));
        out->doc = String(field(1, -1));
        out->helpStringContext = DWORD(field(5, 0));
    }
    out->params.resize(std::size_t(nArgs));
    for (std::int16_t i = 0; i < nArgs; ++i) {
        ParamData& p = out->params[std::size_t(i)];
        std::size_t pi = params + std::size_t(i) * 12;
        std::int32_t pType, pName, pFlags;
        d_.I32(pi, &pType);
        d_.I32(pi + 4, &pName);
        d_.I32(pi + 8, &pFlags);
        p.flags = USHORT(std::uint32_t(pFlags) & 0xFFFF);
        p.name = Name(pName);
        if (namesOnly) continue;
        if (!DecodeType(pType, &out->types, 0, &p.type)) return TYPE_E_INVDATAREAD;
        if (defaults && (p.flags & PARAMFLAG_FHASDEFAULT)) {
            std::int32_t enc;
            d_.I32(defaultsAt + std::size_t(i) * 4, &enc);
            if (!DecodeValue(enc, &p.defaultValue)) return TYPE_E_INVDATAREAD;
            p.hasDefault = true;
        }
    }
    return S_OK;
}

HRESULT MsftSource::GetVar(std::uint32_t typeIndex, const TypeData& type, std::uint32_t index, VarData* out) {
    *out = VarData();
    if (index >= type.cVars) return TYPE_E_ELEMENTNOTFOUND;
    Members m;
    std::size_t at, len;
    std::uint32_t k = std::uint32_t(type.cFuncs) + index;
    if (!Cached(typeIndex, type, &m) || !Record(m, k, &at, &len) || len < kMinVarRecord)
        return TYPE_E_INVDATAREAD;
    std::int32_t dataType, flags, value, nameOff;
    std::uint16_t varkind;
    d_.I32(at + 4, &dataType);
    d_.I32(at + 8, &flags);
    d_.U16(at + 12, &varkind);
    d_.I32(at + 16, &value);
    std::size_t optional = (len - 20) / 4;
    auto field = [&](std::size_t i, std::int32_t fallback) {
        std::int32_t v = fallback;
        if (i < optional) d_.I32(at + 20 + i * 4, &v);
        return v;
    };
    out->memid = type.memids[k];
    d_.I32(m.arrays + (std::size_t(m.count) + k) * 4, &nameOff);
    out->name = Name(nameOff);
    out->flags = WORD(std::uint32_t(flags) & 0xFFFF);
    if (varkind > VAR_DISPATCH) return TYPE_E_INVDATAREAD;
    out->varkind = VARKIND(varkind);
    if (!DecodeType(dataType, &out->types, 0, &out->type)) return TYPE_E_INVDATAREAD;
    if (out->varkind == VAR_CONST) {
        if (!DecodeValue(value, &out->value)) return TYPE_E_INVDATAREAD;
        out->hasValue = true;
    } else {
        out->oInst = ULONG(value);
    }
    out->helpContext = DWORD(field(0, 0));
    out->doc = String(field(1, -1));
    out->helpStringContext = DWORD(field(4, 0));
    return S_OK;
}

HRESULT MsftSource::ResolveRef(HREFTYPE href, RefTarget* out) {
    *out = RefTarget();
    if (href >= 0x80000000u) return TYPE_E_ELEMENTNOTFOUND;
    if ((href & 3) == 0) {
        auto it = std::lower_bound(byOffset_.begin(), byOffset_.end(), href,
                                   [](const auto& a, std::uint32_t v) { return a.first < v; });
        if (it == byOffset_.end() || it->first != href) return TYPE_E_ELEMENTNOTFOUND;
        out->kind = RefTarget::Kind::Local;
        out->index = it->second;
        return S_OK;
    }
    std::size_t at;
    std::int32_t flags, file, guid;
    if (!Seg(kImpInfo, href & ~3u, 12, &at)) return TYPE_E_INVDATAREAD;
    d_.I32(at, &flags);
    d_.I32(at + 4, &file);
    d_.I32(at + 8, &guid);
    if (file < 0) return TYPE_E_INVDATAREAD;
    out->kind = RefTarget::Kind::Imported;
    out->import = std::uint32_t(file);
    if (std::uint32_t(flags) & kImportByGuid) {
        out->byGuid = true;
        if (!Guid(guid, &out->guid)) return TYPE_E_INVDATAREAD;
    } else {
        if (guid < 0) return TYPE_E_INVDATAREAD;
        out->index = std::uint32_t(guid);
    }
    return S_OK;
}

HRESULT MsftSource::GetImport(std::uint32_t key, ImportData* out) {
    *out = ImportData();
    std::size_t at;
    std::int32_t guid, lcid, version;
    std::uint16_t nameLen;
    if (key > 0x7FFFFFFFu || !Seg(kImpFiles, key, 14, &at)) return TYPE_E_INVDATAREAD;
    d_.I32(at, &guid);
    d_.I32(at + 4, &lcid);
    d_.I32(at + 8, &version);
    d_.U16(at + 12, &nameLen);
    if (!Guid(guid, &out->guid)) return TYPE_E_INVDATAREAD;
    out->lcid = LCID(lcid);
    out->majorVersion = WORD(std::uint32_t(version) & 0xFFFF);
    out->minorVersion = WORD(std::uint32_t(version) >> 16);
    std::size_t n = nameLen >> 2;
    if (!Seg(kImpFiles, std::int64_t(key) + 14, n, &at)) return TYPE_E_INVDATAREAD;
    d_.View(at, n, &out->fileName);
    return S_OK;
}

HRESULT MsftSource::ImportKeys(std::vector<std::uint32_t>* out) {
    // The import records follow each other, each padded to four bytes.
    out->clear();
    std::size_t len = seg_[kImpFiles].len;
    std::size_t off = 0;
    while (len >= 14 && off <= len - 14) {
        std::size_t at;
        std::uint16_t nameLen;
        if (!Seg(kImpFiles, std::int64_t(off), 14, &at) || !d_.U16(at + 12, &nameLen)) return TYPE_E_INVDATAREAD;
        std::size_t n = nameLen >> 2;
        if (n > len - off - 14) return TYPE_E_INVDATAREAD;
        out->push_back(std::uint32_t(off));
        off = (off + 14 + n + 3) & ~std::size_t(3);
    }
    return S_OK;
}

bool MsftSource::CustList(std::int32_t off, std::vector<CustItem>* out) const {
    // Entries of (GUID offset, value offset, next entry), at most as many as the segment holds.
    std::size_t limit = seg_[kCdGuids].len / 12 + 1;
    while (off != -1) {
        std::size_t at;
        std::int32_t guid, value, next;
        if (limit-- == 0 || !Seg(kCdGuids, off, 12, &at)) return false;
        d_.I32(at, &guid);
        d_.I32(at + 4, &value);
        d_.I32(at + 8, &next);
        CustItem item;
        if (!Guid(guid, &item.guid) || !DecodeValue(value, &item.value)) return false;
        out->push_back(item);
        off = next;
    }
    return true;
}

bool MsftSource::FuncRecordFields(const TypeData& type, std::uint32_t typeIndex, std::uint32_t index,
                                  FuncFields* f) const {
    Members m;
    std::size_t at, len;
    if (index >= type.cFuncs || !Cached(typeIndex, type, &m) || !Record(m, index, &at, &len) || len < 24)
        return false;
    std::int32_t fkccic;
    std::int16_t nArgs;
    d_.I32(at + 16, &fkccic);
    d_.I16(at + 20, &nArgs);
    if (nArgs < 0) return false;
    bool defaults = (std::uint32_t(fkccic) & kFuncHasDefaults) != 0;
    std::size_t argBytes = std::size_t(nArgs) * (defaults ? 16 : 12);
    if (argBytes > len - 24) return false;
    f->at = at + 24;
    f->count = (len - 24 - argBytes) / 4;
    f->fkccic = std::uint32_t(fkccic);
    f->nArgs = std::uint32_t(nArgs);
    return true;
}

HRESULT MsftSource::GetCustData(const CustOwner& owner, std::vector<CustItem>* out) {
    out->clear();
    std::int32_t list = -1;
    switch (owner.kind) {
    case CustOwner::Kind::Library:
        list = h_[16];
        break;
    case CustOwner::Kind::Type: {
        std::size_t at;
        if (!TypeRecord(owner.typeIndex, &at) || !d_.I32(at + 18 * 4, &list)) return TYPE_E_INVDATAREAD;
        break;
    }
    case CustOwner::Kind::Func:
    case CustOwner::Kind::Param: {
        FuncFields f;
        if (owner.index >= owner.type->cFuncs) return TYPE_E_ELEMENTNOTFOUND;
        if (owner.kind == CustOwner::Kind::Param) {
            if (!FuncRecordFields(*owner.type, owner.typeIndex, owner.index, &f)) return TYPE_E_INVDATAREAD;
            if (owner.param >= f.nArgs) return TYPE_E_ELEMENTNOTFOUND;
        } else if (!FuncRecordFields(*owner.type, owner.typeIndex, owner.index, &f)) {
            return TYPE_E_INVDATAREAD;
        }
        // Custom data is recorded only when the function says so (0x80 of its flag word).
        std::size_t field = owner.kind == CustOwner::Kind::Func ? 6 : 7 + std::size_t(owner.param);
        if ((f.fkccic & 0x80) && field < f.count) d_.I32(f.at + field * 4, &list);
        break;
    }
    case CustOwner::Kind::Var: {
        if (owner.index >= owner.type->cVars) return TYPE_E_ELEMENTNOTFOUND;
        Members m;
        std::size_t at, len;
        if (!Cached(owner.typeIndex, *owner.type, &m) || !Record(m, owner.type->cFuncs + owner.index, &at, &len) ||
            len < 20)
            return TYPE_E_INVDATAREAD;
        if ((len - 20) / 4 > 3) d_.I32(at + 20 + 3 * 4, &list);
        break;
    }
    case CustOwner::Kind::ImplType: {
        // Only a coclass's implemented types have records of their own.
        if (owner.type->kind != TKIND_COCLASS) {
            if (owner.index >= owner.type->impls.size()) return TYPE_E_ELEMENTNOTFOUND;
            break;
        }
        // The item's reference record, as the type's chain found it.
        std::size_t r;
        if (owner.index >= owner.type->impls.size()) return TYPE_E_ELEMENTNOTFOUND;
        if (!Seg(kRefTab, std::int32_t(owner.type->impls[owner.index].sourceData), 16, &r))
            return TYPE_E_INVDATAREAD;
        d_.I32(r + 8, &list);
        break;
    }
    }
    if (!CustList(list, out)) {
        out->clear();
        return TYPE_E_INVDATAREAD;
    }
    return S_OK;
}

HRESULT MsftSource::GetDllEntry(std::uint32_t typeIndex, const TypeData& type, std::uint32_t index,
                                DllEntryData* out) {
    *out = DllEntryData();
    if (index >= type.cFuncs) return TYPE_E_ELEMENTNOTFOUND;
    std::size_t at;
    std::int32_t dll;
    if (!TypeRecord(typeIndex, &at) || !d_.I32(at + 21 * 4, &dll)) return TYPE_E_INVDATAREAD;
    out->dllName = String(dll);
    FuncFields f;
    if (!FuncRecordFields(type, typeIndex, index, &f)) return TYPE_E_INVDATAREAD;
    if (f.count > 2) {
        std::int32_t entry;
        d_.I32(f.at + 2 * 4, &entry);
        if (f.fkccic & 0x2000) {
            // An ordinal in place of the name.
            out->byOrdinal = true;
            out->ordinal = WORD(std::uint32_t(entry) & 0xFFFF);
        } else {
            out->entryName = String(entry);
        }
    }
    return S_OK;
}

}  // namespace

HRESULT OpenMsftSource(std::vector<std::uint8_t>& bytes, std::unique_ptr<LibrarySource>* out) {
    auto src = std::make_unique<MsftSource>(std::move(bytes));
    HRESULT hr = src->Open();
    if (FAILED(hr)) return hr;
    *out = std::move(src);
    return S_OK;
}

bool IsMsft(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= 4 && bytes[0] == 'M' && bytes[1] == 'S' && bytes[2] == 'F' && bytes[3] == 'T';
}

}  // namespace tlb
