// Helpers of the combined-module listing, shared only with its tests.
#pragma once

#include <cstdint>
#include <string>

namespace listing_internal {

// The K figure of a byte count: bytes / 1024 with two decimals, a value exactly halfway
// between two hundredths rounded up (0x80 bytes give "0.13").  No unit, no padding.
std::string k_figure(std::uint32_t bytes);

}  // namespace listing_internal
