// The two cell-colour sources: the digit stream of consecutive numbers written in the
// picture's base, one digit per cell or one number per cell.
#pragma once

#include "host/PackedColor.h"
#include "picture/PictureState.h"

namespace digitmosaic {

// The palette colour of the next digit of the stream, most significant digit first.
PackedColor NextDigitColor(PictureState& state);

// The mean colour of all digits of the next number, each channel rounded down.
PackedColor AverageDigitColor(PictureState& state);

}  // namespace digitmosaic
