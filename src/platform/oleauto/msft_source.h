// The reader of the MSFT type-library format.
#pragma once

#include "platform/oleauto/typelib_source.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tlb {

// Whether the bytes start like an MSFT library.
bool IsMsft(const std::vector<std::uint8_t>& bytes);
// A source over the bytes (taken over on success); TYPE_E_INVDATAREAD when the header or the
// segment directory is damaged.
HRESULT OpenMsftSource(std::vector<std::uint8_t>& bytes, std::unique_ptr<LibrarySource>* out);

}  // namespace tlb
