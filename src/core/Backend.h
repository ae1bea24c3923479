// What a display server gives the saver core, and all that differs between X11 and Wayland: the
// connection, the instance lock, the monitors (or outputs) with a surface on each, presenting the
// strips that changed, and one wait until a deadline or an event. The core above it owns the
// pacing, what counts as seen, the watchdog's beats and the program's handlers.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/BackendEvents.h"
#include "core/Surface.h"

namespace digitmosaic {

// The primary monitor as the program measures the screen: its size in device pixels and the
// desktop's logical dots per inch, for twips.
struct ScreenSize {
    int width = 0;
    int height = 0;
    double dotsPerInch = 96;
};

class Backend {
  public:
    using Clock = std::chrono::steady_clock;

    virtual ~Backend() = default;

    // Connects to the display server; one line and status 1 when it cannot.
    virtual void Connect() = 0;
    // True when an earlier instance of this user holds the lock for this display (and place);
    // otherwise takes it for this process.
    virtual bool AnotherInstanceRunning() = 0;
    virtual ScreenSize PrimaryScreen() = 0;
    // Moves the pointer to the device pixel, clamped to the primary monitor; nothing where the
    // server lets no client move it, or in a host's window.
    virtual void ParkPointer(int x, int y) = 0;
    virtual void Beep() = 0;

    // Makes a surface on every monitor (or the host's window), not shown yet, and reports to
    // `events` from then on, from inside Wait only. One line and status 1 when it cannot.
    virtual void OpenSurfaces(BackendEvents& events) = 0;
    // Shows the surfaces over everything and takes the keyboard and the pointer.
    virtual void Show() = 0;
    // What the picture is painted on, the primary monitor's first; changes only inside Wait.
    virtual const std::vector<Surface*>& Surfaces() const = 0;
    // One refresh of the primary monitor.
    virtual Clock::duration Refresh() const = 0;
    // How many times a server that paces its clients (a compositor's frame callbacks) has asked for
    // the next picture: a pump returns as soon as it asks, before the refresh's deadline. Never
    // changes where the server does not pace its clients.
    virtual std::uint64_t FramesAsked() const { return 0; }

    // Sends what is queued, handles what has already arrived and, when nothing had, sleeps until
    // something arrives or the deadline passes (no deadline: until something arrives), handling
    // it. True when anything was handled. One line and status 1 when the connection is lost.
    virtual bool Wait(std::optional<Clock::time_point> deadline) = 0;
    // Readable whenever the server has sent something: the watchdog watches it while it rests.
    virtual int EventDescriptor() const = 0;
    // Takes the surfaces off the screen at once, before the process ends.
    virtual void Hide() = 0;
};

}  // namespace digitmosaic
