// The saver's surface on one output: a fullscreen xdg_toplevel there, its picture in memory
// shared with the compositor, presented as the strips that changed and paced by the compositor's
// frame callbacks, which also say whether it can be seen. One buffer where the compositor lets go
// of it once it has read it; a second where it keeps the one it shows (sway on its software
// renderer reads it at every repaint).
#pragma once

#include <wayland-client.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/BackendEvents.h"
#include "core/DirtyStrips.h"
#include "core/Surface.h"
#include "wayland/Outputs.h"

// xdg-shell's, generated into the build.
struct xdg_surface;
struct xdg_surface_listener;
struct xdg_toplevel;
struct xdg_toplevel_listener;
struct xdg_wm_base;

namespace digitmosaic {

// The compositor's globals a surface is made with.
struct Globals {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* shell = nullptr;
};

class OutputSurface final : public Surface {
  public:
    // Not shown until Show.
    OutputSurface(const Globals& globals, const Output& output, BackendEvents& events);
    ~OutputSurface() override;
    OutputSurface(const OutputSurface&) = delete;
    OutputSurface& operator=(const OutputSurface&) = delete;

    // Asks the compositor to show it fullscreen on its output; black until the first picture.
    void Show();
    // Fits it to its output again once the output changed (its scale, or its mode).
    void OutputChanged();
    void Present() override;
    // Configured, and the compositor has shown the last present (the frame callback came):
    // none comes while the surface cannot be seen.
    bool Visible() const override;
    // How many frame callbacks the compositor has sent.
    std::uint64_t FramesDone() const { return framesDone_; }

    const Output& On() const { return output_; }
    wl_surface* Id() const { return surface_; }
    // Device pixels per surface unit, for pointer positions.
    int Scale() const { return scale_; }

  private:
    struct Buffer;

    static const xdg_surface_listener surfaceListener_;
    static const xdg_toplevel_listener toplevelListener_;
    static const wl_callback_listener frameListener_;

    void Configure(std::uint32_t serial);
    // Sizes the buffer in device pixels to the configured size (or the output's) at the output's
    // scale, and commits what that changed.
    void Fit();
    // A buffer of the new size, keeping the earlier pictures where they were.
    void Resize(int width, int height);
    // The buffer to draw into, holding what is shown and what is drawn since; null while the
    // compositor holds every buffer.
    Buffer* Drawable();
    void Commit();

    const Globals& globals_;
    const Output& output_;
    BackendEvents& events_;
    wl_surface* surface_ = nullptr;
    xdg_surface* shellSurface_ = nullptr;
    xdg_toplevel* toplevel_ = nullptr;
    wl_callback* frame_ = nullptr;  // outstanding
    std::uint64_t framesDone_ = 0;
    std::unique_ptr<Buffer> buffers_[2];  // the second made only when needed
    Buffer* shown_ = nullptr;             // the one committed last
    Buffer* drawn_ = nullptr;             // the one being drawn into, not committed yet
    DirtyStrips unshown_;                 // what that one has that the shown one lacks
    int sizeWidth_ = 0;  // the last configure's, in surface units; 0 leaves it to the surface
    int sizeHeight_ = 0;
    int scale_ = 1;
    bool configured_ = false;
};

}  // namespace digitmosaic
