// The endless picture loop and the painter of one picture.
#include "picture/PictureLoop.h"

#include <cmath>

#include "picture/DigitColors.h"
#include "picture/Spiral.h"

namespace digitmosaic {

namespace {

// floor(unit * count) + first, in double precision: a unit below 1 stays below first + count.
template <typename Int>
Int DrawInRange(HostServices& host, int count, int first) {
    return static_cast<Int>(std::floor(static_cast<double>(host.RandomUnit()) * count) + first);
}

}  // namespace

void PictureLoop(PictureState& state, HostServices& host) {
    while (state.Running) {
        state.NumberBase = DrawInRange<std::int16_t>(host, 9, 2);
        state.GridHeight = DrawInRange<std::int16_t>(host, 260, 40);
        state.GridWidth = std::floor(state.GridHeight * 1.2);
        state.AverageMode = host.RandomUnit() < 0.5F;
        state.SpiralMode = host.RandomUnit() < 0.5F;
        state.NextNumber = DrawInRange<std::int32_t>(host, 20000, 1);
        state.DigitCount = 0;
        DrawPicture(state, host);
    }
}

void DrawPicture(PictureState& state, HostServices& host) {
    for (PackedColor& color : state.Palette) {
        color = DrawInRange<PackedColor>(host, 16777216, 0);
    }
    StartSpiral(state);
    host.SetLogicalScale(0, 0, state.GridWidth, state.GridHeight);

    for (std::int32_t row = 0; row < state.GridHeight; ++row) {
        const auto width = static_cast<std::int32_t>(state.GridWidth);
        for (std::int32_t col = 0; col < width; ++col) {
            const PackedColor color =
                state.AverageMode ? AverageDigitColor(state) : NextDigitColor(state);
            if (!state.SpiralMode) {
                state.CellX = col;
                state.CellY = row;
            }
            host.DrawBox(static_cast<float>(state.CellX), static_cast<float>(state.CellY), 1, 1,
                         color);
            StepSpiral(state);
        }
        host.PumpEvents();
        if (!state.Running) {
            return;
        }
    }
}

}  // namespace digitmosaic
