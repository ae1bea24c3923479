// The part of every host that needs no window system: the command line with the hosts' additions
// taken, the host's window it names, the random sequence, the clock, the place the instance lock
// claims, and the watchdog.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "host/HostArguments.h"
#include "host/HostServices.h"
#include "system/Environment.h"
#include "system/InstanceLock.h"

namespace digitmosaic {

class ProcessHost : public HostServices {
  public:
    ProcessHost(int argc, char** argv);

    float RandomUnit() override;
    void SeedRandom(float seed) override;
    float SecondsSinceMidnight() override;
    std::string ArgumentString() override;

    // From the saver's opening on, a watchdog ends the process when the painting loop stops
    // delivering input for this many seconds (see Watchdog.h).
    void EnableWatchdog(int seconds) { watchdogSeconds_ = seconds; }

  protected:
    // Starts the watchdog, if enabled; one line and status 1 when it cannot.
    void StartWatchdog() const;
    // The name of where the host's window was given ("--window-id", "XSCREENSAVER_WINDOW" or
    // "-root"), for messages; one line and status 1 when what was given is not a window id.
    std::string HostWindowSource() const;

    HostArguments arguments_;              // with the hosts' additions after "/s" taken
    HostWindowRequest hostWindowRequest_;  // from the arguments or XSCREENSAVER_WINDOW
    InstanceLock instanceLock_;

  private:
    std::mt19937 random_;
    int watchdogSeconds_ = 0;  // none
};

// The arguments after the program's name.
std::vector<std::string> ArgumentsOf(int argc, char** argv);

}  // namespace digitmosaic
