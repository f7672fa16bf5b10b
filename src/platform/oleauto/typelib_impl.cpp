// The generic ITypeLib / ITypeInfo over a LibrarySource: builds the blocks handed out, resolves
// type references (also into imported libraries) and makes the dispatch view of dual interfaces.
#include "platform/oleauto/bundled.h"
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/typelib_load.h"
#include "platform/oleauto/typelib_source.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <new>
#include <unordered_map>
#include <utility>

namespace tlb {
namespace {

// The other side of a dual interface, relative to the type asked.
constexpr HREFTYPE kTwinHref = 0xFFFFFFFEu;
// References into other libraries (inherited functions of a dual interface), by slot.
constexpr HREFTYPE kForeignBase = 0x80000000u;
constexpr std::uint32_t kMaxForeign = 0x7FFF0000u;
// Inheritance chains longer than this are treated as damaged (or cyclic).
constexpr int kMaxInheritance = 64;
// Imported libraries loading their own imports, at most this deep while resolving one reference.
constexpr int kMaxImportDepth = 16;

thread_local int g_importDepth = 0;

// Library text: UTF-8 when the bytes are valid UTF-8, otherwise the Windows code page 1252 that
// libraries made on Windows use.
bool IsValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        std::size_t extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 4;
        if (extra == 4 || b == 0xC0 || b == 0xC1 || b > 0xF4 || extra >= s.size() - i) {
            if (extra != 0) return false;
        }
        for (std::size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

BSTR TextToBstr(std::string_view text) {
    if (!text.data() || text.size() > 0x3FFFFFF0u) return nullptr;
    static const char16_t k1252[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    BSTR b = SysAllocStringLen(nullptr, UINT(text.size()));
    if (!b) return nullptr;
    bool ascii = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) ascii = false;
        b[i] = (c >= 0x80 && c < 0xA0) ? k1252[c - 0x80] : char16_t(c);
    }
    if (!ascii && IsValidUtf8(text)) {
        SysFreeString(b);
        return SysAllocStringUtf8(text);
    }
    return b;
}

class Library;
struct Entry;

enum class View { Listed, Interface };

class TypeInfo final : public ITypeInfo2 {
public:
    TypeInfo(Entry* e, View v) : entry_(e), view_(v) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetTypeAttr(TYPEATTR** ppTypeAttr) override;
    HRESULT GetTypeComp(ITypeComp** ppTComp) override {
        if (ppTComp) *ppTComp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override;
    HRESULT GetVarDesc(UINT index, VARDESC** ppVarDesc) override;
    HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) override;
    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override;
    HRESULT GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override;
    HRESULT GetIDsOfNames(LPOLESTR*, UINT, MEMBERID*) override { return E_NOTIMPL; }
    HRESULT Invoke(PVOID, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                             BSTR* pBstrHelpFile) override;
    HRESULT GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
                        WORD* pwOrdinal) override;
    HRESULT GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOTIMPL;
    }
    HRESULT CreateInstance(IUnknown*, REFIID, PVOID* ppvObj) override {
        if (ppvObj) *ppvObj = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetMops(MEMBERID, BSTR* pBstrMops) override {
        if (pBstrMops) *pBstrMops = nullptr;
        return S_OK;
    }
    HRESULT GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
    void ReleaseTypeAttr(TYPEATTR* pTypeAttr) override { std::free(pTypeAttr); }
    void ReleaseFuncDesc(FUNCDESC* pFuncDesc) override;
    void ReleaseVarDesc(VARDESC* pVarDesc) override;

    // ITypeInfo2
    HRESULT GetTypeKind(TYPEKIND* pTypeKind) override;
    HRESULT GetTypeFlags(ULONG* pTypeFlags) override;
    HRESULT GetFuncIndexOfMemId(MEMBERID memid, INVOKEKIND invKind, UINT* pFuncIndex) override;
    HRESULT GetVarIndexOfMemId(MEMBERID memid, UINT* pVarIndex) override;
    HRESULT GetCustData(REFGUID guid, VARIANT* pVarVal) override {
        return OneCust(CustOwner::Kind::Type, 0, 0, guid, pVarVal);
    }
    HRESULT GetFuncCustData(UINT index, REFGUID guid, VARIANT* pVarVal) override {
        return OneCust(CustOwner::Kind::Func, index, 0, guid, pVarVal);
    }
    HRESULT GetParamCustData(UINT indexFunc, UINT indexParam, REFGUID guid, VARIANT* pVarVal) override {
        return OneCust(CustOwner::Kind::Param, indexFunc, indexParam, guid, pVarVal);
    }
    HRESULT GetVarCustData(UINT index, REFGUID guid, VARIANT* pVarVal) override {
        return OneCust(CustOwner::Kind::Var, index, 0, guid, pVarVal);
    }
    HRESULT GetImplTypeCustData(UINT index, REFGUID guid, VARIANT* pVarVal) override {
        return OneCust(CustOwner::Kind::ImplType, index, 0, guid, pVarVal);
    }
    HRESULT GetDocumentation2(MEMBERID memid, LCID lcid, BSTR* pbstrHelpString, DWORD* pdwHelpStringContext,
                              BSTR* pbstrHelpStringDll) override;
    HRESULT GetAllCustData(CUSTDATA* pCustData) override { return AllCust(CustOwner::Kind::Type, 0, 0, pCustData); }
    HRESULT GetAllFuncCustData(UINT index, CUSTDATA* pCustData) override {
        return AllCust(CustOwner::Kind::Func, index, 0, pCustData);
    }
    HRESULT GetAllParamCustData(UINT indexFunc, UINT indexParam, CUSTDATA* pCustData) override {
        return AllCust(CustOwner::Kind::Param, indexFunc, indexParam, pCustData);
    }
    HRESULT GetAllVarCustData(UINT index, CUSTDATA* pCustData) override {
        return AllCust(CustOwner::Kind::Var, index, 0, pCustData);
    }
    HRESULT GetAllImplTypeCustData(UINT index, CUSTDATA* pCustData) override {
        return AllCust(CustOwner::Kind::ImplType, index, 0, pCustData);
    }

private:
    // The custom data of this view's item, asked of the library that holds it.
    HRESULT CustFor(CustOwner::Kind kind, UINT index, UINT param, std::vector<CustItem>* out);
    HRESULT OneCust(CustOwner::Kind kind, UINT index, UINT param, REFGUID guid, VARIANT* v);
    HRESULT AllCust(CustOwner::Kind kind, UINT index, UINT param, CUSTDATA* c);

    // The dispatch view of a dual interface, built from the interface chain.
    bool IsDispatchView() const;
    // Finds a member by id in the view's index: its position, and how many of the
    // positions are functions (the rest are variables).
    bool FindMember(bool dispatchView, MEMBERID memid, std::uint32_t* at, std::uint32_t* funcs);
    // The texts of the type (MEMBERID_NIL) or of a member, and the library whose help file
    // applies to them.
    struct MemberTexts {
        std::string_view name, doc;
        DWORD helpContext = 0, helpStringContext = 0;
        Library* owner = nullptr;
    };
    HRESULT GetMemberTexts(MEMBERID memid, MemberTexts* out);
    // A dispatch view or a dispatch interface whose only implemented type is IDispatch.
    bool ImplementsDispatchOnly() const;

    Entry* entry_;
    View view_;
};

// A function of a dual interface's dispatch view: function `index` of the interface side of
// `owner` (which may belong to an imported library).
struct DispFunc {
    Entry* owner;
    std::uint32_t index;
    bool convert;  // an interface's function, shown in dispatch form
};

// Members of a view by member id: an open-addressing table of positions, where the first
// (lowest) position of each id is kept.
struct ViewIndex {
    std::vector<MEMBERID> own;         // the ids by position when the view has its own list
    const std::vector<MEMBERID>* ids = &own;  // by position: functions, then variables
    std::vector<std::uint32_t> slots;  // position + 1; 0 is empty

    static std::uint32_t Hash(MEMBERID id) { return std::uint32_t(id) * 0x9E3779B1u; }

    void Build(const std::vector<MEMBERID>* memids) {
        ids = memids;
        const std::vector<MEMBERID>& m = *ids;
        std::size_t size = 8;
        while (size < m.size() * 2) size *= 2;
        slots.assign(size, 0);
        const std::uint32_t mask = std::uint32_t(size - 1);
        for (std::uint32_t i = 0; i < m.size(); ++i) {
            std::uint32_t h = Hash(m[i]) & mask;
            while (slots[h] && m[slots[h] - 1] != m[i]) h = (h + 1) & mask;
            if (!slots[h]) slots[h] = i + 1;
        }
    }
    bool Find(MEMBERID memid, std::uint32_t* at) const {
        if (slots.empty()) return false;
        const std::uint32_t mask = std::uint32_t(slots.size() - 1);
        for (std::uint32_t h = Hash(memid) & mask; slots[h]; h = (h + 1) & mask) {
            if ((*ids)[slots[h] - 1] == memid) {
                *at = slots[h] - 1;
                return true;
            }
        }
        return false;
    }
};

struct Entry {
    Entry(Library* l, std::uint32_t i) : lib(l), index(i), listed(this, View::Listed), iface(this, View::Interface) {}

    Library* lib;
    std::uint32_t index;
    TypeData data;
    ViewIndex byMemid;             // functions then variables of the source's description
    bool indexed = false;
    bool dispBuilt = false;
    std::vector<DispFunc> disp;    // dual interfaces: the dispatch view's functions
    HRESULT dispStatus = S_OK;     // why an inherited interface of the chain cannot be reached
    ViewIndex dispByMemid;         // disp, then the variables
    bool hasDispatchImpl = false;  // IDispatch as found in the interface chain
    HREFTYPE dispatchImpl = 0;
    TypeInfo listed;
    TypeInfo iface;
};

class Library final : public ITypeLib2, public ITypeLibImports {
public:
    Library(std::unique_ptr<LibrarySource> src, std::string path, int resource)
        : serial_(++serials_), src_(std::move(src)), path_(std::move(path)), resource_(resource) {}

    HRESULT Init() {
        HRESULT hr = src_->GetLibrary(&lib_);
        if (FAILED(hr)) return hr;
        budget_ = lib_.byteSize ? lib_.byteSize + 65536 : std::size_t(1) << 24;
        entries_.resize(src_->TypeCount());
        return S_OK;
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITypeLib || riid == IID_ITypeLib2) {
            *ppv = static_cast<ITypeLib2*>(this);
            AddRef();
            return S_OK;
        }
        if (riid == IID_ITypeLibImports) {
            *ppv = static_cast<ITypeLibImports*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG r = --refs_;
        if (r == 0) delete this;
        return r;
    }

    UINT GetTypeInfoCount() override { return UINT(entries_.size()); }
    HRESULT GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override {
        if (!ppTInfo) return E_INVALIDARG;
        *ppTInfo = nullptr;
        Entry* e;
        HRESULT hr = EntryAt(index, &e);
        if (FAILED(hr)) return hr;
        *ppTInfo = &e->listed;
        e->listed.AddRef();
        return S_OK;
    }
    HRESULT GetTypeInfoType(UINT index, TYPEKIND* pTKind) override {
        if (!pTKind) return E_INVALIDARG;
        Entry* e;
        HRESULT hr = EntryAt(index, &e);
        if (FAILED(hr)) return hr;
        *pTKind = e->data.dual ? TKIND_DISPATCH : e->data.kind;
        return S_OK;
    }
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override {
        if (!ppTinfo) return E_INVALIDARG;
        *ppTinfo = nullptr;
        std::uint32_t index;
        if (!FindGuid(guid, &index)) return TYPE_E_ELEMENTNOTFOUND;
        return GetTypeInfo(index, ppTinfo);
    }
    HRESULT GetLibAttr(TLIBATTR** ppTLibAttr) override {
        if (!ppTLibAttr) return E_INVALIDARG;
        auto* a = static_cast<TLIBATTR*>(std::calloc(1, sizeof(TLIBATTR)));
        if (!a) return E_OUTOFMEMORY;
        a->guid = lib_.guid;
        a->lcid = lib_.lcid;
        a->syskind = lib_.syskind;
        a->wMajorVerNum = lib_.majorVersion;
        a->wMinorVerNum = lib_.minorVersion;
        a->wLibFlags = lib_.flags;
        *ppTLibAttr = a;
        return S_OK;
    }
    HRESULT GetTypeComp(ITypeComp** ppTComp) override {
        if (ppTComp) *ppTComp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                             BSTR* pBstrHelpFile) override {
        if (pBstrName) *pBstrName = nullptr;
        if (pBstrDocString) *pBstrDocString = nullptr;
        if (pdwHelpContext) *pdwHelpContext = 0;
        if (pBstrHelpFile) *pBstrHelpFile = nullptr;
        if (index == -1) return GiveDoc(lib_.name, lib_.doc, lib_.helpContext, pBstrName, pBstrDocString, pdwHelpContext, pBstrHelpFile);
        if (index < 0) return TYPE_E_ELEMENTNOTFOUND;
        Entry* e;
        HRESULT hr = EntryAt(UINT(index), &e);
        if (FAILED(hr)) return hr;
        return GiveDoc(e->data.name, e->data.doc, e->data.helpContext, pBstrName, pBstrDocString, pdwHelpContext, pBstrHelpFile);
    }
    HRESULT IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName) override {
        if (!szNameBuf || !pfName) return E_INVALIDARG;
        *pfName = FALSE;
        if (!namesRead_) {
            namesRead_ = true;
            namesStatus_ = ReadNames();
        }
        if (FAILED(namesStatus_)) return namesStatus_;
        const std::string key = Utf16ToUtf8(szNameBuf);
        auto it = names_.find(key);
        if (it == names_.end()) return S_OK;
        BSTR spelled = TextToBstr(it->second);
        if (!spelled) return E_OUTOFMEMORY;
        const std::size_t n = std::char_traits<char16_t>::length(szNameBuf);
        if (SysStringLen(spelled) == n) std::copy(spelled, spelled + n, szNameBuf);
        SysFreeString(spelled);
        *pfName = TRUE;
        return S_OK;
    }
    HRESULT FindName(LPOLESTR, ULONG, ITypeInfo**, MEMBERID*, USHORT* pcFound) override {
        if (pcFound) *pcFound = 0;
        return E_NOTIMPL;
    }
    void ReleaseTLibAttr(TLIBATTR* pTLibAttr) override { std::free(pTLibAttr); }

    // ITypeLib2
    HRESULT GetCustData(REFGUID guid, VARIANT* pVarVal) override;
    HRESULT GetLibStatistics(ULONG* pcUniqueNames, ULONG* pcchUniqueNames) override {
        if (pcUniqueNames) *pcUniqueNames = 0;
        if (pcchUniqueNames) *pcchUniqueNames = 0;
        return E_NOTIMPL;
    }
    HRESULT GetDocumentation2(INT index, LCID, BSTR* pbstrHelpString, DWORD* pdwHelpStringContext,
                              BSTR* pbstrHelpStringDll) override {
        if (pbstrHelpString) *pbstrHelpString = nullptr;
        if (pdwHelpStringContext) *pdwHelpStringContext = 0;
        if (pbstrHelpStringDll) *pbstrHelpStringDll = nullptr;
        std::string_view doc;
        DWORD context = 0;
        if (index == -1) {
            doc = lib_.doc;
            context = lib_.helpStringContext;
        } else {
            if (index < 0) return TYPE_E_ELEMENTNOTFOUND;
            Entry* e;
            HRESULT hr = EntryAt(UINT(index), &e);
            if (FAILED(hr)) return hr;
            doc = e->data.doc;
            context = e->data.helpStringContext;
        }
        if (pbstrHelpString) *pbstrHelpString = TextToBstr(doc);
        if (pdwHelpStringContext) *pdwHelpStringContext = context;
        return S_OK;
    }
    HRESULT GetAllCustData(CUSTDATA* pCustData) override;

    // ITypeLibImports
    UINT GetImportCount() override {
        ListImports();
        return UINT(importKeys_.size());
    }
    HRESULT GetImport(UINT index, GUID* pGuid, WORD* pwMajorVerNum, WORD* pwMinorVerNum, LCID* pLcid,
                      BSTR* pbstrRecordedName, BSTR* pbstrPath) override;

    // ---- for the type infos -----------------------------------------------------------------

    LibrarySource& Source() { return *src_; }
    // Unique for the life of the process (an address may be reused, this is not).
    std::uint64_t Serial() const { return serial_; }
    const LibraryData& Data() const { return lib_; }
    ULONG PointerSize() const { return lib_.syskind == SYS_WIN64 ? 8 : 4; }

    // The type's entry, decoded on first use.
    HRESULT EntryAt(std::uint32_t index, Entry** out) {
        *out = nullptr;
        if (index >= entries_.size()) return TYPE_E_ELEMENTNOTFOUND;
        EntrySlot& s = entries_[index];
        if (!s.tried) {
            s.tried = true;
            auto e = std::make_unique<Entry>(this, index);
            s.status = src_->GetType(index, &e->data);
            if (SUCCEEDED(s.status) && e->data.memids.size() != std::size_t(e->data.cFuncs) + e->data.cVars)
                s.status = TYPE_E_INVDATAREAD;
            if (SUCCEEDED(s.status) &&
                !Spend(e->data.memids.size() + e->data.impls.size() + e->data.aliasTypes.nodes.size() + 1))
                s.status = TYPE_E_INVDATAREAD;
            if (SUCCEEDED(s.status)) s.entry = std::move(e);
        }
        if (FAILED(s.status)) return s.status;
        *out = s.entry.get();
        return S_OK;
    }

    // Keeps what decoded types hold in proportion to the library's size: a damaged library can
    // make many types claim the same large tables, a sound one does not.
    bool Spend(std::size_t units) {
        if (units > budget_ - spent_) return false;
        spent_ += units;
        return true;
    }

    // Where a reference of this library's leads: the entry (possibly in another library) and the
    // view it is reached as.
    HRESULT Resolve(HREFTYPE href, Entry** out) {
        *out = nullptr;
        if (href >= kForeignBase && href != kTwinHref) {
            std::uint32_t slot = href - kForeignBase;
            if (slot >= foreign_.size()) return TYPE_E_ELEMENTNOTFOUND;
            if (foreign_[slot].second == kTwinHref) return foreign_[slot].first->EntryAt(foreignEntries_[slot], out);
            return foreign_[slot].first->Resolve(foreign_[slot].second, out);
        }
        RefTarget t;
        HRESULT hr = src_->ResolveRef(href, &t);
        if (FAILED(hr)) return hr;
        if (t.kind == RefTarget::Kind::Local) return EntryAt(t.index, out);
        Library* other;
        hr = Import(t.import, &other);
        if (FAILED(hr)) return hr;
        std::uint32_t index = t.index;
        if (t.byGuid && !other->FindGuid(t.guid, &index)) return TYPE_E_ELEMENTNOTFOUND;
        return other->EntryAt(index, out);
    }

    // This library's name for a reference of another library.
    HREFTYPE ForeignHref(Library* other, HREFTYPE href) {
        if (other == this) return href;
        return Slot(other, href, 0);
    }
    // A name for an entry of any library, this one included.
    HREFTYPE EntryHref(Entry* e);

    bool FindGuid(const GUID& guid, std::uint32_t* index) {
        if (!guidIndexed_) {
            guidIndexed_ = true;
            for (std::uint32_t i = 0; i < entries_.size(); ++i) {
                Entry* e;
                if (SUCCEEDED(EntryAt(i, &e))) guidIndex_.emplace_back(e->data.guid, i);
            }
            std::stable_sort(guidIndex_.begin(), guidIndex_.end(),
                             [](const auto& a, const auto& b) { return std::memcmp(&a.first, &b.first, sizeof(GUID)) < 0; });
        }
        auto it = std::lower_bound(guidIndex_.begin(), guidIndex_.end(), guid,
                                   [](const auto& a, const GUID& g) { return std::memcmp(&a.first, &g, sizeof(GUID)) < 0; });
        if (it == guidIndex_.end() || it->first != guid) return false;
        *index = it->second;
        return true;
    }

    static HRESULT GiveDoc(std::string_view name, std::string_view doc, DWORD helpContext, BSTR* pName, BSTR* pDoc,
                           DWORD* pContext, BSTR* pHelpFile, std::string_view helpFile) {
        if (pName) *pName = TextToBstr(name);
        if (pDoc) *pDoc = TextToBstr(doc);
        if (pContext) *pContext = helpContext;
        if (pHelpFile) *pHelpFile = TextToBstr(helpFile);
        return S_OK;
    }
    HRESULT GiveDoc(std::string_view name, std::string_view doc, DWORD helpContext, BSTR* pName, BSTR* pDoc,
                    DWORD* pContext, BSTR* pHelpFile) {
        return GiveDoc(name, doc, helpContext, pName, pDoc, pContext, pHelpFile, lib_.helpFile);
    }

private:
    ~Library() = default;

    // Names compared with the ASCII letters folded, as the name table keeps them.
    struct FoldedHash {
        std::size_t operator()(std::string_view s) const {
            std::size_t h = 1469598103934665603ull;
            for (char c : s) h = (h ^ std::size_t(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c)) * 1099511628211ull;
            return h;
        }
    };
    struct FoldedEqual {
        bool operator()(std::string_view a, std::string_view b) const {
            if (a.size() != b.size()) return false;
            for (std::size_t i = 0; i < a.size(); ++i) {
                char x = a[i], y = b[i];
                if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
                if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
                if (x != y) return false;
            }
            return true;
        }
    };
    // The name table, keyed by each name as UTF-8 (the first of names that differ in case only).
    HRESULT ReadNames() {
        std::vector<std::string_view> names;
        HRESULT hr = src_->Names(&names);
        if (FAILED(hr)) return hr;
        names_.reserve(names.size());
        for (std::string_view v : names) {
            std::string_view key = v;
            if (std::any_of(v.begin(), v.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
                BSTR b = TextToBstr(v);
                if (!b) continue;
                convertedNames_.push_back(Utf16ToUtf8(b));
                SysFreeString(b);
                key = convertedNames_.back();
            }
            names_.emplace(key, v);
        }
        return S_OK;
    }
    bool namesRead_ = false;
    HRESULT namesStatus_ = S_OK;
    std::deque<std::string> convertedNames_;
    std::unordered_map<std::string_view, std::string_view, FoldedHash, FoldedEqual> names_;

    struct EntrySlot {
        bool tried = false;
        HRESULT status = S_OK;
        std::unique_ptr<Entry> entry;
    };
    struct ImportSlot {
        bool tried = false;
        HRESULT status = S_OK;
        ComPtr<ITypeLib> lib;
        bool self = false;  // the import is this library's own file
    };

    // A slot of the table of references into other libraries: (library, its href), or
    // (library, kTwinHref) with the entry index in foreignEntries_.
    HREFTYPE Slot(Library* other, HREFTYPE href, std::uint32_t entryIndex) {
        auto key = std::make_pair(other, href == kTwinHref ? kTwinHref - 1 - entryIndex : href);
        auto it = foreignIndex_.find(key);
        if (it != foreignIndex_.end()) return kForeignBase + it->second;
        if (foreign_.size() >= kMaxForeign) return kTwinHref - 1;  // resolves to nothing
        std::uint32_t slot = std::uint32_t(foreign_.size());
        foreign_.emplace_back(other, href);
        foreignEntries_.push_back(entryIndex);
        foreignIndex_.emplace(key, slot);
        return kForeignBase + slot;
    }

    HRESULT Import(std::uint32_t key, Library** out);
    // Where an import's file is: registered first, then beside this library's file, then the
    // copy shipped with the program.
    bool FindImportFile(const ImportData& imp, std::string* host, int* resource, bool* beside = nullptr);
    void ListImports() {
        if (importsListed_) return;
        importsListed_ = true;
        if (FAILED(src_->ImportKeys(&importKeys_))) importKeys_.clear();
    }

    // Atomic: libraries are loaded on worker threads too, and serials must stay unique.
    static inline std::atomic<std::uint64_t> serials_{0};
    ULONG refs_ = 0;
    std::uint64_t serial_;
    std::size_t budget_ = 0, spent_ = 0;
    std::unique_ptr<LibrarySource> src_;
    std::string path_;
    int resource_;
    LibraryData lib_;
    // Imported libraries by file (and resource): every reference to one file shares one load.
    std::map<std::pair<std::string, int>, ComPtr<ITypeLib>> byFile_;
    std::vector<EntrySlot> entries_;
    std::map<std::uint32_t, ImportSlot> imports_;
    std::vector<std::pair<Library*, HREFTYPE>> foreign_;
    std::vector<std::uint32_t> foreignEntries_;
    std::map<std::pair<Library*, HREFTYPE>, std::uint32_t> foreignIndex_;
    std::vector<std::pair<GUID, std::uint32_t>> guidIndex_;
    bool guidIndexed_ = false;
    std::vector<std::uint32_t> importKeys_;
    bool importsListed_ = false;
};

// ---- imports ----------------------------------------------------------------------------------

// The file name an import recorded, without folder and without a "\N" resource suffix.
std::string ImportFileName(std::string_view recorded, int* resource) {
    *resource = 0;
    std::size_t slash = recorded.find_last_of("\\/");
    if (slash != std::string_view::npos && slash + 1 < recorded.size()) {
        std::string_view tail = recorded.substr(slash + 1);
        if (tail.size() <= 5 && std::all_of(tail.begin(), tail.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            *resource = std::atoi(std::string(tail).c_str());
            recorded = recorded.substr(0, slash);
            slash = recorded.find_last_of("\\/");
        }
    }
    if (slash != std::string_view::npos) recorded = recorded.substr(slash + 1);
    return std::string(recorded);
}

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

bool SameNameFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

// The file `name` in `dir`, matched exactly or else without regard to ASCII letter case.
std::string FindBeside(const std::filesystem::path& dir, const std::string& name) {
    std::error_code ec;
    std::filesystem::path exact = dir / name;
    if (std::filesystem::is_regular_file(exact, ec)) return exact.string();
    std::filesystem::directory_iterator it(dir, ec), end;
    int budget = 100000;  // a folder of this size is searched no further
    for (; !ec && it != end && budget-- > 0; it.increment(ec)) {
        std::string candidate = it->path().filename().string();
        if (SameNameFolded(candidate, name) && it->is_regular_file(ec)) return it->path().string();
    }
    return std::string();
}

// A file's name for comparing: its canonical path (the path itself when that fails).
std::string Canonical(const std::string& path) {
    std::error_code ec;
    std::string c = std::filesystem::weakly_canonical(std::filesystem::path(path), ec).string();
    return ec || c.empty() ? path : c;
}

// A library loaded by the file name its importer recorded is registered by that load, as the
// platform does: QueryPathOfRegTypeLib finds it from then on.
void Remember(ITypeLib* lib, const std::string& host, int resource) {
    TLIBATTR* attr = nullptr;
    if (FAILED(lib->GetLibAttr(&attr)) || !attr) return;
    std::error_code ec;
    std::string path = std::filesystem::absolute(host, ec).string();
    if (ec || path.empty()) path = host;
    RememberLoadedLibrary(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                          resource > 1 ? path + "\\" + std::to_string(resource) : path);
    lib->ReleaseTLibAttr(attr);
}

bool Library::FindImportFile(const ImportData& imp, std::string* host, int* resource, bool* beside) {
    *resource = 0;
    if (beside) *beside = false;
    host->clear();
    BStr regPath;
    if (QueryPathOfRegTypeLib(imp.guid, imp.majorVersion, imp.minorVersion, imp.lcid, regPath.Put()) == S_OK &&
        !regPath.IsNull() && HostFileOfPath(regPath.Utf8(), host, resource))
        return true;
    if (!path_.empty()) {
        std::string name = ImportFileName(imp.fileName, resource);
        if (!name.empty()) *host = FindBeside(std::filesystem::path(path_).parent_path(), name);
        if (beside) *beside = !host->empty();
        if (!host->empty()) return true;
    }
    // Last, the copy that ships with the program.
    *resource = 0;
    *host = BundledLibraryFile(imp.guid, imp.majorVersion, imp.minorVersion);
    return !host->empty();
}

HRESULT Library::GetImport(UINT index, GUID* pGuid, WORD* pwMajorVerNum, WORD* pwMinorVerNum, LCID* pLcid,
                           BSTR* pbstrRecordedName, BSTR* pbstrPath) {
    if (pGuid) *pGuid = GUID{};
    if (pwMajorVerNum) *pwMajorVerNum = 0;
    if (pwMinorVerNum) *pwMinorVerNum = 0;
    if (pLcid) *pLcid = 0;
    if (pbstrRecordedName) *pbstrRecordedName = nullptr;
    if (pbstrPath) *pbstrPath = nullptr;
    ListImports();
    if (index >= importKeys_.size()) return TYPE_E_ELEMENTNOTFOUND;
    ImportData imp;
    HRESULT hr = src_->GetImport(importKeys_[index], &imp);
    if (FAILED(hr)) return hr;
    if (pGuid) *pGuid = imp.guid;
    if (pwMajorVerNum) *pwMajorVerNum = imp.majorVersion;
    if (pwMinorVerNum) *pwMinorVerNum = imp.minorVersion;
    if (pLcid) *pLcid = imp.lcid;
    if (pbstrRecordedName) *pbstrRecordedName = TextToBstr(imp.fileName.data() ? imp.fileName : std::string_view(""));
    if (!pbstrPath) return S_OK;
    std::string host;
    int resource = 0;
    if (!FindImportFile(imp, &host, &resource)) return S_FALSE;
    if (resource > 1) host += "\\" + std::to_string(resource);
    *pbstrPath = SysAllocStringUtf8(host);
    return S_OK;
}

HRESULT Library::Import(std::uint32_t key, Library** out) {
    *out = nullptr;
    ImportSlot& s = imports_[key];
    if (!s.tried) {
        s.tried = true;
        s.status = TYPE_E_CANTLOADLIBRARY;
        ImportData imp;
        HRESULT hr = src_->GetImport(key, &imp);
        if (FAILED(hr)) {
            s.status = hr;
        } else if (g_importDepth >= kMaxImportDepth) {
            s.tried = false;  // may succeed when asked from less deep
        } else {
            std::string host;
            int resource = 0;
            bool beside = false;
            bool found = FindImportFile(imp, &host, &resource, &beside);
            if (found) {
                auto file = std::make_pair(Canonical(host), resource <= 1 ? 0 : resource);
                auto self = std::make_pair(path_.empty() ? std::string() : Canonical(path_), resource_ <= 1 ? 0 : resource_);
                if (file == self) {
                    s.self = true;
                    s.status = S_OK;
                } else if (auto it = byFile_.find(file); it != byFile_.end()) {
                    s.lib = it->second;
                    s.status = S_OK;
                } else {
                    ++g_importDepth;
                    s.status = LoadTypeLibFromHostFile(host, resource, s.lib.Put());
                    --g_importDepth;
                    if (s.lib) {
                        byFile_.emplace(file, s.lib);
                        if (beside) Remember(s.lib.Get(), host, resource);
                    }
                }
            }
        }
    }
    if (s.self) {
        *out = this;
        return S_OK;
    }
    if (!s.lib) return FAILED(s.status) ? s.status : TYPE_E_CANTLOADLIBRARY;
    Library* other = dynamic_cast<Library*>(s.lib.Get());
    if (!other) return TYPE_E_CANTLOADLIBRARY;
    *out = other;
    return S_OK;
}

// ---- blocks handed out ------------------------------------------------------------------------

// One allocation holding a description and everything it points to.
class Block {
public:
    void Reserve(std::size_t bytes) { size_ += Round(bytes); }
    // Zeroed, unless the caller sets every field itself.
    bool Allocate(bool zero = true) {
        std::size_t n = size_ ? size_ : 8;
        base_ = static_cast<char*>(zero ? std::calloc(1, n) : std::malloc(n));
        return base_ != nullptr;
    }
    template <class T>
    T* Take(std::size_t bytes = sizeof(T)) {
        T* p = reinterpret_cast<T*>(base_ + used_);
        used_ += Round(bytes);
        return p;
    }
    char* Base() const { return base_; }

private:
    static std::size_t Round(std::size_t n) { return (n + 15) & ~std::size_t(15); }
    char* base_ = nullptr;
    std::size_t size_ = 0;
    std::size_t used_ = 0;
};

std::size_t ArrayDescBytes(std::size_t dims) {
    return offsetof(ARRAYDESC, rgbounds) + std::max<std::size_t>(dims, 1) * sizeof(SAFEARRAYBOUND);
}

// Space the nodes below `node` need (the node itself is embedded in its parent).
bool MeasureType(const TypeTree& t, std::uint32_t node, int depth, Block* b) {
    if (node >= t.nodes.size() || depth > kMaxTypeDepth) return false;
    const TypeNode& n = t.nodes[node];
    switch (n.vt) {
    case VT_PTR:
    case VT_SAFEARRAY:
        b->Reserve(sizeof(TYPEDESC));
        return MeasureType(t, n.child, depth + 1, b);
    case VT_CARRAY:
        if (std::size_t(n.firstBound) + n.dims > t.bounds.size()) return false;
        b->Reserve(ArrayDescBytes(n.dims));
        return MeasureType(t, n.child, depth + 1, b);
    default:
        return true;
    }
}

void FillType(const TypeTree& t, std::uint32_t node, TYPEDESC* out, Block* b) {
    const TypeNode& n = t.nodes[node];
    out->vt = n.vt;
    switch (n.vt) {
    case VT_PTR:
    case VT_SAFEARRAY:
        out->lptdesc = b->Take<TYPEDESC>();
        FillType(t, n.child, out->lptdesc, b);
        break;
    case VT_CARRAY: {
        ARRAYDESC* a = b->Take<ARRAYDESC>(ArrayDescBytes(n.dims));
        a->cDims = n.dims;
        for (std::uint16_t i = 0; i < n.dims; ++i) a->rgbounds[i] = t.bounds[n.firstBound + i];
        FillType(t, n.child, &a->tdescElem, b);
        out->lpadesc = a;
        break;
    }
    case VT_USERDEFINED:
        out->lptdesc = nullptr;
        out->hreftype = n.href;
        break;
    default:
        out->lptdesc = nullptr;
        break;
    }
}

void ClearParamDesc(ELEMDESC* e, USHORT flags) {
    e->paramdesc.pparamdescex = nullptr;
    e->paramdesc.wParamFlags = flags;
}

// A VARIANT as handed out: strings become BSTRs; kinds that would carry a pointer carry none.
void FillValue(const ValueData& value, VARIANT* out) {
    *out = value.v;
    switch (out->vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_ERROR: case VT_BOOL: case VT_DECIMAL: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8:
    case VT_UI8: case VT_INT: case VT_UINT: case VT_HRESULT:
        break;
    case VT_BSTR:
        out->bstrVal = TextToBstr(value.text);
        break;
    default: {
        VARTYPE vt = out->vt;
        VariantInit(out);
        out->vt = vt;
        break;
    }
    }
}

HRESULT BuildFuncDesc(const FuncData& f, FUNCDESC** out) {
    Block b;
    b.Reserve(sizeof(FUNCDESC));
    b.Reserve(sizeof(ELEMDESC) * f.params.size());
    if (!MeasureType(f.types, f.returnType, 0, &b)) return TYPE_E_INVDATAREAD;
    for (const ParamData& p : f.params) {
        if (!MeasureType(f.types, p.type, 0, &b)) return TYPE_E_INVDATAREAD;
        if (p.hasDefault && (p.flags & PARAMFLAG_FHASDEFAULT)) b.Reserve(sizeof(PARAMDESCEX));
    }
    if (f.params.size() > 0x7FFF) return TYPE_E_INVDATAREAD;
    if (!b.Allocate(false)) return E_OUTOFMEMORY;
    auto* fd = b.Take<FUNCDESC>();
    fd->memid = f.memid;
    fd->lprgscode = nullptr;
    fd->lprgelemdescParam = nullptr;
    fd->funckind = f.funckind;
    fd->invkind = f.invkind;
    fd->callconv = f.callconv;
    fd->cParams = SHORT(f.params.size());
    fd->cParamsOpt = f.cParamsOpt;
    fd->oVft = f.oVft;
    fd->cScodes = 0;
    fd->wFuncFlags = f.flags;
    FillType(f.types, f.returnType, &fd->elemdescFunc.tdesc, &b);
    ClearParamDesc(&fd->elemdescFunc, 0);
    if (!f.params.empty()) {
        fd->lprgelemdescParam = b.Take<ELEMDESC>(sizeof(ELEMDESC) * f.params.size());
        for (std::size_t i = 0; i < f.params.size(); ++i) {
            const ParamData& p = f.params[i];
            ELEMDESC& e = fd->lprgelemdescParam[i];
            FillType(f.types, p.type, &e.tdesc, &b);
            ClearParamDesc(&e, p.flags);
            if (p.hasDefault && (p.flags & PARAMFLAG_FHASDEFAULT)) {
                auto* ex = b.Take<PARAMDESCEX>();
                ex->cBytes = sizeof(PARAMDESCEX);
                FillValue(p.defaultValue, &ex->varDefaultValue);
                e.paramdesc.pparamdescex = ex;
            }
        }
    }
    *out = fd;
    return S_OK;
}

// A function of a dual interface as its dispatch view shows it.
void ToDispatchForm(FuncData* f) {
    f->funckind = FUNC_DISPATCH;
    f->callconv = CC_STDCALL;
    f->oVft = 0;
    // Locale parameters are supplied by the dispatch machinery, not by the caller.
    f->params.erase(std::remove_if(f->params.begin(), f->params.end(),
                                   [](const ParamData& p) { return (p.flags & PARAMFLAG_FLCID) != 0; }),
                    f->params.end());
    if (f->returnType < f->types.nodes.size() && f->types.nodes[f->returnType].vt == VT_HRESULT) {
        std::uint32_t result = kNoNode;
        if (!f->params.empty() && (f->params.back().flags & PARAMFLAG_FRETVAL)) {
            std::uint32_t p = f->params.back().type;
            if (p < f->types.nodes.size() && f->types.nodes[p].vt == VT_PTR) result = f->types.nodes[p].child;
            f->params.pop_back();
        }
        if (result == kNoNode) {
            TypeNode v;
            v.vt = VT_VOID;
            result = f->types.Add(v);
        }
        f->returnType = result;
    }
    if (f->cParamsOpt > SHORT(f->params.size())) f->cParamsOpt = SHORT(f->params.size());
}

// ---- TypeInfo ---------------------------------------------------------------------------------

HRESULT TypeInfo::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeInfo || riid == IID_ITypeInfo2) {
        *ppv = static_cast<ITypeInfo2*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

// A type info lives as long as its library; references to it count on the library.
ULONG TypeInfo::AddRef() { return entry_->lib->AddRef(); }
ULONG TypeInfo::Release() { return entry_->lib->Release(); }

bool TypeInfo::IsDispatchView() const {
    return view_ == View::Listed && (entry_->data.dual || entry_->data.hasDispatchOf);
}

bool TypeInfo::ImplementsDispatchOnly() const {
    const TypeData& d = entry_->data;
    return IsDispatchView() || (view_ == View::Listed && d.kind == TKIND_DISPATCH && d.impls.empty());
}

// The dispatch view's function list: the functions of every interface of the chain, the root's
// first. When a part of the chain cannot be reached (an import not found) the view has no
// functions to give.
void BuildDispatchView(Entry* e) {
    if (e->dispBuilt) return;
    e->dispBuilt = true;
    std::vector<Entry*> chain;
    Entry* at = nullptr;
    // Each element's referrer: the library and the reference that reached it.
    Library* fromLib = e->lib;
    HREFTYPE fromHref = 0;
    if (e->data.dual) {
        at = e;
    } else if (FAILED(e->lib->Resolve(e->data.dispatchOf, &at)) || at->data.kind != TKIND_INTERFACE) {
        at = nullptr;
    } else {
        fromHref = e->data.dispatchOf;
    }
    while (at) {
        chain.push_back(at);
        if (at != e && !e->hasDispatchImpl && at->data.guid == IID_IDispatch) {
            e->hasDispatchImpl = true;
            e->dispatchImpl = e->lib->ForeignHref(fromLib, fromHref);
        }
        if (chain.size() >= std::size_t(kMaxInheritance) || at->data.impls.empty()) break;
        Entry* base;
        HRESULT hr = at->lib->Resolve(at->data.impls[0].href, &base);
        if (FAILED(hr)) {
            e->dispStatus = hr;
            break;
        }
        if (std::find(chain.begin(), chain.end(), base) != chain.end()) break;  // cyclic
        if (base->data.kind != TKIND_INTERFACE) break;
        fromLib = at->lib;
        fromHref = at->data.impls[0].href;
        at = base;
    }
    std::size_t total = e->data.dual ? 0 : e->data.cFuncs;
    for (Entry* c : chain) total += c->data.cFuncs;
    total = std::min<std::size_t>(total, 0xFFFF);
    if (!e->lib->Spend(total)) {
        e->dispStatus = TYPE_E_INVDATAREAD;
        return;
    }
    e->disp.reserve(total);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        for (std::uint32_t i = 0; i < (*it)->data.cFuncs && e->disp.size() < total; ++i)
            e->disp.push_back({*it, i, true});
    if (!e->data.dual)
        for (std::uint32_t i = 0; i < e->data.cFuncs && e->disp.size() < total; ++i) e->disp.push_back({e, i, false});
    std::vector<MEMBERID>& ids = e->dispByMemid.own;
    ids.reserve(e->disp.size() + e->data.cVars);
    for (const DispFunc& d : e->disp) ids.push_back(d.owner->data.memids[d.index]);
    for (std::uint32_t i = 0; i < e->data.cVars; ++i) ids.push_back(e->data.memids[e->data.cFuncs + i]);
    e->dispByMemid.Build(&e->dispByMemid.own);
}

void BuildMemidIndex(Entry* e) {
    if (e->indexed) return;
    e->indexed = true;
    e->byMemid.Build(&e->data.memids);
}

// Function `index` of the view, in the form it shows, with references named for `self`.
HRESULT ViewFuncUncached(Entry* self, bool dispatchView, std::uint32_t index, FuncData* f, bool namesOnly) {
    f->Clear();
    if (!dispatchView) {
        if (index >= self->data.cFuncs) return TYPE_E_ELEMENTNOTFOUND;
        return self->lib->Source().GetFunc(self->index, self->data, index, f, namesOnly);
    }
    BuildDispatchView(self);
    if (FAILED(self->dispStatus)) return self->dispStatus;
    if (index >= self->disp.size()) return TYPE_E_ELEMENTNOTFOUND;
    const DispFunc& d = self->disp[index];
    HRESULT hr = d.owner->lib->Source().GetFunc(d.owner->index, d.owner->data, d.index, f, namesOnly);
    if (FAILED(hr)) return hr;
    if (d.owner->lib != self->lib)
        for (TypeNode& n : f->types.nodes)
            if (n.vt == VT_USERDEFINED) n.href = self->lib->ForeignHref(d.owner->lib, n.href);
    if (d.convert) ToDispatchForm(f);
    return S_OK;
}

// The function last decoded into t_func: callers mostly ask for the names or the documentation
// of the function they just fetched.
thread_local FuncData t_func;
thread_local struct {
    bool valid = false;
    bool full = false;
    std::uint64_t library = 0;
    std::uint32_t type = 0;
    bool dispatchView = false;
    std::uint32_t index = 0;
} t_last;

// Function `index` of the view into t_func.
HRESULT ViewFunc(Entry* self, bool dispatchView, std::uint32_t index, bool namesOnly) {
    if (t_last.valid && (t_last.full || namesOnly) && t_last.library == self->lib->Serial() &&
        t_last.type == self->index && t_last.dispatchView == dispatchView && t_last.index == index)
        return S_OK;
    t_last.valid = false;
    HRESULT hr = ViewFuncUncached(self, dispatchView, index, &t_func, namesOnly);
    if (FAILED(hr)) return hr;
    t_last.valid = true;
    t_last.full = !namesOnly;
    t_last.library = self->lib->Serial();
    t_last.type = self->index;
    t_last.dispatchView = dispatchView;
    t_last.index = index;
    return S_OK;
}

HREFTYPE Library::EntryHref(Entry* e) { return Slot(e->lib, kTwinHref, e->index); }

HRESULT TypeInfo::GetTypeAttr(TYPEATTR** ppTypeAttr) {
    if (!ppTypeAttr) return E_INVALIDARG;
    *ppTypeAttr = nullptr;
    const TypeData& d = entry_->data;
    Block b;
    b.Reserve(sizeof(TYPEATTR));
    bool alias = d.kind == TKIND_ALIAS && d.aliasType != kNoNode;
    if (alias && !MeasureType(d.aliasTypes, d.aliasType, 0, &b)) return TYPE_E_INVDATAREAD;
    if (!b.Allocate()) return E_OUTOFMEMORY;
    auto* a = b.Take<TYPEATTR>();
    a->guid = d.guid;
    a->lcid = d.lcid;
    a->memidConstructor = MEMBERID_NIL;
    a->memidDestructor = MEMBERID_NIL;
    a->cbSizeInstance = d.cbSizeInstance;
    a->typekind = d.kind;
    a->cFuncs = d.cFuncs;
    a->cVars = d.cVars;
    a->cImplTypes = WORD(d.impls.size());
    a->cbSizeVft = d.cbSizeVft;
    a->cbAlignment = d.cbAlignment;
    a->wTypeFlags = d.flags;
    a->wMajorVerNum = d.majorVersion;
    a->wMinorVerNum = d.minorVersion;
    if (IsDispatchView()) {
        BuildDispatchView(entry_);
        ULONG ptr = entry_->lib->PointerSize();
        a->typekind = TKIND_DISPATCH;
        a->cFuncs = WORD(entry_->disp.size());
        // Without its inherited part the view still counts the whole vtable, and none of its
        // functions can be read, as the platform does.
        if (FAILED(entry_->dispStatus)) a->cFuncs = WORD(std::max<ULONG>(d.cFuncs, d.cbSizeVft / ptr));
        a->cImplTypes = 1;
        a->cbSizeVft = WORD(7 * ptr);
        a->cbSizeInstance = ptr;
        if (d.dual) a->wTypeFlags = WORD(d.flags & ~TYPEFLAG_FOLEAUTOMATION);
    }
    if (ImplementsDispatchOnly()) a->cImplTypes = 1;
    if (alias) FillType(d.aliasTypes, d.aliasType, &a->tdescAlias, &b);
    *ppTypeAttr = a;
    return S_OK;
}

HRESULT TypeInfo::GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) {
    if (!ppFuncDesc) return E_INVALIDARG;
    *ppFuncDesc = nullptr;
    FuncData& f = t_func;
    bool dispatchView = IsDispatchView();
    HRESULT hr = ViewFunc(entry_, dispatchView, index, false);
    if (FAILED(hr)) return hr;
    return BuildFuncDesc(f, ppFuncDesc);
}

void TypeInfo::ReleaseFuncDesc(FUNCDESC* fd) {
    if (!fd) return;
    for (SHORT i = 0; i < fd->cParams; ++i) {
        PARAMDESC& p = fd->lprgelemdescParam[i].paramdesc;
        if ((p.wParamFlags & PARAMFLAG_FHASDEFAULT) && p.pparamdescex) VariantClear(&p.pparamdescex->varDefaultValue);
    }
    std::free(fd);
}

HRESULT TypeInfo::GetVarDesc(UINT index, VARDESC** ppVarDesc) {
    if (!ppVarDesc) return E_INVALIDARG;
    *ppVarDesc = nullptr;
    const TypeData& d = entry_->data;
    if (index >= d.cVars) return TYPE_E_ELEMENTNOTFOUND;
    VarData v;
    HRESULT hr = entry_->lib->Source().GetVar(entry_->index, d, index, &v);
    if (FAILED(hr)) return hr;
    Block b;
    b.Reserve(sizeof(VARDESC));
    if (!MeasureType(v.types, v.type, 0, &b)) return TYPE_E_INVDATAREAD;
    bool constant = v.varkind == VAR_CONST && v.hasValue;
    if (constant) b.Reserve(sizeof(VARIANT));
    if (!b.Allocate()) return E_OUTOFMEMORY;
    auto* vd = b.Take<VARDESC>();
    vd->memid = v.memid;
    vd->varkind = v.varkind;
    vd->wVarFlags = v.flags;
    FillType(v.types, v.type, &vd->elemdescVar.tdesc, &b);
    if (constant) {
        vd->lpvarValue = b.Take<VARIANT>();
        FillValue(v.value, vd->lpvarValue);
    } else if (v.varkind != VAR_CONST) {
        vd->oInst = v.oInst;
    }
    *ppVarDesc = vd;
    return S_OK;
}

void TypeInfo::ReleaseVarDesc(VARDESC* vd) {
    if (!vd) return;
    if (vd->varkind == VAR_CONST && vd->lpvarValue) VariantClear(vd->lpvarValue);
    std::free(vd);
}

bool TypeInfo::FindMember(bool dispatchView, MEMBERID memid, std::uint32_t* at, std::uint32_t* funcs) {
    if (dispatchView) {
        BuildDispatchView(entry_);
        *funcs = std::uint32_t(entry_->disp.size());
        return entry_->dispByMemid.Find(memid, at);
    }
    BuildMemidIndex(entry_);
    *funcs = entry_->data.cFuncs;
    return entry_->byMemid.Find(memid, at);
}

HRESULT TypeInfo::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) {
    if (!pcNames || (!rgBstrNames && cMaxNames)) return E_INVALIDARG;
    *pcNames = 0;
    bool dispatchView = IsDispatchView();
    const TypeData& d = entry_->data;
    std::uint32_t at;
    std::uint32_t funcs;
    if (!FindMember(dispatchView, memid, &at, &funcs)) return TYPE_E_ELEMENTNOTFOUND;
    if (at < funcs) {
        FuncData& f = t_func;
        HRESULT hr = ViewFunc(entry_, dispatchView, at, true);
        if (FAILED(hr)) return hr;
        UINT n = 0;
        if (n < cMaxNames) rgBstrNames[n++] = TextToBstr(f.name);
        for (const ParamData& p : f.params) {
            if (n >= cMaxNames || !p.name.data()) break;
            rgBstrNames[n++] = TextToBstr(p.name);
        }
        *pcNames = n;
        return S_OK;
    }
    VarData v;
    HRESULT hr = entry_->lib->Source().GetVar(entry_->index, d, at - funcs, &v);
    if (FAILED(hr)) return hr;
    if (cMaxNames) {
        rgBstrNames[0] = TextToBstr(v.name);
        *pcNames = 1;
    }
    return S_OK;
}

// IDispatch as a dispatch interface implements it: the library's own reference to it, else
// where the interface chain reaches it, else a type of the library with its GUID.
HRESULT DispatchImplHref(Entry* e, HREFTYPE* out) {
    const LibraryData& l = e->lib->Data();
    if (l.hasDispatchRef) {
        *out = l.dispatchRef;
        return S_OK;
    }
    if (e->data.dual || e->data.hasDispatchOf) {
        BuildDispatchView(e);
        if (e->hasDispatchImpl) {
            *out = e->dispatchImpl;
            return S_OK;
        }
    }
    std::uint32_t index;
    Entry* d;
    if (e->lib->FindGuid(IID_IDispatch, &index) && SUCCEEDED(e->lib->EntryAt(index, &d))) {
        *out = e->lib->EntryHref(d);
        return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) {
    if (!pRefType) return E_INVALIDARG;
    *pRefType = 0;
    const TypeData& d = entry_->data;
    if (index == UINT(-1) && IsDispatchView() && d.dual) {
        *pRefType = kTwinHref;
        return S_OK;
    }
    if (ImplementsDispatchOnly()) return index == 0 ? DispatchImplHref(entry_, pRefType) : TYPE_E_ELEMENTNOTFOUND;
    if (index >= d.impls.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pRefType = d.impls[index].href;
    return S_OK;
}

HRESULT TypeInfo::GetImplTypeFlags(UINT index, INT* pImplTypeFlags) {
    if (!pImplTypeFlags) return E_INVALIDARG;
    *pImplTypeFlags = 0;
    const TypeData& d = entry_->data;
    if (ImplementsDispatchOnly()) return index == 0 ? S_OK : TYPE_E_ELEMENTNOTFOUND;
    if (index >= d.impls.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pImplTypeFlags = d.impls[index].flags;
    return S_OK;
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (hRefType == kTwinHref) {
        if (!entry_->data.dual) return TYPE_E_ELEMENTNOTFOUND;
        TypeInfo* other = view_ == View::Listed ? &entry_->iface : &entry_->listed;
        other->AddRef();
        *ppTInfo = other;
        return S_OK;
    }
    Entry* target;
    HRESULT hr = entry_->lib->Resolve(hRefType, &target);
    if (FAILED(hr)) return hr;
    target->listed.AddRef();
    *ppTInfo = &target->listed;
    return S_OK;
}

HRESULT TypeInfo::GetMemberTexts(MEMBERID memid, MemberTexts* out) {
    const TypeData& d = entry_->data;
    Library* lib = entry_->lib;
    out->owner = lib;
    if (memid == MEMBERID_NIL) {
        *out = {d.name, d.doc, d.helpContext, d.helpStringContext, lib};
        return S_OK;
    }
    bool dispatchView = IsDispatchView();
    std::uint32_t at;
    std::uint32_t funcs;
    if (!FindMember(dispatchView, memid, &at, &funcs)) return TYPE_E_ELEMENTNOTFOUND;
    if (at < funcs) {
        FuncData& f = t_func;
        HRESULT hr = ViewFunc(entry_, dispatchView, at, false);
        if (FAILED(hr)) return hr;
        *out = {f.name, f.doc, f.helpContext, f.helpStringContext, dispatchView ? entry_->disp[at].owner->lib : lib};
        return S_OK;
    }
    VarData v;
    HRESULT hr = lib->Source().GetVar(entry_->index, d, at - funcs, &v);
    if (FAILED(hr)) return hr;
    *out = {v.name, v.doc, v.helpContext, v.helpStringContext, lib};
    return S_OK;
}

HRESULT TypeInfo::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                   BSTR* pBstrHelpFile) {
    if (pBstrName) *pBstrName = nullptr;
    if (pBstrDocString) *pBstrDocString = nullptr;
    if (pdwHelpContext) *pdwHelpContext = 0;
    if (pBstrHelpFile) *pBstrHelpFile = nullptr;
    MemberTexts t;
    HRESULT hr = GetMemberTexts(memid, &t);
    if (FAILED(hr)) return hr;
    return Library::GiveDoc(t.name, t.doc, t.helpContext, pBstrName, pBstrDocString, pdwHelpContext, pBstrHelpFile,
                            t.owner->Data().helpFile);
}

HRESULT TypeInfo::GetTypeKind(TYPEKIND* pTypeKind) {
    if (!pTypeKind) return E_INVALIDARG;
    *pTypeKind = IsDispatchView() ? TKIND_DISPATCH : entry_->data.kind;
    return S_OK;
}

HRESULT TypeInfo::GetTypeFlags(ULONG* pTypeFlags) {
    if (!pTypeFlags) return E_INVALIDARG;
    const TypeData& d = entry_->data;
    *pTypeFlags = IsDispatchView() && d.dual ? WORD(d.flags & ~TYPEFLAG_FOLEAUTOMATION) : d.flags;
    return S_OK;
}

HRESULT TypeInfo::GetFuncIndexOfMemId(MEMBERID memid, INVOKEKIND invKind, UINT* pFuncIndex) {
    if (!pFuncIndex) return E_INVALIDARG;
    *pFuncIndex = 0;
    bool dispatchView = IsDispatchView();
    std::uint32_t count = entry_->data.cFuncs;
    if (dispatchView) {
        BuildDispatchView(entry_);
        count = std::uint32_t(entry_->disp.size());
    }
    // Property accessors share their id: the invoke kind tells them apart.
    for (std::uint32_t i = 0; i < count; ++i) {
        FUNCDESC* fd = nullptr;
        if (FAILED(GetFuncDesc(i, &fd))) continue;
        bool match = fd->memid == memid && fd->invkind == invKind;
        ReleaseFuncDesc(fd);
        if (match) {
            *pFuncIndex = i;
            return S_OK;
        }
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfo::GetVarIndexOfMemId(MEMBERID memid, UINT* pVarIndex) {
    if (!pVarIndex) return E_INVALIDARG;
    *pVarIndex = 0;
    const TypeData& d = entry_->data;
    for (std::uint32_t i = 0; i < d.cVars; ++i) {
        if (d.memids[d.cFuncs + i] == memid) {
            *pVarIndex = i;
            return S_OK;
        }
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfo::GetDocumentation2(MEMBERID memid, LCID, BSTR* pbstrHelpString, DWORD* pdwHelpStringContext,
                                    BSTR* pbstrHelpStringDll) {
    if (pbstrHelpString) *pbstrHelpString = nullptr;
    if (pdwHelpStringContext) *pdwHelpStringContext = 0;
    if (pbstrHelpStringDll) *pbstrHelpStringDll = nullptr;
    MemberTexts t;
    HRESULT hr = GetMemberTexts(memid, &t);
    if (FAILED(hr)) return hr;
    if (pbstrHelpString) *pbstrHelpString = TextToBstr(t.doc);
    if (pdwHelpStringContext) *pdwHelpStringContext = t.helpStringContext;
    return S_OK;
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
    if (ppTLib) {
        *ppTLib = entry_->lib;
        entry_->lib->AddRef();
    }
    if (pIndex) *pIndex = entry_->index;
    return S_OK;
}

// ---- custom data and module entries ---------------------------------------------------------

HRESULT GiveOneCust(const std::vector<CustItem>& items, REFGUID guid, VARIANT* v) {
    for (const CustItem& item : items)
        if (item.guid == guid) {
            FillValue(item.value, v);
            return S_OK;
        }
    return S_OK;  // no value under that GUID: VT_EMPTY
}

HRESULT GiveAllCust(const std::vector<CustItem>& items, CUSTDATA* c) {
    if (items.empty()) return S_OK;
    auto* rg = static_cast<CUSTDATAITEM*>(std::calloc(items.size(), sizeof(CUSTDATAITEM)));
    if (!rg) return E_OUTOFMEMORY;
    for (std::size_t i = 0; i < items.size(); ++i) {
        rg[i].guid = items[i].guid;
        FillValue(items[i].value, &rg[i].varValue);
    }
    c->cCustData = DWORD(items.size());
    c->prgCustData = rg;
    return S_OK;
}

HRESULT Library::GetCustData(REFGUID guid, VARIANT* pVarVal) {
    if (!pVarVal) return E_INVALIDARG;
    VariantInit(pVarVal);
    std::vector<CustItem> items;
    HRESULT hr = src_->GetCustData(CustOwner(), &items);
    if (FAILED(hr)) return hr;
    return GiveOneCust(items, guid, pVarVal);
}

HRESULT Library::GetAllCustData(CUSTDATA* pCustData) {
    if (!pCustData) return E_INVALIDARG;
    pCustData->cCustData = 0;
    pCustData->prgCustData = nullptr;
    std::vector<CustItem> items;
    HRESULT hr = src_->GetCustData(CustOwner(), &items);
    if (FAILED(hr)) return hr;
    return GiveAllCust(items, pCustData);
}

HRESULT TypeInfo::CustFor(CustOwner::Kind kind, UINT index, UINT param, std::vector<CustItem>* out) {
    out->clear();
    CustOwner o;
    o.kind = kind;
    o.typeIndex = entry_->index;
    o.type = &entry_->data;
    o.index = index;
    o.param = param;
    Library* lib = entry_->lib;
    bool dispatchView = IsDispatchView();
    switch (kind) {
    case CustOwner::Kind::Func:
    case CustOwner::Kind::Param:
        if (dispatchView) {
            // The function as the interface that declares it holds it.
            BuildDispatchView(entry_);
            if (FAILED(entry_->dispStatus)) return entry_->dispStatus;
            if (index >= entry_->disp.size()) return TYPE_E_ELEMENTNOTFOUND;
            const DispFunc& d = entry_->disp[index];
            o.typeIndex = d.owner->index;
            o.type = &d.owner->data;
            o.index = d.index;
            lib = d.owner->lib;
            if (kind == CustOwner::Kind::Param && d.convert) {
                // Its dispatch form drops the locale parameters: count the others.
                FuncData f;
                HRESULT hr = lib->Source().GetFunc(o.typeIndex, *o.type, o.index, &f, true);
                if (FAILED(hr)) return hr;
                UINT seen = 0;
                std::uint32_t at = std::uint32_t(f.params.size());
                for (std::uint32_t i = 0; i < f.params.size(); ++i) {
                    if (f.params[i].flags & PARAMFLAG_FLCID) continue;
                    if (seen++ == param) {
                        at = i;
                        break;
                    }
                }
                if (at >= f.params.size()) return TYPE_E_ELEMENTNOTFOUND;
                o.param = at;
            }
        }
        break;
    case CustOwner::Kind::ImplType:
        if (ImplementsDispatchOnly()) return index == 0 ? S_OK : TYPE_E_ELEMENTNOTFOUND;
        break;
    default:
        break;
    }
    return lib->Source().GetCustData(o, out);
}

HRESULT TypeInfo::OneCust(CustOwner::Kind kind, UINT index, UINT param, REFGUID guid, VARIANT* v) {
    if (!v) return E_INVALIDARG;
    VariantInit(v);
    std::vector<CustItem> items;
    HRESULT hr = CustFor(kind, index, param, &items);
    if (FAILED(hr)) return hr;
    return GiveOneCust(items, guid, v);
}

HRESULT TypeInfo::AllCust(CustOwner::Kind kind, UINT index, UINT param, CUSTDATA* c) {
    if (!c) return E_INVALIDARG;
    c->cCustData = 0;
    c->prgCustData = nullptr;
    std::vector<CustItem> items;
    HRESULT hr = CustFor(kind, index, param, &items);
    if (FAILED(hr)) return hr;
    return GiveAllCust(items, c);
}

HRESULT TypeInfo::GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
                              WORD* pwOrdinal) {
    if (pBstrDllName) *pBstrDllName = nullptr;
    if (pBstrName) *pBstrName = nullptr;
    if (pwOrdinal) *pwOrdinal = 0;
    const TypeData& d = entry_->data;
    if (d.kind != TKIND_MODULE) return TYPE_E_BADMODULEKIND;
    LibrarySource& src = entry_->lib->Source();
    for (std::uint32_t i = 0; i < d.cFuncs; ++i) {
        if (d.memids[i] != memid) continue;
        FuncData f;
        HRESULT hr = src.GetFunc(entry_->index, d, i, &f, true);
        if (FAILED(hr)) return hr;
        if (f.invkind != invKind) continue;
        DllEntryData e;
        hr = src.GetDllEntry(entry_->index, d, i, &e);
        if (FAILED(hr)) return hr;
        if (pBstrDllName) *pBstrDllName = TextToBstr(e.dllName);
        if (e.byOrdinal) {
            if (pwOrdinal) *pwOrdinal = e.ordinal;
        } else if (pBstrName) {
            *pBstrName = TextToBstr(e.entryName);
        }
        return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

}  // namespace

HRESULT CreateTypeLib(std::unique_ptr<LibrarySource> source, std::string hostPath, ITypeLib** pptlib, int resource) {
    *pptlib = nullptr;
    auto* lib = new (std::nothrow) Library(std::move(source), std::move(hostPath), resource);
    if (!lib) return E_OUTOFMEMORY;
    lib->AddRef();
    HRESULT hr = lib->Init();
    if (FAILED(hr)) {
        lib->Release();
        return hr;
    }
    *pptlib = lib;
    return S_OK;
}

}  // namespace tlb
