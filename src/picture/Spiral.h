// The spiral walker: places cells along a rectangular spiral that starts near the middle of
// a grid wider than tall and winds outwards, counter-clockwise on screen, until the grid is
// covered.
#pragma once

#include "picture/PictureState.h"

namespace digitmosaic {

// Sets the walker on the start cell for the current GridWidth and GridHeight.
void StartSpiral(PictureState& state);

// Moves the walker one cell on.
void StepSpiral(PictureState& state);

}  // namespace digitmosaic
