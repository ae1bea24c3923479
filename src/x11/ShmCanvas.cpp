// Painting in shared memory: the segments, the pixels and the strips put in the window.
#include "x11/ShmCanvas.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "system/Failure.h"

namespace digitmosaic {

namespace {

// Whether windows of this depth and visual hold a pixel as the 32 bits that PendingBoxes fills
// (0x..RRGGBB), in this machine's byte order.
bool PixelsAsFilled(xcb_connection_t* connection, std::uint8_t depth,
                    const xcb_visualtype_t& visual) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    if (visual.red_mask != 0xFF0000U || visual.green_mask != 0xFF00U || visual.blue_mask != 0xFFU ||
        (setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST) !=
            (std::endian::native == std::endian::little)) {
        return false;
    }
    const xcb_format_t* formats = xcb_setup_pixmap_formats(setup);
    for (int i = 0; i < xcb_setup_pixmap_formats_length(setup); ++i) {
        if (formats[i].depth == depth) {
            return formats[i].bits_per_pixel == 32;
        }
    }
    return false;
}

}  // namespace

ShmCanvas::Segment ShmCanvas::Attach(xcb_connection_t* connection, std::size_t bytes) {
    const int id = shmget(IPC_PRIVATE, std::max<std::size_t>(bytes, 1), IPC_CREAT | 0600);
    if (id < 0) {
        return {};
    }
    void* address = shmat(id, nullptr, 0);
    Segment segment{xcb_generate_id(connection),
                    address == reinterpret_cast<void*>(-1) ? nullptr : address};
    bool attached = false;
    if (segment) {
        // Read-only for the server, which only copies from it.
        xcb_generic_error_t* error = xcb_request_check(
            connection,
            xcb_shm_attach_checked(connection, segment.id, static_cast<std::uint32_t>(id), 1));
        attached = error == nullptr;
        std::free(error);
    }
    // Gone once both sides let go of it, however the process ends.
    shmctl(id, IPC_RMID, nullptr);
    if (!attached && segment) {
        shmdt(segment.address);
        return {};
    }
    return segment;
}

void ShmCanvas::Detach(xcb_connection_t* connection, Segment& segment) {
    if (segment) {
        xcb_shm_detach(connection, segment.id);
        shmdt(segment.address);
        segment = {};
    }
}

std::unique_ptr<ShmCanvas> ShmCanvas::Create(xcb_connection_t* connection, xcb_window_t window,
                                             std::uint8_t depth, const xcb_visualtype_t& visual) {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_shm_id);
    if (!extension || !extension->present || !PixelsAsFilled(connection, depth, visual)) {
        return nullptr;
    }
    // A server elsewhere cannot attach this machine's memory: tried once on a small block.
    Segment trial = Attach(connection, 4096);
    if (!trial) {
        return nullptr;
    }
    Detach(connection, trial);
    return std::unique_ptr<ShmCanvas>(new ShmCanvas(connection, window, depth));
}

ShmCanvas::ShmCanvas(xcb_connection_t* connection, xcb_window_t window, std::uint8_t depth)
    : connection_(connection), window_(window), depth_(depth) {
    gc_ = xcb_generate_id(connection);
    // No GraphicsExpose or NoExpose events for the puts: the picture is always whole.
    const std::uint32_t values[] = {0};
    xcb_create_gc(connection, gc_, window, XCB_GC_GRAPHICS_EXPOSURES, values);
}

ShmCanvas::~ShmCanvas() {
    Detach(connection_, segment_);
    xcb_free_gc(connection_, gc_);
}

void ShmCanvas::Resize(int width, int height) {
    if (width == width_ && height == height_) {
        return;
    }
    Segment resized = Attach(connection_, std::size_t(width) * std::size_t(height) * 4);
    if (!resized) {
        Fail("out of memory for a picture of " + std::to_string(width) + " x " +
             std::to_string(height) + " pixels");
    }
    // New memory is zero: black. The earlier picture is copied in where it overlaps.
    if (segment_) {
        const auto* from = Pixels();
        auto* to = static_cast<Pixel*>(resized.address);
        const int rows = std::min(height, height_);
        const auto columns = static_cast<std::size_t>(std::min(width, width_));
        for (int y = 0; y < rows; ++y) {
            std::memcpy(to + std::size_t(y) * std::size_t(width),
                        from + std::size_t(y) * std::size_t(width_), columns * sizeof(Pixel));
        }
    }
    Detach(connection_, segment_);
    segment_ = resized;
    width_ = width;
    height_ = height;
}

void ShmCanvas::Fill(const PendingBoxes& boxes) {
    if (segment_) {
        boxes.FillInto(Pixels(), width_, width_, height_);
    }
}

void ShmCanvas::Show(const std::vector<Strip>& strips) {
    if (!segment_) {
        return;
    }
    for (const Strip& strip : strips) {
        const Strip s = ClippedTo(strip, width_, height_);
        if (s.left < s.right && s.top < s.bottom) {
            const auto left = static_cast<std::uint16_t>(s.left);
            const auto top = static_cast<std::uint16_t>(s.top);
            xcb_shm_put_image(connection_, window_, gc_, static_cast<std::uint16_t>(width_),
                              static_cast<std::uint16_t>(height_), left, top,
                              static_cast<std::uint16_t>(s.right - s.left),
                              static_cast<std::uint16_t>(s.bottom - s.top),
                              static_cast<std::int16_t>(left), static_cast<std::int16_t>(top),
                              depth_, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment_.id, 0);
        }
    }
    xcb_flush(connection_);
}

}  // namespace digitmosaic
