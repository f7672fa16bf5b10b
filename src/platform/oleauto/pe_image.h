// Type libraries inside PE32 / PE32+ images: the TYPELIB resources.
#pragma once

#include "platform/oleauto/oleauto.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tlb {

// Random access to the bytes of an image, in memory or in a file.
class ImageReader {
public:
    virtual ~ImageReader() = default;
    virtual std::uint64_t Size() const = 0;
    // Reads exactly `len` bytes at `off`; false when they are not all there.
    virtual bool Read(std::uint64_t off, void* dst, std::size_t len) const = 0;
};

class MemoryImage final : public ImageReader {
public:
    MemoryImage(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}
    std::uint64_t Size() const override { return n_; }
    bool Read(std::uint64_t off, void* dst, std::size_t len) const override;

private:
    const std::uint8_t* p_;
    std::size_t n_;
};

// Whether the image starts with the DOS signature of a PE image.
// An open file read in place, for images of which only the resource is needed. The file
// descriptor stays the caller's.
class FileImage final : public ImageReader {
public:
    FileImage(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t off, void* dst, std::size_t len) const override;

private:
    int fd_;
    std::uint64_t size_;
};

bool LooksLikePe(const ImageReader& image);

// The bytes of TYPELIB resource `number` (its integer id; 0: the first one). Fails with
// TYPE_E_CANTLOADLIBRARY when the image has no such resource or its headers or resource
// directory are damaged, TYPE_E_INVDATAREAD when the resource's data is not in the file.
HRESULT ReadTypeLibResource(const ImageReader& image, int number, std::vector<std::uint8_t>* out);

// The integer ids of the image's TYPELIB resources, in directory order (at most 256); false
// when the image's headers or resource directory cannot be read. For saying why a load failed.
bool ListTypeLibResources(const ImageReader& image, std::vector<std::uint32_t>* ids);

}  // namespace tlb
