// The part of every host that needs no window system: the command line with the hosts' additions
// taken, the random sequence, the clock, and the place the instance lock claims.
#pragma once

#include <random>
#include <string>

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

  protected:
    HostArguments arguments_;              // with the hosts' additions after "/s" taken
    HostWindowRequest hostWindowRequest_;  // from the arguments or XSCREENSAVER_WINDOW
    InstanceLock instanceLock_;

  private:
    std::mt19937 random_;
};

// The arguments after the program's name.
std::vector<std::string> ArgumentsOf(int argc, char** argv);

}  // namespace digitmosaic
