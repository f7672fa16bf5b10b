// Finding a TYPELIB resource in a PE image: the headers locate the resource directory, whose
// three levels (type, name, language) lead to the data. Every offset is checked against the
// file and the resource section; the walk has a fixed depth.
#include "platform/oleauto/pe_image.h"

#include "platform/oleauto/typelib_load.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace tlb {

bool FileImage::Read(std::uint64_t off, void* dst, std::size_t len) const {
    if (off > size_ || len > size_ - off) return false;
    auto* p = static_cast<char*>(dst);
    while (len > 0) {
        const ssize_t n = ::pread(fd_, p, len, off_t(off));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        off += std::uint64_t(n);
        len -= std::size_t(n);
    }
    return true;
}
namespace {

constexpr std::uint16_t kPe32 = 0x10B;
constexpr std::uint16_t kPe32Plus = 0x20B;
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint32_t kSubdirectory = 0x80000000u;
constexpr std::uint32_t kMaxSections = 96;

struct Section {
    std::uint32_t va, vsize, rawSize, rawPtr;
};

class Image {
public:
    explicit Image(const ImageReader& r) : r_(r) {}

    bool U16(std::uint64_t off, std::uint16_t* v) const {
        std::uint8_t b[2];
        if (!r_.Read(off, b, 2)) return false;
        *v = std::uint16_t(b[0] | (b[1] << 8));
        return true;
    }
    bool U32(std::uint64_t off, std::uint32_t* v) const {
        std::uint8_t b[4];
        if (!r_.Read(off, b, 4)) return false;
        *v = std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) | (std::uint32_t(b[3]) << 24);
        return true;
    }

    bool Load() {
        std::uint32_t peOff, sig;
        std::uint16_t nSections, optSize, magic;
        if (!U32(0x3C, &peOff) || !U32(peOff, &sig) || sig != 0x00004550) return false;
        std::uint64_t coff = std::uint64_t(peOff) + 4;
        if (!U16(coff + 2, &nSections) || !U16(coff + 16, &optSize)) return false;
        std::uint64_t opt = coff + 20;
        if (!U16(opt, &magic)) return false;
        std::uint32_t countAt, dirsAt;
        if (magic == kPe32) {
            countAt = 92;
            dirsAt = 96;
        } else if (magic == kPe32Plus) {
            countAt = 108;
            dirsAt = 112;
        } else {
            return false;
        }
        std::uint32_t dirCount;
        if (!U32(opt + countAt, &dirCount)) return false;
        // A sound image may have no resources at all.
        noResources_ = dirCount <= kResourceDirectory;
        if (noResources_) return false;
        std::uint64_t dir = opt + dirsAt + kResourceDirectory * 8;
        if (dir + 8 > opt + optSize) return false;
        if (!U32(dir, &resRva_) || !U32(dir + 4, &resSize_)) return false;
        noResources_ = resRva_ == 0 && resSize_ == 0;
        if (resRva_ == 0 || resSize_ == 0) return false;
        if (nSections > kMaxSections) return false;
        std::uint64_t sec = opt + optSize;
        for (std::uint16_t i = 0; i < nSections; ++i, sec += 40) {
            Section s;
            if (!U32(sec + 8, &s.vsize) || !U32(sec + 12, &s.va) || !U32(sec + 16, &s.rawSize) || !U32(sec + 20, &s.rawPtr))
                return false;
            sections_[count_++] = s;
        }
        return true;
    }

    // The file offset of `len` bytes at `rva`, when they lie in one section's file data.
    bool FileOffset(std::uint32_t rva, std::uint64_t len, std::uint64_t* off) const {
        for (std::uint32_t i = 0; i < count_; ++i) {
            const Section& s = sections_[i];
            std::uint64_t extent = s.vsize ? s.vsize : s.rawSize;
            if (rva < s.va || rva - s.va >= extent) continue;
            std::uint64_t delta = rva - s.va;
            if (delta + len > s.rawSize) return false;
            *off = std::uint64_t(s.rawPtr) + delta;
            return *off + len <= r_.Size();
        }
        return false;
    }

    // Reads inside the resource directory, by offset from its start.
    bool ResU32(std::uint32_t off, std::uint32_t* v) const {
        std::uint64_t at;
        if (off > resSize_ || resSize_ - off < 4 || !FileOffset(resRva_ + off, 4, &at)) return false;
        return U32(at, v);
    }
    bool ResU16(std::uint32_t off, std::uint16_t* v) const {
        std::uint64_t at;
        if (off > resSize_ || resSize_ - off < 2 || !FileOffset(resRva_ + off, 2, &at)) return false;
        return U16(at, v);
    }

    // Entry `i` of the directory at `dir`: its name word and its target word.
    bool DirEntryCount(std::uint32_t dir, std::uint32_t* count) const {
        std::uint16_t named, ids;
        if (!ResU16(dir + 12, &named) || !ResU16(dir + 14, &ids)) return false;
        *count = std::uint32_t(named) + ids;
        return true;
    }
    bool DirEntry(std::uint32_t dir, std::uint32_t i, std::uint32_t* name, std::uint32_t* target) const {
        std::uint64_t off = std::uint64_t(dir) + 16 + std::uint64_t(i) * 8;
        if (off > 0xFFFFFFF0u) return false;
        return ResU32(std::uint32_t(off), name) && ResU32(std::uint32_t(off) + 4, target);
    }

    // Whether a named entry's name is "TYPELIB" (letters in either case).
    bool NameIsTypeLib(std::uint32_t nameWord) const {
        static const char kName[] = "TYPELIB";
        std::uint32_t off = nameWord & ~kSubdirectory;
        std::uint16_t len;
        if (!ResU16(off, &len) || len != 7) return false;
        for (std::uint32_t i = 0; i < 7; ++i) {
            std::uint16_t c;
            if (!ResU16(off + 2 + i * 2, &c)) return false;
            if (c >= 'a' && c <= 'z') c = std::uint16_t(c - 'a' + 'A');
            if (c != std::uint16_t(kName[i])) return false;
        }
        return true;
    }

    const ImageReader& Reader() const { return r_; }
    // After a failed Load: the headers were sound and name no resource directory.
    bool NoResources() const { return noResources_; }

private:
    const ImageReader& r_;
    std::uint32_t resRva_ = 0, resSize_ = 0;
    Section sections_[kMaxSections];
    std::uint32_t count_ = 0;
    bool noResources_ = false;
};

}  // namespace

bool MemoryImage::Read(std::uint64_t off, void* dst, std::size_t len) const {
    if (off > n_ || len > n_ - off) return false;
    if (len) std::memcpy(dst, p_ + off, len);
    return true;
}

bool LooksLikePe(const ImageReader& image) {
    std::uint8_t mz[2];
    return image.Read(0, mz, 2) && mz[0] == 'M' && mz[1] == 'Z';
}

HRESULT ReadTypeLibResource(const ImageReader& reader, int number, std::vector<std::uint8_t>* out) {
    out->clear();
    Image image(reader);
    if (!image.Load()) return TYPE_E_CANTLOADLIBRARY;

    // Level 1: the resource type "TYPELIB".
    std::uint32_t count, name, target, typeDir = 0;
    bool found = false;
    if (!image.DirEntryCount(0, &count)) return TYPE_E_CANTLOADLIBRARY;
    for (std::uint32_t i = 0; i < count && !found; ++i) {
        if (!image.DirEntry(0, i, &name, &target)) return TYPE_E_CANTLOADLIBRARY;
        if ((name & kSubdirectory) && (target & kSubdirectory) && image.NameIsTypeLib(name)) {
            typeDir = target & ~kSubdirectory;
            found = true;
        }
    }
    if (!found) return TYPE_E_CANTLOADLIBRARY;

    // Level 2: the resource, by its integer id, or the first one.
    std::uint32_t resDir = 0;
    found = false;
    if (!image.DirEntryCount(typeDir, &count)) return TYPE_E_CANTLOADLIBRARY;
    for (std::uint32_t i = 0; i < count && !found; ++i) {
        if (!image.DirEntry(typeDir, i, &name, &target)) return TYPE_E_CANTLOADLIBRARY;
        bool match = number <= 0 || (!(name & kSubdirectory) && name == std::uint32_t(number));
        if (match && (target & kSubdirectory)) {
            resDir = target & ~kSubdirectory;
            found = true;
        }
    }
    if (!found) return TYPE_E_CANTLOADLIBRARY;

    // Level 3: the first language.
    if (!image.DirEntryCount(resDir, &count) || count == 0) return TYPE_E_CANTLOADLIBRARY;
    if (!image.DirEntry(resDir, 0, &name, &target) || (target & kSubdirectory)) return TYPE_E_CANTLOADLIBRARY;
    std::uint32_t dataRva, dataSize;
    if (!image.ResU32(target, &dataRva) || !image.ResU32(target + 4, &dataSize)) return TYPE_E_CANTLOADLIBRARY;
    if (dataSize == 0 || dataSize > kMaxFileSize) return TYPE_E_INVDATAREAD;
    std::uint64_t at;
    if (!image.FileOffset(dataRva, dataSize, &at)) return TYPE_E_INVDATAREAD;
    try {
        out->resize(dataSize);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (!reader.Read(at, out->data(), dataSize)) {
        out->clear();
        return TYPE_E_INVDATAREAD;
    }
    return S_OK;
}

bool ListTypeLibResources(const ImageReader& reader, std::vector<std::uint32_t>* ids) {
    ids->clear();
    Image image(reader);
    if (!image.Load()) return image.NoResources();
    std::uint32_t count, name, target;
    if (!image.DirEntryCount(0, &count)) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!image.DirEntry(0, i, &name, &target)) return false;
        if (!(name & kSubdirectory) || !(target & kSubdirectory) || !image.NameIsTypeLib(name)) continue;
        const std::uint32_t typeDir = target & ~kSubdirectory;
        std::uint32_t resources;
        if (!image.DirEntryCount(typeDir, &resources)) return false;
        for (std::uint32_t j = 0; j < resources && ids->size() < 256; ++j) {
            if (!image.DirEntry(typeDir, j, &name, &target)) return false;
            if (!(name & kSubdirectory)) ids->push_back(name);
        }
        return true;
    }
    return true;
}

}  // namespace tlb
