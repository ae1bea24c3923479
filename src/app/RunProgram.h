// The program on a host: the saver's and the about window's code built on it, handed to Main.
#pragma once

#include "picture/PictureState.h"
#include "saver/form1.h"
#include "startup/Main.h"
#include "startup/about.h"
#include "system/Watchdog.h"

namespace digitmosaic {

template <typename Host>
int RunProgram(Host& host) {
    host.EnableWatchdog(kWatchdogPatience);
    PictureState state;
    form1 saver(host, state);
    about aboutBox(host);
    Main(host, saver, aboutBox);
    return host.RunWhileWindowsOpen();
}

}  // namespace digitmosaic
