// The program code's host in the tests that run it without a display: every call the test does not
// ask about is answered with nothing, as for the saver ("/s") alone on its machine.
#pragma once

#include <cstdint>
#include <string>

#include "host/HostServices.h"

namespace digitmosaic {

struct QuietHost : HostServices {
    std::string ArgumentString() override { return "/s"; }
    bool AnotherInstanceRunning() override { return false; }
    void SetCursorPos(std::int32_t, std::int32_t) override {}
    void SystemBeep() override {}
    void OpenWindow(SaverWindowEvents&) override {}
    void OpenWindow(AboutWindowEvents&) override {}
    void ShowWindow(SaverWindowEvents&) override {}
    void UnloadWindow(SaverWindowEvents&) override {}
    void UnloadWindow(AboutWindowEvents&) override {}
};

}  // namespace digitmosaic
