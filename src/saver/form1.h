// The saver window's program code: its load handler starts the endless picture loop, and
// every input event ends the program.
#pragma once

#include <cstdint>

#include "host/HostServices.h"
#include "picture/PictureState.h"

namespace digitmosaic {

class form1 final : public SaverWindowEvents {
  public:
    form1(HostServices& host, PictureState& state) : host_(host), state_(state) {}

    // Shows the window, seeds the random sequence from the time of day and paints pictures
    // for the rest of the process's life.
    void Form_Load() override;

    void Form_Click() override;
    void Form_KeyDown(int keyCode, int shift) override;
    void Form_MouseDown(int button, int shift, float x, float y) override;
    // The first two moves are ignored, and so is a move reported at the parked position.
    void Form_MouseMove(int button, int shift, float x, float y) override;
    void Form_Unload(bool& cancel) override;

  private:
    void Close();  // unloads the window and ends the program

    HostServices& host_;
    PictureState& state_;
    std::int16_t MoveCount = 0;
};

}  // namespace digitmosaic
