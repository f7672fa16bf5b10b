// Reader for SLTG libraries.
//
// An SLTG file is a small container of named blocks (the streams of the compound file the
// library was once written to): one block per type and a "dir" block with the library's
// attributes, the list of types and the name table. Inside a type's block every offset counts
// from the start of its member data; names are offsets into the name table. What the platform
// reports for these files, oddities included, is what this reader gives.
#include "platform/oleauto/sltg.h"

#include "platform/oleauto/bytes.h"
#include "platform/oleauto/comptr.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tlb {
namespace {

// ---- layout -----------------------------------------------------------------------------------

constexpr std::uint32_t kHeaderSize = 0x24;          // signature, block count, block-name area size
constexpr std::uint32_t kBlockEntrySize = 8;         // length, name position, next block
constexpr std::uint32_t kBlockNamePadding = 9;       // between the block names and the first block
constexpr std::uint16_t kLibraryMagic = 0x51CC;
constexpr std::uint32_t kTypeNameHashSize = 0x40;    // between the library attributes and the types
constexpr std::uint32_t kNameTableLead = 0x218;      // from the name-table anchor to the names
constexpr std::uint32_t kHelpDictionaryLead = 0x20;  // more of it when the library has one
constexpr std::uint32_t kNameEntryPrefix = 8;        // hash and flags before each name

constexpr std::uint32_t kTypeHeaderSize = 0x22;
constexpr std::uint32_t kMemberHeaderSize = 9;
constexpr std::uint32_t kTailSize = 0x36;            // counts and offsets after the member data
constexpr std::uint32_t kRefTableCount = 0x44;       // in a reference table: 8 bytes per reference
constexpr std::uint32_t kRefTableEntries = 0x48;
constexpr std::uint32_t kRefTableNameGap = 7;        // between the entries and the reference texts

constexpr std::uint32_t kFuncItemSize = 0x16;        // + 2 when the function has flags
constexpr std::uint32_t kVarItemSize = 0x12;
constexpr std::uint32_t kImplItemSize = 0x16;
// The platform reads the bounds of a fixed-size array 0x18 bytes into its descriptor (where a
// 64-bit SAFEARRAY keeps them), not at 0x10 where the file has them; its results are ours.
constexpr std::uint32_t kArrayBoundsAt = 0x18;

constexpr std::uint16_t kNone = 0xFFFF;
constexpr std::uint16_t kNoNameTypeFollows = 0xFFFF;  // parameter without a name, type inline
constexpr std::uint16_t kNoNameTypeAt = 0xFFFE;       // parameter without a name, type elsewhere

// Type words: the low six bits are the VARTYPE, three bits mark a pointer to it, two give the
// parameter's direction.
constexpr std::uint16_t kTypeVtMask = 0x003F;
constexpr std::uint16_t kTypePointer = 0x0E00;
constexpr std::uint16_t kTypeRetval = 0x0080;
constexpr std::uint16_t kTypeLcid = 0x2000;
constexpr std::uint16_t kTypeOut = 0x4000;
constexpr std::uint16_t kTypeInOut = 0x8000;

// Function items.
constexpr std::uint8_t kFuncHasFlags = 0x20;
constexpr std::uint8_t kFuncReturnInline = 0x80;
constexpr std::uint8_t kFuncOptMask = 0x7E;

// Variable items.
constexpr std::uint8_t kVarTypeInline = 0x02;
constexpr std::uint8_t kVarValueInline = 0x08;
constexpr std::uint8_t kVarConst = 0x10;
constexpr std::uint8_t kVarDispatch = 0x40;
constexpr std::uint8_t kVarReadOnly = 0x80;

// Library attributes: a set high word in the reserved field after the locale means the library
// was written without one, and the platform reports locale 0.
constexpr std::uint32_t kNoLocaleFlag = 0xFFFF0000u;

// HREFTYPE: the type whose reference table holds it, and the value its type words give
// (four times the position in that table).
constexpr HREFTYPE MakeHref(std::uint32_t type, std::uint16_t ref) { return (type << 16) | ref; }
constexpr std::uint32_t kMaxTypes = 0x7FFF;  // keeps every HREFTYPE below 0x80000000

// ---- text -------------------------------------------------------------------------------------

// Windows-1252, the code page these libraries were written in, for 0x80-0x9F (the rest of the
// upper half is Latin-1).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(char16_t c, std::string* out) {
    if (c < 0x80) {
        *out += char(c);
    } else if (c < 0x800) {
        *out += char(0xC0 | (c >> 6));
        *out += char(0x80 | (c & 0x3F));
    } else {
        *out += char(0xE0 | (c >> 12));
        *out += char(0x80 | ((c >> 6) & 0x3F));
        *out += char(0x80 | (c & 0x3F));
    }
}

bool IsAsciiAlnum(std::uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::uint32_t HexValue(std::string_view s, bool* ok) {
    std::uint32_t v = 0;
    if (s.empty() || s.size() > 8) *ok = false;
    for (char c : s) {
        int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (d < 0) *ok = false;
        v = (v << 4) | std::uint32_t(d < 0 ? 0 : d);
    }
    return v;
}

// ---- the source -------------------------------------------------------------------------------

struct TypeEntry {
    std::uint32_t block = 0, blockEnd = 0;  // the type's block; empty when the file has none
    std::uint16_t nameOffset = kNone;
    DWORD helpContext = 0;
    GUID guid{};
    std::uint16_t kind = 0;
};

// One entry of a type's reference table.
struct RefEntry {
    bool valid = false;
    bool local = true;
    std::uint32_t index = 0;   // the type, here or in the imported library
    std::uint32_t import = 0;  // key of the imported library
};

struct ImportEntry {
    std::uint32_t textAt = 0;  // its "*\G..." text in the name table
    bool valid = false;
    ImportData data;
};

// What a type's block says about its members, read the first time the type is used.
struct TypeLayout {
    bool read = false;
    HRESULT status = S_OK;
    std::uint32_t base = 0;     // member data: the origin of every offset inside the block
    std::uint8_t blockKind = 0;
    WORD flags = 0;
    WORD majorVersion = 0, minorVersion = 0;
    std::uint32_t tail = 0;
    std::vector<std::uint32_t> funcs, vars, impls;  // item positions
};

class SltgSource final : public LibrarySource {
public:
    explicit SltgSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)), in_(bytes_.data(), bytes_.size()) {}

    HRESULT Open();

    HRESULT GetLibrary(LibraryData* out) override;
    std::uint32_t TypeCount() override { return std::uint32_t(types_.size()); }
    HRESULT GetType(std::uint32_t index, TypeData* out) override;
    HRESULT GetFunc(std::uint32_t typeIndex, const TypeData& type, std::uint32_t index, FuncData* out,
                    bool namesOnly) override;
    HRESULT GetVar(std::uint32_t typeIndex, const TypeData& type, std::uint32_t index, VarData* out) override;
    HRESULT ResolveRef(HREFTYPE href, RefTarget* out) override;
    HRESULT GetImport(std::uint32_t key, ImportData* out) override;
    HRESULT ImportKeys(std::vector<std::uint32_t>* out) override {
        // Imports are registered as the types' references name them, in type order.
        out->clear();
        for (std::uint32_t i = 0; i < imports_.size(); ++i) out->push_back(i);
        return S_OK;
    }

private:
    bool ReadBlocks();
    bool ReadDirectory();
    void ReadRefs(std::uint32_t typeIndex);
    std::uint32_t ImportAt(std::uint32_t textAt);
    HRESULT Layout(std::uint32_t index, const TypeLayout** out);

    // A name of the name table; a null view when it cannot be read.
    std::string_view Name(std::uint16_t offset);
    // 8-bit library text as UTF-8, kept for the source's life.
    std::string_view Text(std::uint32_t at, std::uint32_t len);
    // The NUL-terminated text at `at`, which must end before `end`.
    bool TextUntilNul(std::uint32_t at, std::uint32_t end, std::string_view* out);

    // Reads the type description at `at` (inside the type's block) into `tree`.
    bool ReadType(std::uint32_t typeIndex, const TypeLayout& t, std::uint32_t at, TypeTree* tree,
                  std::uint32_t* root, std::uint32_t* next);
    // A position `offset` bytes into the member data, if the block holds `size` bytes there.
    bool At(const TypeLayout& t, std::uint32_t typeIndex, std::uint32_t offset, std::uint32_t size,
            std::uint32_t* pos) const;
    bool InBlock(std::uint32_t typeIndex, std::uint64_t pos, std::uint64_t size) const {
        const TypeEntry& e = types_[typeIndex];
        return pos >= e.block && pos + size <= e.blockEnd;
    }

    std::vector<std::uint8_t> bytes_;
    Bytes in_;
    std::unordered_map<std::string_view, std::pair<std::uint32_t, std::uint32_t>> blocks_;  // by name
    std::uint32_t dir_ = 0, dirEnd_ = 0;
    LibraryData lib_;
    std::uint32_t names_ = 0, namesEnd_ = 0;  // name table: offsets count from `names_`
    std::vector<TypeEntry> types_;
    std::vector<std::vector<RefEntry>> refs_;
    std::vector<TypeLayout> layouts_;
    std::vector<ImportEntry> imports_;
    std::unordered_map<std::uint32_t, std::uint32_t> importKeys_;  // by the position of their text
    std::map<std::uint32_t, std::string> converted_;
};

bool SltgSource::ReadBlocks() {
    std::uint16_t count, namesSize, first;
    if (!in_.U16(4, &count) || !in_.U16(8, &namesSize) || !in_.U16(10, &first)) return false;
    if (count == 0) return false;
    std::uint32_t entries = count - 1u;
    std::uint32_t nameArea = kHeaderSize + entries * kBlockEntrySize;
    std::uint64_t at = std::uint64_t(nameArea) + namesSize + kBlockNamePadding;
    if (!in_.Has(nameArea, namesSize)) return false;
    // The blocks follow one another in the order of their chain, from `first`.
    std::vector<bool> seen(entries, false);
    for (std::uint32_t i = first, steps = 0; i != 0; ++steps) {
        if (i > entries || seen[i - 1] || steps >= entries) return false;
        seen[i - 1] = true;
        std::uint32_t entry = kHeaderSize + (i - 1) * kBlockEntrySize;
        std::uint32_t length;
        std::uint16_t nameAt, next;
        if (!in_.U32(entry, &length) || !in_.U16(entry + 4, &nameAt) || !in_.U16(entry + 6, &next)) return false;
        if (at + length > in_.Size()) return false;
        // Names as the bytes spell them: the type list refers to them the same way.
        if (nameAt < namesSize) {
            const char* p = reinterpret_cast<const char*>(bytes_.data()) + nameArea + nameAt;
            std::string_view rest(p, namesSize - nameAt);
            std::size_t nul = rest.find('\0');
            if (nul != std::string_view::npos)
                blocks_.emplace(rest.substr(0, nul), std::make_pair(std::uint32_t(at), std::uint32_t(at + length)));
        }
        at += length;
        i = next;
    }
    return true;
}

bool SltgSource::ReadDirectory() {
    auto dir = blocks_.find("dir");
    if (dir == blocks_.end()) return false;
    dir_ = dir->second.first;
    dirEnd_ = dir->second.second;
    Bytes d = in_.Sub(0, dirEnd_);  // reads stay inside the directory block
    std::uint32_t at = dir_;
    std::uint16_t magic, nameOffset;
    if (!d.U16(at, &magic) || magic != kLibraryMagic || !d.U16(at + 4, &nameOffset)) return false;
    at += 6;
    // Three counted texts: one unused, the doc string, the help file.
    std::string_view texts[3];
    for (std::string_view& t : texts) {
        std::uint16_t len;
        if (!d.U16(at, &len)) return false;
        at += 2;
        if (len == kNone) continue;
        if (!d.Has(at, len)) return false;
        t = Text(at, len);
        at += len;
    }
    std::uint16_t syskind, lcid, flags, major, minor;
    std::uint32_t reserved;
    if (!d.U32(at, &lib_.helpContext) || !d.U16(at + 4, &syskind) || !d.U16(at + 6, &lcid) ||
        !d.U32(at + 8, &reserved) || !d.U16(at + 12, &flags) || !d.U16(at + 14, &major) ||
        !d.U16(at + 16, &minor) || !d.Copy(at + 18, &lib_.guid, sizeof(GUID)) || syskind > SYS_WIN64)
        return false;
    at += 18 + sizeof(GUID) + kTypeNameHashSize;
    lib_.doc = texts[1];
    lib_.helpFile = texts[2];
    lib_.syskind = SYSKIND(syskind);
    lib_.lcid = (reserved & kNoLocaleFlag) ? 0 : lcid;
    lib_.flags = flags;
    lib_.majorVersion = major;
    lib_.minorVersion = minor;

    std::uint16_t count;
    if (!d.U16(at, &count) || count > kMaxTypes) return false;
    at += 2;
    types_.resize(count);
    for (TypeEntry& t : types_) {
        std::uint16_t len;
        std::string_view blockName;
        if (!d.U16(at, &len) || len == kNone || !d.View(at + 2, len, &blockName)) return false;
        at += 2 + len;
        if (!d.U16(at, &len)) return false;  // a second name, unused
        at += 2 + (len == kNone ? 0 : len);
        std::uint16_t extra;  // the compressed doc string, which the platform does not show
        if (!d.U16(at + 2, &t.nameOffset) || !d.U16(at + 4, &extra)) return false;
        at += 6 + extra;
        if (!d.U32(at + 2, &t.helpContext) || !d.Copy(at + 8, &t.guid, sizeof(GUID)) ||
            !d.U16(at + 8 + sizeof(GUID), &t.kind))
            return false;
        at += 10 + sizeof(GUID);
        auto b = blocks_.find(blockName);
        if (b != blocks_.end()) {
            t.block = b->second.first;
            t.blockEnd = b->second.second;
        }
    }

    // The name table: found from an anchor, its length just before it.
    std::uint32_t anchor;
    std::uint16_t dictionary;
    if (!d.U32(at, &anchor)) return false;
    std::uint64_t anchorAt = std::uint64_t(dir_) + anchor;
    if (anchorAt > dirEnd_ || !d.U16(std::uint32_t(anchorAt), &dictionary)) return false;
    std::uint64_t names = anchorAt + kNameTableLead + (dictionary == 0x0200 ? kHelpDictionaryLead : 0);
    std::uint32_t tableSize;
    if (names > dirEnd_ || !d.U32(std::uint32_t(names - 12), &tableSize)) return false;
    std::uint64_t end = names - kNameEntryPrefix + tableSize;
    if (tableSize < kNameEntryPrefix || end > dirEnd_) return false;
    names_ = std::uint32_t(names);
    namesEnd_ = std::uint32_t(end);
    lib_.name = Name(nameOffset);
    return true;
}

HRESULT SltgSource::Open() {
    if (!ReadBlocks() || !ReadDirectory()) return TYPE_E_INVDATAREAD;
    refs_.resize(types_.size());
    layouts_.resize(types_.size());
    for (std::uint32_t i = 0; i < types_.size(); ++i) ReadRefs(i);
    return S_OK;
}

// A type's reference table: texts "*\Rffff*#n" for type n of this library, "*\Rxxxx*#n" for
// type n of the library whose "*\G{guid}#maj.min#lcid#path#" text is at xxxx of the name table.
// A damaged table leaves the type's references unresolved.
void SltgSource::ReadRefs(std::uint32_t typeIndex) {
    const TypeEntry& e = types_[typeIndex];
    Bytes b = in_.Sub(0, e.blockEnd);
    std::uint32_t table;
    if (e.block == e.blockEnd || !b.U32(e.block + 2, &table) || table == 0xFFFFFFFFu) return;
    std::uint64_t at = std::uint64_t(e.block) + table;
    std::uint32_t size;
    if (at + kRefTableEntries > e.blockEnd || !b.U32(std::uint32_t(at + kRefTableCount), &size)) return;
    std::uint32_t count = size / 8;
    std::uint64_t text = at + kRefTableEntries + std::uint64_t(size) + kRefTableNameGap;
    std::vector<RefEntry>& refs = refs_[typeIndex];
    for (std::uint32_t i = 0; i < count && text + 2 <= e.blockEnd; ++i) {
        std::uint16_t len;
        std::string_view s;
        if (!b.U16(std::uint32_t(text), &len) || !b.View(std::uint32_t(text) + 2, len, &s)) break;
        text += 2 + std::uint64_t(len);
        RefEntry r;
        std::size_t star = s.find("*#", 3);
        if (s.substr(0, 3) == "*\\R" && star != std::string_view::npos) {
            bool ok = true;
            std::string_view lib = s.substr(3, star - 3);
            r.index = HexValue(s.substr(star + 2), &ok);
            if (lib == "ffff") {
                r.local = true;
            } else {
                r.local = false;
                std::uint32_t at2 = HexValue(lib, &ok);
                if (ok && at2 <= 0xFFFF) r.import = ImportAt(names_ + at2);
                else ok = false;
            }
            r.valid = ok;
        }
        refs.push_back(r);
    }
}

// The key of the imported library described at `textAt`, registered on first sight.
std::uint32_t SltgSource::ImportAt(std::uint32_t textAt) {
    auto known = importKeys_.find(textAt);
    if (known != importKeys_.end()) return known->second;
    ImportEntry imp;
    imp.textAt = textAt;
    std::string_view s;
    if (TextUntilNul(textAt, namesEnd_, &s) && s.substr(0, 3) == "*\\G" && s.size() >= 3 + 38) {
        // *\G{guid}#maj.min#lcid#path#
        bool ok = GuidFromString(s.substr(3, 38), &imp.data.guid);
        std::string_view rest = s.substr(3 + 38);
        std::string_view field[3];
        for (std::string_view& f : field) {
            if (rest.empty() || rest[0] != '#') { ok = false; break; }
            rest.remove_prefix(1);
            std::size_t hash = rest.find('#');
            f = rest.substr(0, hash);
            rest = hash == std::string_view::npos ? std::string_view() : rest.substr(hash);
        }
        std::size_t dot = field[0].find('.');
        if (ok && dot != std::string_view::npos) {
            imp.data.majorVersion = WORD(HexValue(field[0].substr(0, dot), &ok));
            imp.data.minorVersion = WORD(HexValue(field[0].substr(dot + 1), &ok));
            imp.data.lcid = HexValue(field[1], &ok);
            imp.data.fileName = field[2];
            imp.valid = ok;
        }
    }
    imports_.push_back(imp);
    importKeys_.emplace(textAt, std::uint32_t(imports_.size() - 1));
    return std::uint32_t(imports_.size() - 1);
}

std::string_view SltgSource::Text(std::uint32_t at, std::uint32_t len) {
    std::string_view raw(reinterpret_cast<const char*>(bytes_.data()) + at, len);
    if (std::all_of(raw.begin(), raw.end(), [](char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; }))
        return raw;
    auto it = converted_.find(at);
    if (it == converted_.end()) {
        std::string utf8;
        utf8.reserve(raw.size() * 2);
        for (char ch : raw) {
            auto c = static_cast<unsigned char>(ch);
            AppendUtf8(c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : char16_t(c), &utf8);
        }
        it = converted_.emplace(at, std::move(utf8)).first;
    }
    return it->second;
}

bool SltgSource::TextUntilNul(std::uint32_t at, std::uint32_t end, std::string_view* out) {
    if (at >= end || end > bytes_.size()) return false;
    const std::uint8_t* p = bytes_.data();
    const void* nul = std::memchr(p + at, 0, end - at);
    if (!nul) return false;
    *out = Text(at, std::uint32_t(static_cast<const std::uint8_t*>(nul) - (p + at)));
    return true;
}

std::string_view SltgSource::Name(std::uint16_t offset) {
    std::string_view s;
    if (offset == kNone || !TextUntilNul(names_ + offset, namesEnd_, &s)) return std::string_view();
    return s;
}

HRESULT SltgSource::GetLibrary(LibraryData* out) {
    *out = lib_;
    return S_OK;
}

bool SltgSource::At(const TypeLayout& t, std::uint32_t typeIndex, std::uint32_t offset, std::uint32_t size,
                    std::uint32_t* pos) const {
    std::uint64_t p = std::uint64_t(t.base) + offset;
    if (!InBlock(typeIndex, p, size)) return false;
    *pos = std::uint32_t(p);
    return true;
}

HRESULT SltgSource::Layout(std::uint32_t index, const TypeLayout** out) {
    TypeLayout& t = layouts_[index];
    *out = &t;
    if (t.read) return t.status;
    t.read = true;
    t.status = TYPE_E_INVDATAREAD;
    const TypeEntry& e = types_[index];
    if (!InBlock(index, e.block, kTypeHeaderSize) || e.kind >= TKIND_MAX) return t.status;
    Bytes b = in_.Sub(0, e.blockEnd);
    std::uint32_t members, extra;
    std::uint8_t flags1, flags2;
    if (!b.U32(e.block + 0x0A, &members) || !b.U16(e.block + 0x12, &t.majorVersion) ||
        !b.U16(e.block + 0x14, &t.minorVersion) || !b.U8(e.block + 0x1A, &flags1) || !b.U8(e.block + 0x1B, &flags2) ||
        !b.U8(e.block + 0x1D, &t.blockKind))
        return t.status;
    t.flags = WORD((flags1 >> 3) | (flags2 << 5));
    std::uint64_t header = std::uint64_t(e.block) + members;
    if (!InBlock(index, header, kMemberHeaderSize) || !b.U32(std::uint32_t(header) + 5, &extra)) return t.status;
    t.base = std::uint32_t(header + kMemberHeaderSize);
    std::uint64_t tail = std::uint64_t(t.base) + extra;
    if (!InBlock(index, tail, kTailSize)) return t.status;
    t.tail = std::uint32_t(tail);

    // The members are chains of items: counts and first offsets in the tail, each item
    // giving the next. A chain that ends early or leaves the block makes the type unreadable.
    auto chain = [&](std::uint32_t countAt, std::uint32_t firstAt, std::uint32_t itemSize,
                     std::vector<std::uint32_t>* items) {
        std::uint16_t count, offset;
        if (!b.U16(t.tail + countAt, &count) || !b.U16(t.tail + firstAt, &offset)) return false;
        items->reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t item;
            if (offset == kNone || !At(t, index, offset, itemSize, &item)) return false;
            items->push_back(item);
            if (!b.U16(item + 2, &offset)) return false;
        }
        return true;
    };
    if (!chain(0x00, 0x08, kFuncItemSize, &t.funcs) || !chain(0x02, 0x0A, kVarItemSize, &t.vars) ||
        !chain(0x04, 0x0C, kImplItemSize, &t.impls))
        return t.status;
    t.status = S_OK;
    return t.status;
}

HRESULT SltgSource::GetType(std::uint32_t index, TypeData* out) {
    if (index >= types_.size()) return TYPE_E_ELEMENTNOTFOUND;
    const TypeLayout* t;
    HRESULT hr = Layout(index, &t);
    if (FAILED(hr)) return hr;
    const TypeEntry& e = types_[index];
    Bytes b = in_.Sub(0, e.blockEnd);
    out->kind = TYPEKIND(e.kind);
    // A dual interface is listed as a dispatch interface; its block describes the interface.
    if (e.kind == TKIND_DISPATCH && t->blockKind == TKIND_INTERFACE) {
        out->kind = TKIND_INTERFACE;
        out->dual = true;
    }
    out->guid = e.guid;
    out->flags = t->flags;
    out->majorVersion = t->majorVersion;
    out->minorVersion = t->minorVersion;
    std::uint16_t instance, alignment, vft, aliasWord, simpleAlias;
    if (!b.U16(t->tail + 0x14, &aliasWord) || !b.U16(t->tail + 0x1C, &simpleAlias) ||
        !b.U16(t->tail + 0x20, &instance) || !b.U16(t->tail + 0x22, &alignment) || !b.U16(t->tail + 0x28, &vft))
        return TYPE_E_INVDATAREAD;
    out->cbSizeInstance = instance;
    out->cbAlignment = alignment;
    out->cbSizeVft = vft;
    out->cFuncs = WORD(t->funcs.size());
    out->cVars = WORD(t->vars.size());
    out->name = Name(e.nameOffset);
    out->helpContext = e.helpContext;

    for (std::uint32_t item : t->impls) {
        std::uint8_t flags;
        std::uint16_t vt, ref;
        if (!b.U8(item + 6, &flags) || !b.U16(item + 0x12, &vt) || !b.U16(item + 0x14, &ref) ||
            (vt & kTypeVtMask) != VT_USERDEFINED)
            return TYPE_E_INVDATAREAD;
        out->impls.push_back({MakeHref(index, ref), INT(flags)});
    }
    out->memids.reserve(t->funcs.size() + t->vars.size());
    for (std::uint32_t item : t->funcs) {
        std::uint32_t memid;
        if (!b.U32(item + 6, &memid)) return TYPE_E_INVDATAREAD;
        out->memids.push_back(MEMBERID(memid));
    }
    for (std::uint32_t item : t->vars) {
        std::uint32_t memid;
        if (!b.U32(item + 0x0A, &memid)) return TYPE_E_INVDATAREAD;
        out->memids.push_back(MEMBERID(memid));
    }
    if (e.kind == TKIND_ALIAS) {
        // A simple alias keeps its type word in the tail; otherwise the tail has its offset.
        std::uint32_t at = t->tail + 0x14, next;
        if (simpleAlias != 1 && !At(*t, index, aliasWord, 2, &at)) return TYPE_E_INVDATAREAD;
        if (!ReadType(index, *t, at, &out->aliasTypes, &out->aliasType, &next)) return TYPE_E_INVDATAREAD;
    }
    return S_OK;
}

bool SltgSource::ReadType(std::uint32_t typeIndex, const TypeLayout& t, std::uint32_t at, TypeTree* tree,
                          std::uint32_t* root, std::uint32_t* next) {
    Bytes b = in_.Sub(0, types_[typeIndex].blockEnd);
    std::uint32_t parent = kNoNode;
    *root = kNoNode;
    auto add = [&](const TypeNode& n) {
        std::uint32_t i = tree->Add(n);
        if (parent == kNoNode) *root = i;
        else tree->nodes[parent].child = i;
        parent = i;
    };
    for (int depth = 0;; ++depth) {
        std::uint16_t w;
        if (depth >= kMaxTypeDepth || !InBlock(typeIndex, at, 2) || !b.U16(at, &w)) return false;
        if ((w & kTypePointer) == kTypePointer) {
            TypeNode p;
            p.vt = VT_PTR;
            add(p);
        }
        TypeNode n;
        n.vt = VARTYPE(w & kTypeVtMask);
        switch (n.vt) {
        case VT_PTR:
            add(n);
            at += 2;
            continue;
        case VT_SAFEARRAY:  // the word after it points at an array descriptor it does not need
            add(n);
            at += 4;
            continue;
        case VT_CARRAY: {
            std::uint16_t offset, dims;
            std::uint32_t desc;
            if (!b.U16(at + 2, &offset) || !At(t, typeIndex, offset, 2, &desc) || !b.U16(desc, &dims)) return false;
            std::uint64_t bounds = std::uint64_t(desc) + kArrayBoundsAt;
            if (!InBlock(typeIndex, bounds, std::uint64_t(dims) * sizeof(SAFEARRAYBOUND))) return false;
            n.dims = dims;
            n.firstBound = std::uint32_t(tree->bounds.size());
            for (std::uint32_t i = 0; i < dims; ++i) {
                SAFEARRAYBOUND sb;
                std::uint32_t pos = std::uint32_t(bounds) + i * 8;
                if (!b.U32(pos, &sb.cElements) || !b.I32(pos + 4, &sb.lLbound)) return false;
                tree->bounds.push_back(sb);
            }
            add(n);
            at += 4;
            continue;
        }
        case VT_USERDEFINED: {
            std::uint16_t ref;
            if (!b.U16(at + 2, &ref)) return false;
            n.href = MakeHref(typeIndex, ref);
            add(n);
            *next = at + 4;
            return true;
        }
        default:
            add(n);
            *next = at + 2;
            return true;
        }
    }
}

// A parameter's direction, as the platform reads it from the first word of its type.
USHORT ParamFlags(std::uint16_t w) {
    USHORT f;
    if ((w & (kTypeInOut | kTypeOut)) == (kTypeInOut | kTypeOut)) f = PARAMFLAG_NONE;
    else if (w & kTypeInOut) f = PARAMFLAG_FIN | PARAMFLAG_FOUT;
    else if (w & kTypeOut) f = PARAMFLAG_FOUT;
    else f = PARAMFLAG_FIN;
    if (w & kTypeLcid) f |= PARAMFLAG_FLCID;
    if (w & kTypeRetval) f |= PARAMFLAG_FRETVAL;
    return f;
}

HRESULT SltgSource::GetFunc(std::uint32_t typeIndex, const TypeData&, std::uint32_t index, FuncData* out, bool) {
    if (typeIndex >= types_.size()) return TYPE_E_ELEMENTNOTFOUND;
    const TypeLayout* t;
    HRESULT hr = Layout(typeIndex, &t);
    if (FAILED(hr)) return hr;
    if (index >= t->funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
    Bytes b = in_.Sub(0, types_[typeIndex].blockEnd);
    std::uint32_t item = t->funcs[index];
    std::uint8_t magic, invoke, counts, returnAndOpt;
    std::uint16_t name, args, returnWord, vtable;
    std::uint32_t memid;
    if (!b.U8(item, &magic) || !b.U8(item + 1, &invoke) || !b.U16(item + 4, &name) || !b.U32(item + 6, &memid) ||
        !b.U16(item + 0x0E, &args) || !b.U8(item + 0x10, &counts) || !b.U8(item + 0x11, &returnAndOpt) ||
        !b.U16(item + 0x12, &returnWord) || !b.U16(item + 0x14, &vtable))
        return TYPE_E_INVDATAREAD;
    out->memid = MEMBERID(memid);
    switch (t->blockKind) {
    case TKIND_MODULE: out->funckind = FUNC_STATIC; break;
    case TKIND_DISPATCH: out->funckind = FUNC_DISPATCH; break;
    default: out->funckind = FUNC_PUREVIRTUAL; break;
    }
    out->invkind = INVOKEKIND(invoke >> 4);
    out->callconv = CALLCONV(counts & 7);
    out->cParamsOpt = SHORT((returnAndOpt & kFuncOptMask) >> 1);
    out->oVft = SHORT(vtable);
    if ((magic & kFuncHasFlags) && !b.U16(item + kFuncItemSize, &out->flags)) return TYPE_E_INVDATAREAD;
    out->name = Name(name);

    std::uint32_t at = item + 0x12, next;
    if (!(returnAndOpt & kFuncReturnInline) && !At(*t, typeIndex, returnWord, 2, &at)) return TYPE_E_INVDATAREAD;
    if (!ReadType(typeIndex, *t, at, &out->types, &out->returnType, &next)) return TYPE_E_INVDATAREAD;

    std::uint32_t count = counts >> 3;
    if (count == 0) return S_OK;
    if (args == kNone || !At(*t, typeIndex, args, 2, &at)) return TYPE_E_INVDATAREAD;
    out->params.resize(count);
    for (std::uint32_t k = 0; k < count; ++k) {
        ParamData& p = out->params[k];
        std::uint16_t nameWord;
        if (!b.U16(at, &nameWord)) return TYPE_E_INVDATAREAD;
        at += 2;
        // The type follows the name when the name offset points one past the name's first
        // letter (the platform checks that the byte before it is a letter or digit); otherwise
        // the next word is the type's offset. A parameter without a name shows the function's.
        bool inlineType = nameWord == kNoNameTypeFollows;
        p.name = out->name;
        if (nameWord != kNoNameTypeFollows && nameWord != kNoNameTypeAt) {
            std::uint8_t before = 0;
            std::uint32_t pos = names_ + nameWord;
            if (pos > names_ - kNameEntryPrefix && pos <= namesEnd_) in_.U8(pos - 1, &before);
            inlineType = IsAsciiAlnum(before);
            std::string_view s = Name(std::uint16_t(inlineType ? nameWord - 1 : nameWord));
            if (s.data()) p.name = s;
        }
        std::uint32_t typeAt = at;
        if (inlineType) {
            if (!ReadType(typeIndex, *t, typeAt, &out->types, &p.type, &at)) return TYPE_E_INVDATAREAD;
        } else {
            std::uint16_t offset;
            if (!b.U16(at, &offset) || !At(*t, typeIndex, offset, 2, &typeAt)) return TYPE_E_INVDATAREAD;
            at += 2;
            if (!ReadType(typeIndex, *t, typeAt, &out->types, &p.type, &next)) return TYPE_E_INVDATAREAD;
        }
        std::uint16_t first;
        if (!b.U16(typeAt, &first)) return TYPE_E_INVDATAREAD;
        p.flags = ParamFlags(first);
        if (std::int32_t(count - k) <= out->cParamsOpt) p.flags |= PARAMFLAG_FOPT;
    }
    return S_OK;
}

HRESULT SltgSource::GetVar(std::uint32_t typeIndex, const TypeData&, std::uint32_t index, VarData* out) {
    if (typeIndex >= types_.size()) return TYPE_E_ELEMENTNOTFOUND;
    const TypeLayout* t;
    HRESULT hr = Layout(typeIndex, &t);
    if (FAILED(hr)) return hr;
    if (index >= t->vars.size()) return TYPE_E_ELEMENTNOTFOUND;
    Bytes b = in_.Sub(0, types_[typeIndex].blockEnd);
    std::uint32_t item = t->vars[index];
    std::uint8_t flags;
    std::uint16_t name, place, typeWord;
    std::uint32_t memid;
    if (!b.U8(item + 1, &flags) || !b.U16(item + 4, &name) || !b.U16(item + 6, &place) ||
        !b.U16(item + 8, &typeWord) || !b.U32(item + 0x0A, &memid))
        return TYPE_E_INVDATAREAD;
    out->memid = MEMBERID(memid);
    out->name = Name(name);
    if (flags & kVarReadOnly) out->flags |= VARFLAG_FREADONLY;
    std::uint32_t at = item + 8, next;
    if (!(flags & kVarTypeInline) && !At(*t, typeIndex, typeWord, 2, &at)) return TYPE_E_INVDATAREAD;
    if (!ReadType(typeIndex, *t, at, &out->types, &out->type, &next)) return TYPE_E_INVDATAREAD;

    if (flags & kVarConst) {
        out->varkind = VAR_CONST;
        out->hasValue = true;
        VARIANT& v = out->value.v;
        VARTYPE vt = out->types.nodes[out->type].vt;
        // The platform gives numbers as VT_INT whatever the constant's declared type.
        if (flags & kVarValueInline) {
            v.vt = VT_INT;
            v.intVal = std::int16_t(place);
        } else if (vt == VT_LPSTR || vt == VT_BSTR) {
            // A counted 8-bit text; 0xFFFF is a null string. It reads up to a NUL.
            std::uint32_t pos;
            std::uint16_t len;
            if (!At(*t, typeIndex, place, 2, &pos) || !b.U16(pos, &len)) return TYPE_E_INVDATAREAD;
            v.vt = VT_BSTR;
            if (len != kNone) {
                if (!InBlock(typeIndex, pos + 2, len)) return TYPE_E_INVDATAREAD;
                const auto* p = bytes_.data() + pos + 2;
                const void* nul = std::memchr(p, 0, len);
                out->value.text = Text(pos + 2, nul ? std::uint32_t(static_cast<const std::uint8_t*>(nul) - p) : len);
            }
        } else {
            std::uint32_t pos;
            if (!At(*t, typeIndex, place, 4, &pos) || !b.I32(pos, &v.intVal)) return TYPE_E_INVDATAREAD;
            v.vt = VT_INT;
        }
    } else if (flags & kVarDispatch) {
        out->varkind = VAR_DISPATCH;
    } else {
        out->varkind = VAR_PERINSTANCE;
        out->oInst = place;
    }
    return S_OK;
}

HRESULT SltgSource::ResolveRef(HREFTYPE href, RefTarget* out) {
    std::uint32_t type = href >> 16, ref = (href & 0xFFFF) / 4;
    if (type >= refs_.size() || ref >= refs_[type].size() || !refs_[type][ref].valid) return TYPE_E_ELEMENTNOTFOUND;
    const RefEntry& r = refs_[type][ref];
    out->kind = r.local ? RefTarget::Kind::Local : RefTarget::Kind::Imported;
    out->index = r.index;
    out->import = r.import;
    out->byGuid = false;
    return S_OK;
}

HRESULT SltgSource::GetImport(std::uint32_t key, ImportData* out) {
    if (key >= imports_.size()) return TYPE_E_ELEMENTNOTFOUND;
    if (!imports_[key].valid) return TYPE_E_INVDATAREAD;
    *out = imports_[key].data;
    return S_OK;
}

}  // namespace

bool IsSltgLibrary(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 4 && bytes[0] == 'S' && bytes[1] == 'L' && bytes[2] == 'T' && bytes[3] == 'G';
}

HRESULT OpenSltgSource(std::vector<std::uint8_t> bytes, std::unique_ptr<LibrarySource>* out) {
    out->reset();
    if (!IsSltgLibrary(bytes) || bytes.size() > 0xFFFFFFFFu) return TYPE_E_INVDATAREAD;
    auto source = std::make_unique<SltgSource>(std::move(bytes));
    HRESULT hr = source->Open();
    if (FAILED(hr)) return hr;
    *out = std::move(source);
    return S_OK;
}

}  // namespace tlb
