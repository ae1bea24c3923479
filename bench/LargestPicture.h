// The largest picture the saver paints (358 x 299 cells), of one of its four kinds, ready for
// DrawPicture. Numbers start at 20000, the longest; base 2 is the costliest digit stream and
// base 10 the cheapest.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "picture/PictureState.h"

namespace digitmosaic::bench {

inline constexpr int kLargestCells = 358 * 299;

inline PictureState LargestPicture(bool averageMode, bool spiralMode, int numberBase) {
    PictureState state;
    state.Running = true;
    state.NumberBase = static_cast<std::int16_t>(numberBase);
    state.GridHeight = 299;
    state.GridWidth = 358;
    state.AverageMode = averageMode;
    state.SpiralMode = spiralMode;
    state.NextNumber = 20000;
    state.DigitCount = 0;
    return state;
}

// The same from the benchmark's arguments: average mode, spiral mode, number base.
inline PictureState LargestPicture(const benchmark::State& state) {
    return LargestPicture(state.range(0) != 0, state.range(1) != 0,
                          static_cast<int>(state.range(2)));
}

}  // namespace digitmosaic::bench
