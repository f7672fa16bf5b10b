// The SLTG type-library format: the older format written by MkTypLib and the first
// CreateTypeLib (stdole32.tlb, the VBA object libraries of the mid-nineties, ...).
#pragma once

#include "platform/oleauto/typelib_source.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tlb {

// True when the bytes start with the SLTG signature.
bool IsSltgLibrary(std::span<const std::uint8_t> bytes);

// Indexes an SLTG library and gives its source; TYPE_E_INVDATAREAD when its directory is
// damaged. Takes the bytes over.
HRESULT OpenSltgSource(std::vector<std::uint8_t> bytes, std::unique_ptr<LibrarySource>* out);

}  // namespace tlb
