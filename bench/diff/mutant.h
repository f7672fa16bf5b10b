// A changed copy of an MSFT library for the diff benchmarks: every 7th type gets another
// version, every 11th another help context, and every 50th member another member id, so the
// comparison walks everything and finds changes all over the library.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace mutant {

using Bytes = std::vector<std::uint8_t>;

inline bool In(const Bytes& b, std::int64_t off, std::int64_t len) {
    return off >= 0 && len >= 0 && off + len <= std::int64_t(b.size());
}
inline std::int32_t Get32(const Bytes& b, std::int64_t off) {
    std::int32_t v = -1;
    if (In(b, off, 4)) std::memcpy(&v, b.data() + off, 4);
    return v;
}
inline void Put32(Bytes& b, std::int64_t off, std::uint32_t v) {
    if (In(b, off, 4)) std::memcpy(b.data() + off, &v, 4);
}

// Changes Lib in place; false when it is not an MSFT library.
inline bool Mutate(Bytes& b) {
    if (b.size() < 0x54 || std::memcmp(b.data(), "MSFT", 4) != 0) return false;
    const std::int32_t count = Get32(b, 0x20);
    const std::int64_t offsets = 0x54 + ((Get32(b, 0x14) & 0x100) ? 4 : 0);
    const std::int64_t segDir = offsets + 4 * std::int64_t(count);
    if (count < 0 || !In(b, segDir, 15 * 16)) return false;
    const std::int64_t typeSeg = Get32(b, segDir);
    long members = 0;
    for (std::int32_t t = 0; t < count; ++t) {
        const std::int64_t base = typeSeg + Get32(b, offsets + 4 * t);
        if (!In(b, base, 0x64)) continue;
        if (t % 7 == 0) Put32(b, base + 0x38, std::uint32_t(Get32(b, base + 0x38)) + 1);   // version
        if (t % 11 == 0) Put32(b, base + 0x44, std::uint32_t(Get32(b, base + 0x44)) + 1);  // help context
        const std::int64_t block = Get32(b, base + 4);
        const std::int32_t ce = Get32(b, base + 0x18);
        const int n = (ce & 0xFFFF) + ((ce >> 16) & 0xFFFF);
        if (block < 0 || !In(b, block, 4)) continue;
        const std::int64_t memids = block + 4 + Get32(b, block);
        for (int k = 0; k < n; ++k)
            if (++members % 50 == 0) Put32(b, memids + 4 * k, std::uint32_t(Get32(b, memids + 4 * k)) + 0x100);
    }
    return true;
}

}  // namespace mutant
