// Colours as the program passes them around: 24 bits packed into a 32-bit integer,
// red in the low byte, green in the middle byte, blue in the high byte.
#pragma once

#include <cstdint>

namespace digitmosaic {

using PackedColor = std::int32_t;

// red + 256 * green + 65536 * blue, each channel 0..255.
constexpr PackedColor PackRgb(int red, int green, int blue) {
    return red + 256 * green + 65536 * blue;
}

}  // namespace digitmosaic
