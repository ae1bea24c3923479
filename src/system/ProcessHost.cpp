// The hosts' shared part: arguments, the host's window named, random sequence, clock, watchdog.
#include "system/ProcessHost.h"

#include <bit>
#include <chrono>
#include <ctime>

#include "host/RandomUnit.h"
#include "system/Failure.h"
#include "system/Watchdog.h"

namespace digitmosaic {

std::vector<std::string> ArgumentsOf(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return arguments;
}

ProcessHost::ProcessHost(int argc, char** argv)
    : arguments_(ParseHostArguments(ArgumentsOf(argc, argv))),
      hostWindowRequest_(HostWindowFrom(arguments_)),
      instanceLock_(InstanceScope(hostWindowRequest_)),
      random_(std::random_device{}()) {}

float ProcessHost::RandomUnit() { return UnitFromBits(static_cast<std::uint32_t>(random_())); }

void ProcessHost::SeedRandom(float seed) { random_.seed(std::bit_cast<std::uint32_t>(seed)); }

float ProcessHost::SecondsSinceMidnight() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto fraction =
        std::chrono::duration<double>(now - std::chrono::floor<std::chrono::seconds>(now));
    return static_cast<float>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec +
                              fraction.count());
}

std::string ProcessHost::ArgumentString() { return arguments_.argument; }

void ProcessHost::StartWatchdog() const {
    if (watchdogSeconds_ > 0 && !digitmosaic::StartWatchdog(watchdogSeconds_)) {
        Fail("cannot start the watchdog thread (out of memory or threads?)");
    }
}

std::string ProcessHost::HostWindowSource() const {
    if (!hostWindowRequest_.Given()) {
        return "-root";
    }
    if (!hostWindowRequest_.id) {
        Fail(hostWindowRequest_.source + " is not a window id: \"" +
             Quoted(hostWindowRequest_.text) + "\"");
    }
    return hostWindowRequest_.source;
}

}  // namespace digitmosaic
