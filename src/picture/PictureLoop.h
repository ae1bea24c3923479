// The endless picture loop and the painter: each picture draws fresh random parameters and
// paints every cell of its grid once, pumping the host's events after every row.
#pragma once

#include "host/HostServices.h"
#include "picture/PictureState.h"

namespace digitmosaic {

// Paints picture after picture while state.Running holds.
void PictureLoop(PictureState& state, HostServices& host);

// Paints one picture with the parameters already in state: draws its palette, then every
// cell, row by row in raster order or along the spiral.
void DrawPicture(PictureState& state, HostServices& host);

}  // namespace digitmosaic
