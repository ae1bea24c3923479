// Turning raw generator output into the program's random unit values.
#pragma once

#include <cstdint>

namespace digitmosaic {

// The top 24 bits of a 32-bit draw as a float in [0, 1): every value is exact, and the
// largest, 1 - 2^-24, stays below 1.
constexpr float UnitFromBits(std::uint32_t bits) {
    return static_cast<float>(bits >> 8) * 0x1p-24F;
}

static_assert(UnitFromBits(0xFFFFFFFFU) < 1.0F && UnitFromBits(0) == 0.0F);

}  // namespace digitmosaic
