// The spiral walker: from the middle of the grid outwards, counter-clockwise.
#include "picture/Spiral.h"

namespace digitmosaic {

namespace {
enum Heading : std::int32_t { kDown = 0, kRight = 1, kUp = 2, kLeft = 3 };
}

void StartSpiral(PictureState& state) {
    const auto width = static_cast<std::int32_t>(state.GridWidth);
    const std::int32_t height = state.GridHeight;
    const std::int32_t firstRun = width - height + 1;

    state.CellY = height / 2;
    state.CellX = (width - firstRun + 1) / 2;
    state.SpiralBottom = state.CellY;
    state.SpiralTop = state.CellY;
    state.SpiralLeft = state.CellX;
    state.SpiralRight = state.CellX + firstRun - 1;
    state.SpiralHeading = kRight;
}

// At the limit ahead, the walker turns a quarter counter-clockwise (on screen), pushes the
// limit on the new side one cell outwards and moves one cell that way.
void StepSpiral(PictureState& state) {
    switch (state.SpiralHeading) {
        case kDown:
            if (state.CellY == state.SpiralBottom) {
                state.SpiralRight += 1;
                state.SpiralHeading = kRight;
                state.CellX += 1;
            } else {
                state.CellY += 1;
            }
            break;
        case kRight:
            if (state.CellX == state.SpiralRight) {
                state.SpiralTop -= 1;
                state.SpiralHeading = kUp;
                state.CellY -= 1;
            } else {
                state.CellX += 1;
            }
            break;
        case kUp:
            if (state.CellY == state.SpiralTop) {
                state.SpiralLeft -= 1;
                state.SpiralHeading = kLeft;
                state.CellX -= 1;
            } else {
                state.CellY -= 1;
            }
            break;
        case kLeft:
            if (state.CellX == state.SpiralLeft) {
                state.SpiralBottom += 1;
                state.SpiralHeading = kDown;
                state.CellY += 1;
            } else {
                state.CellX -= 1;
            }
            break;
        default:
            break;
    }
}

}  // namespace digitmosaic
