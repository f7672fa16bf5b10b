// A hand-made ITypeInfo for event interfaces: functions with names, documentation and
// parameter types, referenced types, and switches that make single calls fail. It counts
// what it hands out so tests can check that everything comes back.
#pragma once

#include "platform/oleauto/comptr.h"

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class FakeTypeInfo : public ITypeInfo {
public:
    struct Param {
        std::optional<std::string> name;  // none: the parameter has no name
        TYPEDESC type;
    };
    struct Func {
        std::string name;
        std::string doc;
        INVOKEKIND invkind = INVOKE_FUNC;
        std::vector<Param> params;
        bool failDesc = false;
        bool failDoc = false;
        bool failNames = false;
    };

    static ComPtr<FakeTypeInfo> Create(TYPEKIND kind = TKIND_DISPATCH) {
        return ComPtr<FakeTypeInfo>::Attach(new FakeTypeInfo(kind));
    }

    // ---- building -----------------------------------------------------------------------
    Func& AddFunc(const std::string& name, std::vector<Param> params = {}, const std::string& doc = "",
                  INVOKEKIND invkind = INVOKE_FUNC) {
        funcs.push_back(Func{name, doc, invkind, std::move(params)});
        return funcs.back();
    }
    static TYPEDESC Vt(VARTYPE vt) {
        TYPEDESC t{};
        t.vt = vt;
        return t;
    }
    TYPEDESC Ptr(const TYPEDESC& inner) { return Wrap(VT_PTR, inner); }
    TYPEDESC SafeArray(const TYPEDESC& inner) { return Wrap(VT_SAFEARRAY, inner); }
    TYPEDESC CArray(const TYPEDESC& element) {
        ARRAYDESC* a = arrays_.emplace_back(std::make_unique<ARRAYDESC>()).get();
        a->tdescElem = element;
        a->cDims = 1;
        a->rgbounds[0] = {4, 0};
        TYPEDESC t{};
        t.vt = VT_CARRAY;
        t.lpadesc = a;
        return t;
    }
    // A user-defined type; without a referenced type the lookup fails.
    TYPEDESC UserDefined(HREFTYPE ref, ComPtr<FakeTypeInfo> referenced = nullptr) {
        if (referenced) refs_[ref] = referenced;
        TYPEDESC t{};
        t.vt = VT_USERDEFINED;
        t.hreftype = ref;
        return t;
    }

    std::vector<Func> funcs;
    TYPEKIND typekind;
    bool failAttr = false;
    UINT lastMaxNames = 0;

    // Blocks and references handed out and not yet given back.
    int outstandingAttrs = 0;
    int outstandingFuncDescs = 0;
    ULONG refCount() const { return count_; }

    // ---- IUnknown -----------------------------------------------------------------------
    HRESULT QueryInterface(REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++count_; }
    ULONG Release() override {
        ULONG n = --count_;
        if (n == 0) delete this;
        return n;
    }

    // ---- ITypeInfo ----------------------------------------------------------------------
    HRESULT GetTypeAttr(TYPEATTR** out) override {
        *out = nullptr;
        if (failAttr) return E_FAIL;
        auto* a = new TYPEATTR{};
        a->typekind = typekind;
        a->cFuncs = WORD(funcs.size());
        *out = a;
        ++outstandingAttrs;
        return S_OK;
    }
    void ReleaseTypeAttr(TYPEATTR* a) override {
        delete a;
        --outstandingAttrs;
    }
    HRESULT GetFuncDesc(UINT index, FUNCDESC** out) override {
        *out = nullptr;
        if (index >= funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
        const Func& f = funcs[index];
        if (f.failDesc) return E_FAIL;
        auto* d = new FUNCDESC{};
        d->memid = MemidOf(index);
        d->invkind = f.invkind;
        d->funckind = FUNC_DISPATCH;
        d->cParams = SHORT(f.params.size());
        d->lprgelemdescParam = new ELEMDESC[f.params.size()]{};
        for (size_t k = 0; k < f.params.size(); ++k) d->lprgelemdescParam[k].tdesc = f.params[k].type;
        d->elemdescFunc.tdesc.vt = VT_VOID;
        *out = d;
        ++outstandingFuncDescs;
        return S_OK;
    }
    void ReleaseFuncDesc(FUNCDESC* d) override {
        delete[] d->lprgelemdescParam;
        delete d;
        --outstandingFuncDescs;
    }
    HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* help, BSTR* helpFile) override {
        const Func* f = FuncOf(memid);
        if (!f || f->failDoc) return TYPE_E_ELEMENTNOTFOUND;
        if (name) *name = SysAllocStringUtf8(f->name);
        if (doc) *doc = f->doc.empty() ? nullptr : SysAllocStringUtf8(f->doc);
        if (help) *help = 0;
        if (helpFile) *helpFile = nullptr;
        return S_OK;
    }
    // The event's name, then its parameter names up to the first unnamed one.
    HRESULT GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) override {
        lastMaxNames = maxNames;
        *count = 0;
        const Func* f = FuncOf(memid);
        if (!f || f->failNames) return TYPE_E_ELEMENTNOTFOUND;
        if (maxNames == 0) return S_OK;
        names[(*count)++] = SysAllocStringUtf8(f->name);
        for (const Param& p : f->params) {
            if (*count >= maxNames || !p.name) break;
            names[(*count)++] = SysAllocStringUtf8(*p.name);
        }
        return S_OK;
    }
    HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** out) override {
        *out = nullptr;
        auto it = refs_.find(ref);
        if (it == refs_.end()) return TYPE_E_ELEMENTNOTFOUND;
        *out = it->second.Get();
        (*out)->AddRef();
        return S_OK;
    }

    HRESULT GetTypeComp(ITypeComp**) override { return E_NOTIMPL; }
    HRESULT GetVarDesc(UINT, VARDESC**) override { return E_NOTIMPL; }
    void ReleaseVarDesc(VARDESC*) override {}
    HRESULT GetRefTypeOfImplType(UINT, HREFTYPE*) override { return E_NOTIMPL; }
    HRESULT GetImplTypeFlags(UINT, INT*) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(LPOLESTR*, UINT, MEMBERID*) override { return E_NOTIMPL; }
    HRESULT Invoke(PVOID, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, PVOID*) override { return E_NOTIMPL; }
    HRESULT CreateInstance(IUnknown*, REFIID, PVOID*) override { return E_NOTIMPL; }
    HRESULT GetMops(MEMBERID, BSTR*) override { return E_NOTIMPL; }
    HRESULT GetContainingTypeLib(ITypeLib**, UINT*) override { return E_NOTIMPL; }

private:
    explicit FakeTypeInfo(TYPEKIND kind) : typekind(kind) {}
    ~FakeTypeInfo() override = default;

    static MEMBERID MemidOf(size_t index) { return MEMBERID(0x100 + index); }
    const Func* FuncOf(MEMBERID memid) const {
        size_t index = size_t(memid - 0x100);
        return memid >= 0x100 && index < funcs.size() ? &funcs[index] : nullptr;
    }
    TYPEDESC Wrap(VARTYPE vt, const TYPEDESC& inner) {
        TYPEDESC t{};
        t.vt = vt;
        t.lptdesc = &descs_.emplace_back(inner);
        return t;
    }

    ULONG count_ = 1;
    std::deque<TYPEDESC> descs_;
    std::vector<std::unique_ptr<ARRAYDESC>> arrays_;
    std::map<HREFTYPE, ComPtr<FakeTypeInfo>> refs_;
};
