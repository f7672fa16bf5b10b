// Holders that release what the automation service hands out on every path, and the
// conversions between its UTF-16 strings and the program's UTF-8 text.
#pragma once

#include "platform/oleauto/oleauto.h"

#include <string>
#include <string_view>
#include <utility>

// A counted interface reference.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes over a reference the caller already owns.
    static ComPtr Attach(T* p) { ComPtr c; c.p_ = p; return c; }
    // Adds a reference of its own.
    explicit ComPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
    ComPtr(const ComPtr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept { std::swap(p_, o.p_); return *this; }
    ~ComPtr() { Reset(); }

    void Reset() { if (T* p = std::exchange(p_, nullptr)) p->Release(); }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out parameters: releases what is held and gives the slot.
    T** Put() { Reset(); return &p_; }
    // Gives up ownership without releasing.
    T* Detach() { return std::exchange(p_, nullptr); }

private:
    T* p_ = nullptr;
};

// An owned BSTR.
class BStr {
public:
    BStr() = default;
    explicit BStr(BSTR b) : b_(b) {}
    BStr(const BStr&) = delete;
    BStr& operator=(const BStr&) = delete;
    BStr(BStr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
    BStr& operator=(BStr&& o) noexcept { if (this != &o) { Reset(); b_ = std::exchange(o.b_, nullptr); } return *this; }
    ~BStr() { Reset(); }

    void Reset() { if (b_) SysFreeString(std::exchange(b_, nullptr)); }
    BSTR* Put() { Reset(); return &b_; }
    BSTR Get() const { return b_; }
    bool IsNull() const { return b_ == nullptr; }
    BSTR Detach() { return std::exchange(b_, nullptr); }
    std::u16string_view View() const { return b_ ? std::u16string_view(b_, SysStringLen(b_)) : std::u16string_view(); }
    std::string Utf8() const;

private:
    BSTR b_ = nullptr;
};

std::string Utf16ToUtf8(std::u16string_view s);
// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t c);
std::u16string Utf8ToUtf16(std::string_view s);
// A null BSTR reads as empty.
inline std::string BstrToUtf8(BSTR b) { return b ? Utf16ToUtf8(std::u16string_view(b, SysStringLen(b))) : std::string(); }
inline std::string BStr::Utf8() const { return BstrToUtf8(b_); }
BSTR SysAllocStringUtf8(std::string_view s);

// Registry-form GUID text, 38 characters.
std::string GuidToString(const GUID& g);
bool GuidFromString(std::string_view text, GUID* out);

// Attribute and description blocks, released through the object that gave them.
template <class Owner, class Block, void (Owner::*Release)(Block*)>
class ScopedBlock {
public:
    ScopedBlock() = default;
    ScopedBlock(const ScopedBlock&) = delete;
    ScopedBlock& operator=(const ScopedBlock&) = delete;
    ~ScopedBlock() { Reset(); }
    void Reset() {
        if (block_) (owner_.Get()->*Release)(block_);
        block_ = nullptr;
        owner_.Reset();
    }
    // Slot for the call that fills it; the owner is kept alive until release.
    Block** Put(Owner* owner) { Reset(); owner_ = ComPtr<Owner>(owner); return &block_; }
    Block* Get() const { return block_; }
    Block* operator->() const { return block_; }
    explicit operator bool() const { return block_ != nullptr; }

private:
    ComPtr<Owner> owner_;
    Block* block_ = nullptr;
};

using TypeAttrPtr = ScopedBlock<ITypeInfo, TYPEATTR, &ITypeInfo::ReleaseTypeAttr>;
using FuncDescPtr = ScopedBlock<ITypeInfo, FUNCDESC, &ITypeInfo::ReleaseFuncDesc>;
using VarDescPtr = ScopedBlock<ITypeInfo, VARDESC, &ITypeInfo::ReleaseVarDesc>;
using LibAttrPtr = ScopedBlock<ITypeLib, TLIBATTR, &ITypeLib::ReleaseTLibAttr>;
