// A fullscreen toplevel on one output: its configures, its shared buffer and its presents.
#include "wayland/OutputSurface.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "system/Failure.h"
#include "xdg-shell-client-protocol.h"

namespace digitmosaic {

namespace {

constexpr double kDotsPerInch = 96;  // the desktop's logical resolution, for twips

OutputSurface& Of(void* data) { return *static_cast<OutputSurface*>(data); }

}  // namespace

// The picture as the compositor reads it: 32-bit 0xFFRRGGBB pixels (XRGB8888, which every
// compositor takes) in memory this process shares with it, black when made. Busy from being
// committed until the compositor releases it: nothing is written into it meanwhile.
struct OutputSurface::Buffer {
    wl_buffer* proxy = nullptr;
    Pixel* pixels = nullptr;
    std::size_t bytes = 0;
    int width = 0;
    int height = 0;
    bool busy = false;
    DirtyStrips behind;  // what the other buffer got since this one was last brought up to date

    static const wl_buffer_listener listener;

    Buffer(wl_shm* shm, int w, int h) : bytes(std::size_t(w) * std::size_t(h) * sizeof(Pixel)) {
        // A pool's size is a 32-bit number.
        const int fd = bytes <= INT32_MAX ? memfd_create("digitmosaic-picture", MFD_CLOEXEC) : -1;
        void* address = MAP_FAILED;
        if (fd >= 0 && ftruncate(fd, static_cast<off_t>(bytes)) == 0) {
            address = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        }
        if (address == MAP_FAILED) {
            Fail("cannot share a picture of " + std::to_string(w) + " x " + std::to_string(h) +
                 " pixels with the compositor: " +
                 (bytes > INT32_MAX ? "too large" : std::strerror(errno)));
        }
        pixels = static_cast<Pixel*>(address);
        width = w;
        height = h;
        // The buffer keeps the pool, and the pool the memory: neither the descriptor nor the pool
        // is needed after this.
        wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(bytes));
        proxy = wl_shm_pool_create_buffer(pool, 0, w, h, w * 4, WL_SHM_FORMAT_XRGB8888);
        wl_shm_pool_destroy(pool);
        close(fd);
        wl_buffer_add_listener(proxy, &listener, this);
    }
    ~Buffer() {
        wl_buffer_destroy(proxy);
        munmap(pixels, bytes);
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
};

const wl_buffer_listener OutputSurface::Buffer::listener = {
    .release = [](void* data, wl_buffer*) { static_cast<Buffer*>(data)->busy = false; },
};

const xdg_surface_listener OutputSurface::surfaceListener_ = {
    .configure = [](void* data, xdg_surface*, std::uint32_t serial) { Of(data).Configure(serial); },
};

const xdg_toplevel_listener OutputSurface::toplevelListener_ = {
    .configure =
        [](void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array*) {
            Of(data).sizeWidth_ = std::max(width, 0);
            Of(data).sizeHeight_ = std::max(height, 0);
        },
    .close = [](void* data, xdg_toplevel*) { Of(data).events_.SurfaceClosed(); },
    .configure_bounds = [](void*, xdg_toplevel*, std::int32_t, std::int32_t) {},
    .wm_capabilities = [](void*, xdg_toplevel*, wl_array*) {},
};

const wl_callback_listener OutputSurface::frameListener_ = {
    .done =
        [](void* data, wl_callback* callback, std::uint32_t) {
            wl_callback_destroy(callback);
            Of(data).frame_ = nullptr;
            ++Of(data).framesDone_;
        },
};

OutputSurface::OutputSurface(const Globals& globals, const Output& output, BackendEvents& events)
    : globals_(globals), output_(output), events_(events) {
    surface_ = wl_compositor_create_surface(globals.compositor);
    wl_region* opaque = wl_compositor_create_region(globals.compositor);
    wl_region_add(opaque, 0, 0, INT32_MAX, INT32_MAX);
    wl_surface_set_opaque_region(surface_, opaque);
    wl_region_destroy(opaque);
    shellSurface_ = xdg_wm_base_get_xdg_surface(globals.shell, surface_);
    xdg_surface_add_listener(shellSurface_, &surfaceListener_, this);
    toplevel_ = xdg_surface_get_toplevel(shellSurface_);
    xdg_toplevel_add_listener(toplevel_, &toplevelListener_, this);
    xdg_toplevel_set_title(toplevel_, "Digit Mosaic");
    xdg_toplevel_set_app_id(toplevel_, "digitmosaic");
    xdg_toplevel_set_fullscreen(toplevel_, output.proxy);
    pending_.Grid().Resize(0, 0, kDotsPerInch, kDotsPerInch);
}

OutputSurface::~OutputSurface() {
    if (frame_) {
        wl_callback_destroy(frame_);
    }
    xdg_toplevel_destroy(toplevel_);
    xdg_surface_destroy(shellSurface_);
    wl_surface_destroy(surface_);
}

void OutputSurface::Show() {
    // Without a buffer: the compositor answers with the first configure, and the surface shows
    // once that is acknowledged with one.
    wl_surface_commit(surface_);
}

void OutputSurface::Configure(std::uint32_t serial) {
    xdg_surface_ack_configure(shellSurface_, serial);
    configured_ = true;
    Fit();
}

void OutputSurface::OutputChanged() {
    if (configured_) {
        // The last configure's size was for the output as it was: the output's own until the
        // next one.
        sizeWidth_ = 0;
        sizeHeight_ = 0;
        Fit();
    }
}

void OutputSurface::Fit() {
    // Fullscreen, the surface is the output; a configure of 0 x 0 leaves it to the client.
    const int scale = wl_surface_get_version(surface_) >= WL_SURFACE_SET_BUFFER_SCALE_SINCE_VERSION
                          ? output_.scale
                          : 1;
    const int width = std::max(sizeWidth_ > 0 ? sizeWidth_ : output_.width / scale, 1) * scale;
    const int height = std::max(sizeHeight_ > 0 ? sizeHeight_ : output_.height / scale, 1) * scale;
    if (scale != scale_) {
        wl_surface_set_buffer_scale(surface_, scale);
        scale_ = scale;
    }
    if (!buffers_[0] || buffers_[0]->width != width || buffers_[0]->height != height) {
        Resize(width, height);
    }
    Commit();
}

void OutputSurface::Resize(int width, int height) {
    auto fitted = std::make_unique<Buffer>(globals_.shm, width, height);
    // The earlier pictures stay where they were, with what was drawn for the old size, and the
    // rest is black. The old buffers are only read: the compositor may still be reading them.
    if (const Buffer* newest = drawn_ ? drawn_ : shown_) {
        const int rows = std::min(height, newest->height);
        const auto columns = static_cast<std::size_t>(std::min(width, newest->width));
        for (int y = 0; y < rows; ++y) {
            std::memcpy(fitted->pixels + std::size_t(y) * std::size_t(width),
                        newest->pixels + std::size_t(y) * std::size_t(newest->width),
                        columns * sizeof(Pixel));
        }
    }
    pending_.FillInto(fitted->pixels, width, width, height);
    pending_.Clear();
    buffers_[0] = std::move(fitted);
    buffers_[1].reset();
    shown_ = nullptr;
    drawn_ = buffers_[0].get();
    pending_.Grid().Resize(width, height, kDotsPerInch, kDotsPerInch);
    unshown_.MarkAll(width, height);
}

OutputSurface::Buffer* OutputSurface::Drawable() {
    if (drawn_ || !shown_) {
        return drawn_;
    }
    if (!shown_->busy) {
        return drawn_ = shown_;
    }
    // The compositor still holds the buffer it shows. A second one is made when it has shown the
    // last present and holds it still, or when too much waits to be drawn: the compositor keeps
    // what it shows, and will let go of one buffer when handed the other.
    constexpr std::size_t kMostWaiting = 1 << 14;  // boxes
    if (!buffers_[1]) {
        if (frame_ && pending_.Fills().size() < kMostWaiting) {
            return nullptr;
        }
        buffers_[1] = std::make_unique<Buffer>(globals_.shm, shown_->width, shown_->height);
        buffers_[1]->behind.MarkAll(shown_->width, shown_->height);
    }
    Buffer* other = buffers_[0].get() == shown_ ? buffers_[1].get() : buffers_[0].get();
    if (other->busy) {
        return nullptr;
    }
    // Brought up to date with the strips the shown one got since.
    for (const Strip& strip : other->behind.Strips()) {
        const Strip s = ClippedTo(strip, other->width, other->height);
        const auto bytes = static_cast<std::size_t>(std::max(s.right - s.left, 0)) * sizeof(Pixel);
        for (int y = s.top; y < s.bottom; ++y) {
            const std::size_t at = std::size_t(y) * std::size_t(other->width) + std::size_t(s.left);
            std::memcpy(other->pixels + at, shown_->pixels + at, bytes);
        }
    }
    other->behind.Clear();
    return drawn_ = other;
}

void OutputSurface::Present() {
    Buffer* drawn = configured_ ? Drawable() : nullptr;
    if (!drawn) {
        return;  // the boxes wait until a buffer can be drawn into
    }
    pending_.FillInto(drawn->pixels, drawn->width, drawn->width, drawn->height);
    for (const Strip& strip : pending_.Strips()) {
        unshown_.Mark(strip);
    }
    pending_.Clear();
    // Once a frame: what is drawn meanwhile waits in the buffer for the frame callback.
    if (!frame_ && !unshown_.Empty()) {
        Commit();
    }
}

void OutputSurface::Commit() {
    if (drawn_ && !unshown_.Empty()) {
        wl_surface_attach(surface_, drawn_->proxy, 0, 0);
        const bool inBuffer =
            wl_surface_get_version(surface_) >= WL_SURFACE_DAMAGE_BUFFER_SINCE_VERSION;
        for (const Strip& strip : unshown_.Strips()) {
            const Strip s = ClippedTo(strip, drawn_->width, drawn_->height);
            if (!inBuffer) {
                wl_surface_damage(surface_, 0, 0, INT32_MAX, INT32_MAX);
            } else if (s.left < s.right && s.top < s.bottom) {
                wl_surface_damage_buffer(surface_, s.left, s.top, s.right - s.left,
                                         s.bottom - s.top);
            }
            for (const auto& buffer : buffers_) {
                if (buffer && buffer.get() != drawn_) {
                    buffer->behind.Mark(strip);
                }
            }
        }
        unshown_.Clear();
        drawn_->busy = true;
        shown_ = drawn_;
        drawn_ = nullptr;
        if (!frame_) {
            frame_ = wl_surface_frame(surface_);
            wl_callback_add_listener(frame_, &frameListener_, this);
        }
    }
    wl_surface_commit(surface_);
}

bool OutputSurface::Visible() const { return configured_ && !frame_; }

}  // namespace digitmosaic
