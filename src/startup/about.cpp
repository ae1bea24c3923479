// The about window's handler: OK ends the program.
#include "startup/about.h"

namespace digitmosaic {

void about::Command1_Click() {
    host_.UnloadWindow(*this);
    host_.EndProgram();
}

}  // namespace digitmosaic
