// Ways to damage a type library or a PE image on purpose: the places worth lying about, found
// by walking the file's own structure. Each returns (description, damaged bytes) cases.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace damage {

using Bytes = std::vector<std::uint8_t>;

struct Case {
    std::string what;
    Bytes bytes;
};

inline bool In(const Bytes& b, std::int64_t off, std::int64_t len) {
    return off >= 0 && len >= 0 && off + len <= static_cast<std::int64_t>(b.size());
}
inline std::int32_t Get32(const Bytes& b, std::int64_t off) {
    if (!In(b, off, 4)) return -1;
    std::int32_t v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}
inline std::uint16_t Get16(const Bytes& b, std::int64_t off) {
    if (!In(b, off, 2)) return 0;
    std::uint16_t v;
    std::memcpy(&v, b.data() + off, 2);
    return v;
}
inline void Put32(Bytes& b, std::int64_t off, std::uint32_t v) {
    if (In(b, off, 4)) std::memcpy(b.data() + off, &v, 4);
}
inline void Put16(Bytes& b, std::int64_t off, std::uint16_t v) {
    if (In(b, off, 2)) std::memcpy(b.data() + off, &v, 2);
}

// Values that make a count, size or offset lie.
inline std::vector<std::uint32_t> LyingValues(std::uint32_t fileSize) {
    return {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x0000FFFFu, 0x7FFF7FFFu, fileSize, fileSize - 4, 3};
}

// The landmarks of an MSFT library.
struct Msft {
    std::int64_t typeInfoOffsets = 0;  // array of nrtypeinfos offsets into segment 0
    std::int32_t count = 0;
    std::int64_t segDir = 0;           // 15 entries of {offset, length, -1, 0x0F}
    std::int32_t Seg(const Bytes& b, int i) const { return Get32(b, segDir + 16 * i); }
    std::int32_t SegLen(const Bytes& b, int i) const { return Get32(b, segDir + 16 * i + 4); }
    // File offset of type i's 0x64-byte base record.
    std::int64_t TypeBase(const Bytes& b, int i) const { return std::int64_t(Seg(b, 0)) + Get32(b, typeInfoOffsets + 4 * i); }
};

inline bool ParseMsft(const Bytes& b, Msft* m) {
    if (b.size() < 0x54 || std::memcmp(b.data(), "MSFT", 4) != 0) return false;
    m->count = Get32(b, 0x20);
    m->typeInfoOffsets = 0x54 + ((Get32(b, 0x14) & 0x100) ? 4 : 0);
    m->segDir = m->typeInfoOffsets + 4 * std::int64_t(m->count);
    return m->count >= 0 && In(b, m->segDir, 15 * 16);
}

// One lie per field of the header, the segment directory and the type offsets.
inline void MsftDirectoryCases(const Bytes& good, std::vector<Case>& out) {
    Msft m;
    if (!ParseMsft(good, &m)) return;
    auto lies = LyingValues(static_cast<std::uint32_t>(good.size()));
    for (int off = 4; off < 0x54; off += 4)
        for (auto v : lies) {
            Bytes b = good;
            Put32(b, off, v);
            out.push_back({"header field 0x" + std::to_string(off) + " = " + std::to_string(v), b});
        }
    for (int s = 0; s < 15; ++s)
        for (int field = 0; field < 2; ++field)
            for (auto v : lies) {
                Bytes b = good;
                Put32(b, m.segDir + 16 * s + 4 * field, v);
                out.push_back({"segment " + std::to_string(s) + (field ? " length = " : " offset = ") + std::to_string(v), b});
            }
    for (int t = 0; t < m.count; ++t)
        for (auto v : {0xFFFFFFFFu, 0x7FFFFFF0u, static_cast<std::uint32_t>(m.SegLen(good, 0)), 2u}) {
            Bytes b = good;
            Put32(b, m.typeInfoOffsets + 4 * t, v);
            out.push_back({"type offset " + std::to_string(t) + " = " + std::to_string(v), b});
        }
}

// Lies in the type records and in the member records they point to; `limit` cases drawn at
// random (seeded) from all candidates.
inline void MsftRecordCases(const Bytes& good, std::mt19937& rng, std::size_t limit, std::vector<Case>& out) {
    Msft m;
    if (!ParseMsft(good, &m)) return;
    auto lies = LyingValues(static_cast<std::uint32_t>(good.size()));
    std::vector<std::pair<std::int64_t, std::string>> spots;
    for (int t = 0; t < m.count; ++t) {
        std::int64_t base = m.TypeBase(good, t);
        for (int f = 0; f < 0x64; f += 4) spots.push_back({base + f, "type " + std::to_string(t) + " field 0x" + std::to_string(f)});
        // Member records: {size, records..., ids, names, record offsets}.
        std::int64_t block = Get32(good, base + 4);
        std::int32_t ce = Get32(good, base + 0x18);
        int members = (ce & 0xFFFF) + ((ce >> 16) & 0xFFFF);
        if (block < 0 || !In(good, block, 4) || members == 0) continue;
        std::int64_t size = Get32(good, block);
        spots.push_back({block, "type " + std::to_string(t) + " member block size"});
        std::int64_t offs = block + 4 + size + 8 * members;
        for (int k = 0; k < members; ++k) {
            std::int64_t rec = block + 4 + Get32(good, offs + 4 * k);
            std::string name = "type " + std::to_string(t) + " member " + std::to_string(k);
            spots.push_back({offs + 4 * k, name + " record offset"});
            spots.push_back({block + 4 + size + 4 * members + 4 * k, name + " name offset"});
            spots.push_back({block + 4 + size + 4 * k, name + " id"});
            int recSize = Get32(good, rec) & 0xFFFF;
            for (int f = 0; f < recSize && f < 0x60; f += 4) spots.push_back({rec + f, name + " field 0x" + std::to_string(f)});
            spots.push_back({rec + 20, name + " argument counts"});
        }
    }
    std::uniform_int_distribution<std::size_t> pickSpot(0, spots.size() - 1);
    std::uniform_int_distribution<std::size_t> pickLie(0, lies.size() - 1);
    for (std::size_t i = 0; i < limit && !spots.empty(); ++i) {
        auto& [off, what] = spots[pickSpot(rng)];
        auto v = lies[pickLie(rng)];
        Bytes b = good;
        // 16-bit counts (argument counts, element counts) get a 16-bit lie half the time.
        if (rng() & 1) Put16(b, off + 2 * (rng() & 1), static_cast<std::uint16_t>(v));
        else Put32(b, off, v);
        out.push_back({what + " = " + std::to_string(v), b});
    }
}

// Type descriptions that point at themselves or at each other, user-defined types that name
// nothing, arrays with absurd dimensions; names and strings with lying lengths.
inline void MsftTypeDescCases(const Bytes& good, std::vector<Case>& out) {
    Msft m;
    if (!ParseMsft(good, &m)) return;
    std::int64_t td = m.Seg(good, 9), tdLen = m.SegLen(good, 9);
    std::vector<std::int64_t> pointers;
    for (std::int64_t e = 0; e + 8 <= tdLen; e += 8) {
        std::uint16_t vt = Get16(good, td + e);
        std::string at = "typedesc 0x" + std::to_string(e);
        if (vt == 26 || vt == 27) {
            pointers.push_back(e);
            Bytes b = good;
            Put32(b, td + e + 4, static_cast<std::uint32_t>(e));
            out.push_back({at + " points at itself", b});
            b = good;
            Put32(b, td + e + 4, 0x7FFFFFF8u);
            out.push_back({at + " points outside", b});
        } else if (vt == 29) {
            for (auto href : {0xFFFFFFFFu, 0x7FFFFF00u, 0x00000001u, 0x00FFFF01u, static_cast<std::uint32_t>(m.SegLen(good, 0))}) {
                Bytes b = good;
                Put32(b, td + e + 4, href);
                out.push_back({at + " names type " + std::to_string(href), b});
            }
        } else if (vt == 28) {
            std::int64_t ad = m.Seg(good, 10) + Get32(good, td + e + 4);
            Bytes b = good;
            Put16(b, ad + 4, 0xFFFF);
            out.push_back({at + " array with 65535 dimensions", b});
            b = good;
            Put32(b, ad, static_cast<std::uint32_t>(e));  // element type is the array itself
            out.push_back({at + " array of itself", b});
            b = good;
            Put32(b, ad + 8, 0xFFFFFFFFu);
            out.push_back({at + " array with 4G elements", b});
        }
        Bytes b = good;
        Put16(b, td + e, 0x7FFF);
        out.push_back({at + " unknown vt", b});
    }
    for (std::size_t i = 0; i + 1 < pointers.size(); i += 2) {
        Bytes b = good;
        Put32(b, td + pointers[i] + 4, static_cast<std::uint32_t>(pointers[i + 1]));
        Put32(b, td + pointers[i + 1] + 4, static_cast<std::uint32_t>(pointers[i]));
        out.push_back({"typedescs 0x" + std::to_string(pointers[i]) + " and 0x" + std::to_string(pointers[i + 1]) + " point at each other", b});
    }
    // Names: {hreftype, next, length byte, flags byte, hash, characters}.
    std::int64_t names = m.Seg(good, 7), namesLen = m.SegLen(good, 7);
    int n = 0;
    for (std::int64_t e = 0; e + 12 <= namesLen && n < 40; ++n) {
        std::uint8_t len = good[names + e + 8];
        Bytes b = good;
        b[names + e + 8] = 0xFF;
        out.push_back({"name 0x" + std::to_string(e) + " length 255", b});
        e += (12 + len + 3) & ~3;
    }
    // Strings: {16-bit length, characters}.
    std::int64_t strings = m.Seg(good, 8), stringsLen = m.SegLen(good, 8);
    n = 0;
    for (std::int64_t e = 0; e + 2 <= stringsLen && n < 20; ++n) {
        std::uint16_t len = Get16(good, strings + e);
        Bytes b = good;
        Put16(b, strings + e, 0xFFFF);
        out.push_back({"string 0x" + std::to_string(e) + " length 65535", b});
        e += (2 + len + 3) & ~3;
        if (len == 0) e += 4;
    }
    // Imports: {count and flags, file offset, guid offset}; files: {guid offset, lcid, version, length, name}.
    for (std::int64_t e = 0; e + 12 <= m.SegLen(good, 1); e += 12)
        for (int f = 0; f < 3; ++f) {
            Bytes b = good;
            Put32(b, m.Seg(good, 1) + e + 4 * f, f == 0 ? 0xFFFFFFFFu : 0x7FFFFFF0u);
            out.push_back({"import " + std::to_string(e / 12) + " field " + std::to_string(f), b});
        }
    if (m.SegLen(good, 2) >= 14) {
        Bytes b = good;
        Put16(b, m.Seg(good, 2) + 12, 0xFFFF);
        out.push_back({"import file name length 65535", b});
        b = good;
        Put32(b, m.Seg(good, 2), 0x7FFFFFF0u);
        out.push_back({"import file guid outside", b});
    }
}

// Random bytes overwritten at random places (1 to 16 of them).
inline void FlipCases(const Bytes& good, std::mt19937& rng, std::size_t count, const std::string& name,
                      std::vector<Case>& out) {
    std::uniform_int_distribution<std::size_t> pos(0, good.size() - 1);
    std::uniform_int_distribution<int> many(1, 16);
    for (std::size_t i = 0; i < count; ++i) {
        Bytes b = good;
        int flips = many(rng);
        for (int k = 0; k < flips; ++k) b[pos(rng)] = static_cast<std::uint8_t>(rng());
        out.push_back({name + " flips #" + std::to_string(i), b});
    }
}

// The landmarks of a PE image's resource tree.
struct PeSpots {
    std::vector<std::pair<std::int64_t, std::string>> fields32, fields16;
    std::int64_t resourceDir = -1;  // file offset of the root directory
};

inline PeSpots ParsePe(const Bytes& b) {
    PeSpots s;
    if (b.size() < 0x40 || b[0] != 'M' || b[1] != 'Z') return s;
    std::int64_t pe = Get32(b, 0x3C);
    if (!In(b, pe, 24)) return s;
    s.fields32.push_back({0x3C, "e_lfanew"});
    s.fields16.push_back({pe + 6, "NumberOfSections"});
    s.fields16.push_back({pe + 20, "SizeOfOptionalHeader"});
    std::int64_t opt = pe + 24;
    std::uint16_t magic = Get16(b, opt);
    s.fields16.push_back({opt, "optional header magic"});
    std::int64_t dirs = opt + (magic == 0x20B ? 112 : 96);
    s.fields32.push_back({opt + (magic == 0x20B ? 108 : 92), "NumberOfRvaAndSizes"});
    s.fields32.push_back({dirs + 16, "resource RVA"});
    s.fields32.push_back({dirs + 20, "resource size"});
    std::uint32_t rsrcRva = static_cast<std::uint32_t>(Get32(b, dirs + 16));
    std::int64_t sections = opt + Get16(b, pe + 20);
    int nsec = Get16(b, pe + 6);
    std::int64_t rsrcFile = -1;
    std::uint32_t rsrcSecRva = 0;
    for (int i = 0; i < nsec && In(b, sections + 40 * i, 40); ++i) {
        std::int64_t sh = sections + 40 * i;
        std::string sn = "section " + std::to_string(i);
        s.fields32.push_back({sh + 8, sn + " VirtualSize"});
        s.fields32.push_back({sh + 12, sn + " VirtualAddress"});
        s.fields32.push_back({sh + 16, sn + " SizeOfRawData"});
        s.fields32.push_back({sh + 20, sn + " PointerToRawData"});
        std::uint32_t va = Get32(b, sh + 12), vs = Get32(b, sh + 8);
        if (rsrcRva >= va && rsrcRva < va + vs) {
            rsrcFile = Get32(b, sh + 20) + (rsrcRva - va);
            rsrcSecRva = va;
        }
    }
    if (rsrcFile < 0) return s;
    s.resourceDir = rsrcFile;
    // Three levels: type, name, language; then the data entry {RVA, size, code page, 0}.
    std::vector<std::pair<std::int64_t, int>> todo = {{rsrcFile, 0}};
    for (std::size_t i = 0; i < todo.size() && i < 64; ++i) {
        auto [dir, level] = todo[i];
        std::string dn = "resource dir level " + std::to_string(level) + " @" + std::to_string(dir - rsrcFile);
        s.fields16.push_back({dir + 12, dn + " named count"});
        s.fields16.push_back({dir + 14, dn + " id count"});
        int entries = Get16(b, dir + 12) + Get16(b, dir + 14);
        for (int e = 0; e < entries && In(b, dir + 16 + 8 * e, 8); ++e) {
            std::int64_t ent = dir + 16 + 8 * e;
            std::string en = dn + " entry " + std::to_string(e);
            std::uint32_t nameField = Get32(b, ent), target = Get32(b, ent + 4);
            s.fields32.push_back({ent, en + " name"});
            s.fields32.push_back({ent + 4, en + " target"});
            if (nameField & 0x80000000u) s.fields16.push_back({rsrcFile + (nameField & 0x7FFFFFFF), en + " name length"});
            if (target & 0x80000000u) {
                todo.push_back({rsrcFile + (target & 0x7FFFFFFF), level + 1});
            } else {
                std::int64_t data = rsrcFile + target;
                s.fields32.push_back({data, en + " data RVA"});
                s.fields32.push_back({data + 4, en + " data size"});
            }
        }
    }
    (void)rsrcSecRva;
    return s;
}

inline void PeCases(const Bytes& good, const std::string& name, std::vector<Case>& out) {
    PeSpots s = ParsePe(good);
    auto lies = LyingValues(static_cast<std::uint32_t>(good.size()));
    for (auto& [off, what] : s.fields32)
        for (auto v : lies) {
            Bytes b = good;
            Put32(b, off, v);
            out.push_back({name + " " + what + " = " + std::to_string(v), b});
        }
    for (auto& [off, what] : s.fields16)
        for (std::uint16_t v : {0xFFFFu, 0x8000u, 0u, 0x10Bu, 0x20Bu}) {
            Bytes b = good;
            Put16(b, off, v);
            out.push_back({name + " " + what + " = " + std::to_string(v), b});
        }
    // A directory entry that leads back to the root: a cycle in the tree.
    if (s.resourceDir >= 0) {
        for (int e = 0; e < 2; ++e) {
            Bytes b = good;
            Put32(b, s.resourceDir + 16 + 8 * e + 4, 0x80000000u);
            out.push_back({name + " resource entry " + std::to_string(e) + " loops to the root", b});
        }
    }
}

}  // namespace damage
