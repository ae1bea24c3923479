// The saver window's handlers: its load starts the picture loop, every input ends the program.
#include "saver/form1.h"

#include <limits>

#include "picture/PictureLoop.h"

namespace digitmosaic {

void form1::Form_Load() {
    host_.ShowWindow(*this);
    host_.SeedRandom(host_.SecondsSinceMidnight());
    state_.Running = true;
    PictureLoop(state_, host_);
}

void form1::Form_Click() { Close(); }

void form1::Form_KeyDown(int /*keyCode*/, int /*shift*/) { Close(); }

void form1::Form_MouseDown(int /*button*/, int /*shift*/, float /*x*/, float /*y*/) { Close(); }

void form1::Form_MouseMove(int /*button*/, int /*shift*/, float x, float y) {
    // Counts up to the type's limit and stays there, so a flood of moves never wraps the
    // count back into the ignored range.
    if (MoveCount < std::numeric_limits<std::int16_t>::max()) {
        MoveCount += 1;
    }
    if (MoveCount <= 2) {
        return;
    }
    if (x == host_.ScreenWidthTwips() && y == host_.ScreenHeightTwips()) {
        return;
    }
    Close();
}

void form1::Form_Unload(bool& /*cancel*/) { Close(); }

void form1::Close() {
    host_.UnloadWindow(*this);
    host_.EndProgram();
}

}  // namespace digitmosaic
