// The floor for a paced saver on Wayland: a bare libwayland-client program that covers one output
// with a fullscreen xdg_toplevel and paints pictures of the saver's size, one row of cells per
// frame callback into a wl_shm buffer, damaging only that row's strip. Two buffers, as the
// compositor may keep the one it shows until it is handed another (sway on its software renderer
// does): each frame the free one gets the strip the other got last frame, then the new row. A key
// press ends it, as does SIGTERM.
// Covers the compositor's first output, at scale 1.
// Usage: digitmosaic_wayland_floor [COLUMNSxROWS]  (default 204x170)
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "xdg-shell-client-protocol.h"

namespace {

[[noreturn]] void Fail(const char* why) {
    std::fprintf(stderr, "digitmosaic_wayland_floor: %s\n", why);
    std::exit(2);
}

struct Buffer {
    wl_buffer* proxy = nullptr;
    std::uint32_t* pixels = nullptr;
    bool busy = false;
};

struct Strip {
    int top = 0;
    int bottom = 0;  // empty when equal
};

struct Floor {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* shell = nullptr;
    wl_output* output = nullptr;  // the first
    int outputWidth = 0;          // its current mode
    int outputHeight = 0;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    wl_surface* surface = nullptr;
    xdg_surface* shellSurface = nullptr;
    int columns = 204;
    int rows = 170;
    int width = 0;  // from the first configure with a size, else the output's
    int height = 0;
    Buffer buffers[2];
    int shown = -1;   // the buffer committed last
    Strip lastStrip;  // what the shown buffer got that the other lacks
    int row = 0;
    std::uint32_t random = 2463534242U;
    std::uint32_t palette[10] = {};
    bool waiting = false;  // a frame came while both buffers were busy
    bool done = false;
};

void Paint(Floor& floor);

const wl_buffer_listener bufferListener = {
    .release =
        [](void* data, wl_buffer*) {
            auto* buffer = static_cast<Buffer*>(data);
            buffer->busy = false;
        },
};

const wl_callback_listener frameListener = {
    .done =
        [](void* data, wl_callback* callback, std::uint32_t) {
            wl_callback_destroy(callback);
            Paint(*static_cast<Floor*>(data));
        },
};

// Two buffers of the output's size, in one shared pool; black, as fresh memory is zero.
void MakeBuffers(Floor& floor) {
    const std::size_t stride = std::size_t(floor.width) * 4;
    const std::size_t one = stride * std::size_t(floor.height);
    const int fd = memfd_create("digitmosaic-floor", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(2 * one)) != 0) {
        Fail("cannot make the shared memory");
    }
    void* address = mmap(nullptr, 2 * one, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) {
        Fail("cannot map the shared memory");
    }
    wl_shm_pool* pool = wl_shm_create_pool(floor.shm, fd, static_cast<std::int32_t>(2 * one));
    for (int i = 0; i < 2; ++i) {
        Buffer& buffer = floor.buffers[i];
        buffer.pixels = static_cast<std::uint32_t*>(address) + std::size_t(i) * (one / 4);
        buffer.proxy = wl_shm_pool_create_buffer(
            pool, static_cast<std::int32_t>(i * one), floor.width, floor.height,
            static_cast<std::int32_t>(stride), WL_SHM_FORMAT_XRGB8888);
        wl_buffer_add_listener(buffer.proxy, &bufferListener, &buffer);
    }
    wl_shm_pool_destroy(pool);
    close(fd);
}

// Attaches the buffer with the strip damaged, asks for the next frame and commits.
void Commit(Floor& floor, int which, int top, int bottom) {
    Buffer& buffer = floor.buffers[which];
    wl_surface_attach(floor.surface, buffer.proxy, 0, 0);
    wl_surface_damage_buffer(floor.surface, 0, top, floor.width, bottom - top);
    wl_callback_add_listener(wl_surface_frame(floor.surface), &frameListener, &floor);
    wl_surface_commit(floor.surface);
    buffer.busy = true;
    floor.shown = which;
}

// One row of cells into the free buffer, after the strip it missed; commits it.
void Paint(Floor& floor) {
    const int which = floor.shown == 0 ? 1 : 0;
    Buffer& buffer = floor.buffers[which];
    if (buffer.busy) {
        floor.waiting = true;  // painted when the compositor lets go of it
        return;
    }
    floor.waiting = false;
    const std::size_t width = std::size_t(floor.width);
    if (floor.lastStrip.bottom > floor.lastStrip.top) {
        const std::size_t at = std::size_t(floor.lastStrip.top) * width;
        std::memcpy(buffer.pixels + at, floor.buffers[floor.shown].pixels + at,
                    std::size_t(floor.lastStrip.bottom - floor.lastStrip.top) * width * 4);
    }
    if (floor.row == 0) {  // a new picture: ten fresh colours
        for (std::uint32_t& colour : floor.palette) {
            floor.random ^= floor.random << 13;
            floor.random ^= floor.random >> 17;
            floor.random ^= floor.random << 5;
            colour = floor.random & 0xFFFFFFU;
        }
    }
    const int top = floor.row * floor.height / floor.rows;
    const int bottom = (floor.row + 1) * floor.height / floor.rows;
    if (bottom > top) {
        // The strip's first line cell by cell, then copied down.
        std::uint32_t* first = buffer.pixels + std::size_t(top) * width;
        for (int column = 0; column < floor.columns; ++column) {
            const int left = column * floor.width / floor.columns;
            const int right = (column + 1) * floor.width / floor.columns;
            std::fill(first + left, first + right,
                      floor.palette[(floor.row * floor.columns + column) % 10]);
        }
        for (int y = top + 1; y < bottom; ++y) {
            std::memcpy(first + std::size_t(y - top) * width, first, width * 4);
        }
    }
    floor.row = (floor.row + 1) % floor.rows;
    floor.lastStrip = {top, bottom};
    Commit(floor, which, top, bottom);
}

const xdg_wm_base_listener shellListener = {
    .ping = [](void*, xdg_wm_base* shell,
               std::uint32_t serial) { xdg_wm_base_pong(shell, serial); },
};

const xdg_toplevel_listener toplevelListener = {
    .configure =
        [](void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array*) {
            auto& floor = *static_cast<Floor*>(data);
            if (floor.shown < 0 && width > 0 && height > 0) {
                floor.width = width;
                floor.height = height;
            }
        },
    .close = [](void* data, xdg_toplevel*) { static_cast<Floor*>(data)->done = true; },
    .configure_bounds = [](void*, xdg_toplevel*, std::int32_t, std::int32_t) {},
    .wm_capabilities = [](void*, xdg_toplevel*, wl_array*) {},
};

const xdg_surface_listener surfaceListener = {
    .configure =
        [](void* data, xdg_surface* shellSurface, std::uint32_t serial) {
            auto& floor = *static_cast<Floor*>(data);
            xdg_surface_ack_configure(shellSurface, serial);
            if (floor.shown >= 0) {
                wl_surface_commit(floor.surface);
                return;
            }
            if (floor.width <= 0 || floor.height <= 0) {  // left to the client
                floor.width = floor.outputWidth;
                floor.height = floor.outputHeight;
            }
            if (floor.width <= 0 || floor.height <= 0) {
                Fail("no size from the compositor or the output");
            }
            MakeBuffers(floor);
            // The first picture starts on a black screen, all of it shown once.
            Commit(floor, 0, 0, floor.height);
        },
};

const wl_keyboard_listener keyboardListener = {
    .keymap = [](void*, wl_keyboard*, std::uint32_t, std::int32_t fd, std::uint32_t) { close(fd); },
    .enter = [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
    .leave = [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
    .key =
        [](void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
           std::uint32_t state) {
            if (state == WL_KEYBOARD_KEY_STATE_PRESSED) {
                static_cast<Floor*>(data)->done = true;
            }
        },
    .modifiers = [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                    std::uint32_t) {},
    .repeat_info = [](void*, wl_keyboard*, std::int32_t, std::int32_t) {},
};

const wl_seat_listener seatListener = {
    .capabilities =
        [](void* data, wl_seat* seat, std::uint32_t capabilities) {
            auto& floor = *static_cast<Floor*>(data);
            if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0 && floor.keyboard == nullptr) {
                floor.keyboard = wl_seat_get_keyboard(seat);
                wl_keyboard_add_listener(floor.keyboard, &keyboardListener, &floor);
            }
        },
    .name = [](void*, wl_seat*, const char*) {},
};

const wl_output_listener outputListener = {
    .geometry = [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                   std::int32_t, const char*, const char*, std::int32_t) {},
    .mode =
        [](void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
           std::int32_t) {
            if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
                static_cast<Floor*>(data)->outputWidth = width;
                static_cast<Floor*>(data)->outputHeight = height;
            }
        },
    .done = [](void*, wl_output*) {},
    .scale = [](void*, wl_output*, std::int32_t) {},
    .name = [](void*, wl_output*, const char*) {},
    .description = [](void*, wl_output*, const char*) {},
};

const wl_registry_listener registryListener = {
    .global =
        [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
           std::uint32_t version) {
            auto& floor = *static_cast<Floor*>(data);
            if (std::strcmp(interface, wl_compositor_interface.name) == 0 && version >= 4) {
                // 4 for damage in buffer pixels.
                floor.compositor = static_cast<wl_compositor*>(
                    wl_registry_bind(registry, name, &wl_compositor_interface, 4));
            } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
                floor.shm =
                    static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
            } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
                floor.shell = static_cast<xdg_wm_base*>(
                    wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
                xdg_wm_base_add_listener(floor.shell, &shellListener, &floor);
            } else if (std::strcmp(interface, wl_output_interface.name) == 0 &&
                       floor.output == nullptr) {
                floor.output = static_cast<wl_output*>(
                    wl_registry_bind(registry, name, &wl_output_interface, 1));
                wl_output_add_listener(floor.output, &outputListener, &floor);
            } else if (std::strcmp(interface, wl_seat_interface.name) == 0 &&
                       floor.seat == nullptr) {
                floor.seat = static_cast<wl_seat*>(
                    wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 5U)));
                wl_seat_add_listener(floor.seat, &seatListener, &floor);
            }
        },
    .global_remove = [](void*, wl_registry*, std::uint32_t) {},
};

}  // namespace

int main(int argc, char** argv) {
    Floor floor;
    if ((argc > 1 && std::sscanf(argv[1], "%dx%d", &floor.columns, &floor.rows) != 2) || argc > 2 ||
        floor.columns < 1 || floor.rows < 1) {
        Fail("usage: digitmosaic_wayland_floor [COLUMNSxROWS]");
    }
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        Fail("cannot connect to the Wayland display");
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &floor);
    wl_display_roundtrip(display);  // the globals
    wl_display_roundtrip(display);  // the output's mode
    if (floor.compositor == nullptr || floor.shm == nullptr || floor.shell == nullptr ||
        floor.output == nullptr) {
        Fail("the compositor lacks wl_compositor 4, wl_shm, xdg_wm_base or an output");
    }
    floor.surface = wl_compositor_create_surface(floor.compositor);
    wl_region* opaque = wl_compositor_create_region(floor.compositor);
    wl_region_add(opaque, 0, 0, INT32_MAX, INT32_MAX);
    wl_surface_set_opaque_region(floor.surface, opaque);
    wl_region_destroy(opaque);
    floor.shellSurface = xdg_wm_base_get_xdg_surface(floor.shell, floor.surface);
    xdg_surface_add_listener(floor.shellSurface, &surfaceListener, &floor);
    xdg_toplevel* toplevel = xdg_surface_get_toplevel(floor.shellSurface);
    xdg_toplevel_add_listener(toplevel, &toplevelListener, &floor);
    xdg_toplevel_set_fullscreen(toplevel, floor.output);
    wl_surface_commit(floor.surface);  // without a buffer: the compositor answers with a configure

    // One poll on the connection per wake: a frame callback, a release, or input.
    while (!floor.done && wl_display_dispatch(display) >= 0) {
        if (floor.waiting) {
            Paint(floor);
        }
    }
    wl_display_disconnect(display);  // the window goes with the connection
    return 0;
}
