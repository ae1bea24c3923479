// The one picture record of the program: the parameters of the picture being painted, the
// digit stream that colours its cells, and the spiral walker that places them.
#pragma once

#include <array>
#include <cstdint>

#include "host/PackedColor.h"

namespace digitmosaic {

struct PictureState {
    bool Running = false;                   // set by the saver window's load; never cleared
    std::int16_t NumberBase = 0;            // 2..10
    std::int16_t GridHeight = 0;            // rows, 40..299
    double GridWidth = 0;                   // columns, 48..358, always integral
    bool AverageMode = false;               // one number per cell, averaged colour
    bool SpiralMode = false;                // cells placed by the spiral walker
    std::int32_t NextNumber = 0;            // next integer to write out in NumberBase
    std::int16_t DigitCount = 0;            // digits of the current number still waiting
    std::array<std::int16_t, 26> Digits{};  // least significant at index 0
    std::array<PackedColor, 10> Palette{};  // one colour per digit value
    std::int32_t CellX = 0;                 // column of the next cell
    std::int32_t CellY = 0;                 // row of the next cell
    std::int32_t SpiralTop = 0;
    std::int32_t SpiralBottom = 0;
    std::int32_t SpiralLeft = 0;
    std::int32_t SpiralRight = 0;
    std::int32_t SpiralHeading = 0;  // 0 down, 1 right, 2 up, 3 left
};

}  // namespace digitmosaic
