// The connection, the globals, following outputs and seats, and the wait.
#include "wayland/WaylandBackend.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "system/Environment.h"
#include "system/Failure.h"
#include "xdg-shell-client-protocol.h"

namespace digitmosaic {

namespace {

WaylandBackend& Of(void* data) { return *static_cast<WaylandBackend*>(data); }

template <typename T>
T* Bind(wl_registry* registry, std::uint32_t name, const wl_interface& interface,
        std::uint32_t version, std::uint32_t most) {
    return static_cast<T*>(wl_registry_bind(registry, name, &interface, std::min(version, most)));
}

}  // namespace

const wl_registry_listener WaylandBackend::registryListener_ = {
    .global = [](void* data, wl_registry*, std::uint32_t name, const char* interface,
                 std::uint32_t version) { Of(data).Global(name, interface, version); },
    .global_remove = [](void* data, wl_registry*,
                        std::uint32_t name) { Of(data).GlobalRemoved(name); },
};

// A client that does not answer is taken for hung by the compositor.
const xdg_wm_base_listener WaylandBackend::shellListener_ = {
    .ping = [](void*, xdg_wm_base* shell,
               std::uint32_t serial) { xdg_wm_base_pong(shell, serial); },
};

WaylandBackend::WaylandBackend() : outputs_([this](Output& output) { OutputChanged(output); }) {}

WaylandBackend::~WaylandBackend() {
    surfaces_.clear();
    outputSurfaces_.clear();
    if (globals_.shell) {
        xdg_wm_base_destroy(globals_.shell);
    }
    if (globals_.shm) {
        wl_shm_destroy(globals_.shm);
    }
    if (globals_.compositor) {
        wl_compositor_destroy(globals_.compositor);
    }
    if (registry_) {
        wl_registry_destroy(registry_);
    }
}

void WaylandBackend::Connect() {
    if (display_) {
        return;
    }
    std::string socket = EnvironmentValue("WAYLAND_DISPLAY");
    socket = Quoted(socket.empty() ? "wayland-0" : socket);
    display_.reset(wl_display_connect(nullptr));
    if (!display_) {
        FailWithoutDisplay("could not connect to the Wayland display " + socket);
    }
    registry_ = wl_display_get_registry(display_.get());
    wl_registry_add_listener(registry_, &registryListener_, this);
    if (wl_display_roundtrip(display_.get()) < 0) {  // the globals
        FailWithoutDisplay("no Wayland compositor answers at " + socket);
    }
    for (const auto& [global, name] :
         {std::pair<void*, const char*>{globals_.compositor, "wl_compositor"},
          {globals_.shm, "wl_shm"},
          {globals_.shell, "xdg_wm_base"}}) {
        if (!global) {
            FailWithoutDisplay(std::string("the compositor offers no ") + name);
        }
    }
    Roundtrip();  // the outputs' properties and the seats' capabilities
}

void WaylandBackend::Global(std::uint32_t name, const char* interface, std::uint32_t version) {
    const std::string_view which = interface;
    if (which == wl_compositor_interface.name && !globals_.compositor) {
        globals_.compositor =
            Bind<wl_compositor>(registry_, name, wl_compositor_interface, version, 4);
    } else if (which == wl_shm_interface.name && !globals_.shm) {
        globals_.shm = Bind<wl_shm>(registry_, name, wl_shm_interface, version, 1);
    } else if (which == xdg_wm_base_interface.name && !globals_.shell) {
        globals_.shell = Bind<xdg_wm_base>(registry_, name, xdg_wm_base_interface, version, 2);
        xdg_wm_base_add_listener(globals_.shell, &shellListener_, this);
    } else if (which == wl_output_interface.name) {
        outputs_.Add(registry_, name, version);
    } else if (which == wl_seat_interface.name) {
        seats_.push_back(std::make_unique<Seat>(
            registry_, name, version, [this](wl_surface* surface) { return SurfaceOf(surface); }));
        if (events_) {
            seats_.back()->Report(*events_);
        }
    }
}

void WaylandBackend::GlobalRemoved(std::uint32_t name) {
    // An output's surface goes before the output.
    const auto covering =
        std::find_if(outputSurfaces_.begin(), outputSurfaces_.end(),
                     [name](const auto& surface) { return surface->On().name == name; });
    if (covering != outputSurfaces_.end()) {
        for (const auto& seat : seats_) {
            seat->Forget((*covering)->Id());
        }
        outputSurfaces_.erase(covering);
        ListSurfaces();
    }
    if (outputs_.Remove(name)) {
        return;
    }
    std::erase_if(seats_, [name](const auto& seat) { return seat->Name() == name; });
}

void WaylandBackend::OutputChanged(Output& output) {
    if (!events_) {
        return;  // covered when the surfaces open
    }
    const auto covering =
        std::find_if(outputSurfaces_.begin(), outputSurfaces_.end(),
                     [&output](const auto& surface) { return &surface->On() == &output; });
    if (covering != outputSurfaces_.end()) {
        (*covering)->OutputChanged();
        return;
    }
    outputSurfaces_.push_back(std::make_unique<OutputSurface>(globals_, output, *events_));
    OutputSurface& added = *outputSurfaces_.back();
    if (shown_) {
        added.Show();
    }
    ListSurfaces();
    events_->SurfaceAdded(added);
}

void WaylandBackend::ListSurfaces() {
    surfaces_.clear();
    for (const Output& output : outputs_.All()) {
        for (const auto& surface : outputSurfaces_) {
            if (&surface->On() == &output) {
                surfaces_.push_back(surface.get());
            }
        }
    }
}

const OutputSurface* WaylandBackend::SurfaceOf(wl_surface* surface) const {
    for (const auto& candidate : outputSurfaces_) {
        if (surface && candidate->Id() == surface) {
            return candidate.get();
        }
    }
    return nullptr;
}

ScreenSize WaylandBackend::PrimaryScreen() {
    const Output* primary = outputs_.Primary();
    return primary ? ScreenSize{primary->width, primary->height, 96} : ScreenSize{};
}

Backend::Clock::duration WaylandBackend::Refresh() const {
    const Output* primary = outputs_.Primary();
    const int milliHertz = primary ? primary->refreshMilliHertz : 0;
    if (milliHertz >= 1'000 && milliHertz <= 1'000'000) {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::nanoseconds(1'000'000'000'000LL / milliHertz));
    }
    return std::chrono::microseconds(16'667);  // 60 Hz where the output does not say
}

std::uint64_t WaylandBackend::FramesAsked() const {
    std::uint64_t frames = 0;
    for (const auto& surface : outputSurfaces_) {
        frames += surface->FramesDone();
    }
    return frames;
}

void WaylandBackend::OpenSurfaces(BackendEvents& events) {
    events_ = &events;
    for (const auto& seat : seats_) {
        seat->Report(events);
    }
    for (const Output& output : outputs_.All()) {
        if (output.ready) {
            outputSurfaces_.push_back(std::make_unique<OutputSurface>(globals_, output, events));
        }
    }
    ListSurfaces();
}

void WaylandBackend::Show() {
    if (shown_) {
        return;
    }
    shown_ = true;
    for (const auto& surface : outputSurfaces_) {
        surface->Show();
    }
    Flush(0);
}

bool WaylandBackend::Wait(std::optional<Clock::time_point> deadline) {
    wl_display* const display = display_.get();
    for (;;) {
        // What has arrived already is handled without reading; the read is prepared only once
        // the queue is empty, so that nothing read meanwhile is slept over.
        int handled = 0;
        while (wl_display_prepare_read(display) != 0) {
            if ((handled = wl_display_dispatch_pending(display)) < 0) {
                Lost();
            }
            if (handled > 0) {
                Flush(0);
                return true;
            }
        }
        // What cannot be sent now is sent as room comes, while the server's news is read.
        const bool unsent = wl_display_flush(display) < 0;
        if (unsent && errno != EAGAIN) {
            wl_display_cancel_read(display);
            Lost();
        }
        int timeout = -1;
        if (deadline) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
            timeout = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
        }
        // With nothing to send, handle or wait for, only the compositor wakes the process.
        const bool sleeping = timeout < 0 && !unsent && events_;
        if (sleeping) {
            events_->Sleeping();
        }
        pollfd connection{wl_display_get_fd(display),
                          static_cast<short>(POLLIN | (unsent ? POLLOUT : 0)), 0};
        const int ready = poll(&connection, 1, timeout);
        if (ready < 0 && errno != EINTR) {
            wl_display_cancel_read(display);
            Lost();
        }
        if (sleeping) {
            events_->Awake();
        }
        if (ready > 0 && (connection.revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            if (wl_display_read_events(display) < 0) {
                Lost();
            }
        } else {
            wl_display_cancel_read(display);
        }
        if ((handled = wl_display_dispatch_pending(display)) < 0) {
            Lost();
        }
        if (handled > 0) {
            Flush(0);
            return true;
        }
        if (ready == 0 || (deadline && Clock::now() >= *deadline)) {
            return false;
        }
    }
}

void WaylandBackend::Hide() {
    if (!display_) {
        return;
    }
    // The desktop comes back as soon as the compositor has the requests.
    surfaces_.clear();
    outputSurfaces_.clear();
    Flush(1'000);
}

void WaylandBackend::Roundtrip() {
    if (wl_display_roundtrip(display_.get()) < 0) {
        Lost();
    }
}

bool WaylandBackend::Flush(int milliseconds) {
    const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (wl_display_flush(display_.get()) < 0) {
        if (errno != EAGAIN) {
            Lost();
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        pollfd connection{wl_display_get_fd(display_.get()), POLLOUT, 0};
        if (left <= 0 || poll(&connection, 1, static_cast<int>(left)) <= 0) {
            return false;
        }
    }
    return true;
}

void WaylandBackend::Lost() { Fail("lost the connection to the display"); }

}  // namespace digitmosaic
