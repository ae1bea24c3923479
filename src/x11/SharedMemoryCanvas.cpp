// Painting in shared memory: the segments, the pixels and the strips put in the window.
#include "x11/SharedMemoryCanvas.h"

#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "x11/Visuals.h"
#include "x11/XcbReply.h"

namespace digitmosaic {

namespace {

// Whether windows of this depth and visual hold a pixel as the 32 bits that PendingBoxes fills.
bool WindowPixelsAsFilled(xcb_connection_t* connection, std::uint8_t depth,
                          const xcb_visualtype_t& visual) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const xcb_format_t* formats = xcb_setup_pixmap_formats(setup);
    int bitsPerPixel = 0;
    for (int i = 0; i < xcb_setup_pixmap_formats_length(setup) && !bitsPerPixel; ++i) {
        bitsPerPixel = formats[i].depth == depth ? formats[i].bits_per_pixel : 0;
    }
    return PixelsAsFilled({visual.red_mask, visual.green_mask, visual.blue_mask},
                          setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST, bitsPerPixel);
}

// Whether the connection is a socket on this machine, over which a descriptor can be passed.
bool LocalSocket(xcb_connection_t* connection) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    return getsockname(xcb_get_file_descriptor(connection), reinterpret_cast<sockaddr*>(&address),
                       &length) == 0 &&
           address.ss_family == AF_UNIX;
}

}  // namespace

SharedMemoryCanvas::Segment SharedMemoryCanvas::Attach(xcb_connection_t* connection,
                                                       std::size_t bytes) {
    const int fd = memfd_create("digitmosaic-picture", MFD_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    void* address = MAP_FAILED;
    if (ftruncate(fd, static_cast<off_t>(bytes)) == 0) {
        address = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    if (address == MAP_FAILED) {
        close(fd);
        return {};
    }
    // xcb sends the descriptor and closes it; read-only for the server, which only copies.
    const Segment segment{xcb_generate_id(connection), address, bytes};
    xcb_generic_error_t* error =
        xcb_request_check(connection, xcb_shm_attach_fd_checked(connection, segment.id, fd, 1));
    if (error) {
        std::free(error);
        munmap(address, bytes);
        return {};
    }
    return segment;
}

void SharedMemoryCanvas::Detach(xcb_connection_t* connection, Segment& segment) {
    if (segment) {
        xcb_shm_detach(connection, segment.id);
        munmap(segment.address, segment.bytes);
        segment = {};
    }
}

std::unique_ptr<SharedMemoryCanvas> SharedMemoryCanvas::Create(xcb_connection_t* connection,
                                                               xcb_window_t window,
                                                               std::uint8_t depth,
                                                               const xcb_visualtype_t& visual) {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_shm_id);
    if (!extension || !extension->present || !LocalSocket(connection) ||
        !WindowPixelsAsFilled(connection, depth, visual)) {
        return nullptr;
    }
    const auto version = TakeReply(
        xcb_shm_query_version_reply(connection, xcb_shm_query_version(connection), nullptr));
    if (!version || (version->major_version == 1 && version->minor_version < 2)) {
        return nullptr;
    }
    return std::unique_ptr<SharedMemoryCanvas>(new SharedMemoryCanvas(connection, window, depth));
}

SharedMemoryCanvas::SharedMemoryCanvas(xcb_connection_t* connection, xcb_window_t window,
                                       std::uint8_t depth)
    : connection_(connection), window_(window), depth_(depth) {
    gc_ = xcb_generate_id(connection);
    // No GraphicsExpose or NoExpose events for the puts: the picture is always whole.
    const std::uint32_t values[] = {0};
    xcb_create_gc(connection, gc_, window, XCB_GC_GRAPHICS_EXPOSURES, values);
}

SharedMemoryCanvas::~SharedMemoryCanvas() {
    Detach(connection_, segment_);
    xcb_free_gc(connection_, gc_);
}

bool SharedMemoryCanvas::Resize(int width, int height) {
    if (width == width_ && height == height_) {
        return true;
    }
    Segment resized =
        Attach(connection_, std::max<std::size_t>(std::size_t(width) * std::size_t(height) * 4, 1));
    if (!resized) {
        Detach(connection_, segment_);
        return false;
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
    return true;
}

void SharedMemoryCanvas::Fill(const PendingBoxes& boxes) {
    if (segment_) {
        boxes.FillInto(Pixels(), width_, width_, height_);
    }
}

void SharedMemoryCanvas::Show(const std::vector<Strip>& strips) {
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
