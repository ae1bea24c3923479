// The saver's backend on a Wayland compositor, with libwayland-client alone: the connection and
// its globals, a fullscreen surface on every output as outputs come and go, the seats' input, the
// instance lock on the runtime directory, and the one wait on the connection.
#pragma once

#include <wayland-client.h>

#include <memory>
#include <vector>

#include "core/Backend.h"
#include "system/RuntimeDirectoryLock.h"
#include "wayland/OutputSurface.h"
#include "wayland/Outputs.h"
#include "wayland/Seat.h"

struct xdg_wm_base_listener;

namespace digitmosaic {

class WaylandBackend final : public Backend {
  public:
    WaylandBackend();
    ~WaylandBackend() override;
    WaylandBackend(const WaylandBackend&) = delete;
    WaylandBackend& operator=(const WaylandBackend&) = delete;

    void Connect() override;
    bool AnotherInstanceRunning() override { return lock_.AnotherInstanceRunning(); }
    ScreenSize PrimaryScreen() override;
    // Wayland lets no client move the pointer or ring a bell: both do nothing.
    void ParkPointer(int /*x*/, int /*y*/) override {}
    void Beep() override {}

    void OpenSurfaces(BackendEvents& events) override;
    void Show() override;
    const std::vector<Surface*>& Surfaces() const override { return surfaces_; }
    Clock::duration Refresh() const override;
    std::uint64_t FramesAsked() const override;

    bool Wait(std::optional<Clock::time_point> deadline) override;
    int EventDescriptor() const override { return wl_display_get_fd(display_.get()); }
    void Hide() override;

  private:
    static const wl_registry_listener registryListener_;
    static const xdg_wm_base_listener shellListener_;

    void Global(std::uint32_t name, const char* interface, std::uint32_t version);
    void GlobalRemoved(std::uint32_t name);
    // An output complete, or changed: covered once surfaces are open.
    void OutputChanged(Output& output);
    void ListSurfaces();
    const OutputSurface* SurfaceOf(wl_surface* surface) const;
    void Roundtrip();
    // Sends what is queued, waiting for room at most for the timeout; false when some is left.
    bool Flush(int milliseconds);
    [[noreturn]] static void Lost();

    // Closed last, once every object on it is gone.
    std::unique_ptr<wl_display, decltype(&wl_display_disconnect)> display_{nullptr,
                                                                           &wl_display_disconnect};
    wl_registry* registry_ = nullptr;
    Globals globals_;
    Outputs outputs_;
    std::vector<std::unique_ptr<Seat>> seats_;
    std::vector<std::unique_ptr<OutputSurface>> outputSurfaces_;
    std::vector<Surface*> surfaces_;  // the same, in the outputs' order
    BackendEvents* events_ = nullptr;
    bool shown_ = false;
    RuntimeDirectoryLock lock_;
};

}  // namespace digitmosaic
