// Bounds-checked little-endian reads from library bytes: a read outside the data fails and
// gives zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tlb {

class Bytes {
public:
    Bytes() = default;
    Bytes(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}

    std::size_t Size() const { return n_; }
    const std::uint8_t* Data() const { return p_; }
    bool Has(std::size_t off, std::size_t len) const { return off <= n_ && len <= n_ - off; }

    bool U8(std::size_t off, std::uint8_t* v) const {
        if (!Has(off, 1)) return *v = 0, false;
        *v = p_[off];
        return true;
    }
    bool U16(std::size_t off, std::uint16_t* v) const {
        if (!Has(off, 2)) return *v = 0, false;
        *v = std::uint16_t(p_[off] | (p_[off + 1] << 8));
        return true;
    }
    bool U32(std::size_t off, std::uint32_t* v) const {
        if (!Has(off, 4)) return *v = 0, false;
        *v = std::uint32_t(p_[off]) | (std::uint32_t(p_[off + 1]) << 8) | (std::uint32_t(p_[off + 2]) << 16) |
             (std::uint32_t(p_[off + 3]) << 24);
        return true;
    }
    bool I32(std::size_t off, std::int32_t* v) const {
        std::uint32_t u;
        bool ok = U32(off, &u);
        *v = std::int32_t(u);
        return ok;
    }
    bool I16(std::size_t off, std::int16_t* v) const {
        std::uint16_t u;
        bool ok = U16(off, &u);
        *v = std::int16_t(u);
        return ok;
    }
    bool Copy(std::size_t off, void* dst, std::size_t len) const {
        if (!Has(off, len)) {
            if (len) std::memset(dst, 0, len);
            return false;
        }
        if (len) std::memcpy(dst, p_ + off, len);
        return true;
    }
    bool View(std::size_t off, std::size_t len, std::string_view* v) const {
        if (!Has(off, len)) return false;
        *v = std::string_view(reinterpret_cast<const char*>(p_) + off, len);
        return true;
    }
    // The part [off, off + len), or an empty one when it does not lie inside.
    Bytes Sub(std::size_t off, std::size_t len) const { return Has(off, len) ? Bytes(p_ + off, len) : Bytes(); }

private:
    const std::uint8_t* p_ = nullptr;
    std::size_t n_ = 0;
};

}  // namespace tlb
