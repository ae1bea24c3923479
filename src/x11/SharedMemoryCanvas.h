// Cells painted in memory that the X server shares: the picture is kept in this process as 32-bit
// pixels, the boxes are filled in there, and each strip that changed goes to the window in one
// request, which the server copies from the shared memory. One copy on the server, and no request
// per colour or per box.
#pragma once

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "x11/Canvas.h"

namespace digitmosaic {

class SharedMemoryCanvas final : public Canvas {
  public:
    // Null where the server cannot be handed this process's memory (the connection is not a local
    // socket, or the server has no MIT-SHM 1.2), or where the window's pixels are not 32-bit
    // 0xRRGGBB in this machine's order.
    static std::unique_ptr<SharedMemoryCanvas> Create(xcb_connection_t* connection,
                                                      xcb_window_t window, std::uint8_t depth,
                                                      const xcb_visualtype_t& visual);
    ~SharedMemoryCanvas() override;
    SharedMemoryCanvas(const SharedMemoryCanvas&) = delete;
    SharedMemoryCanvas& operator=(const SharedMemoryCanvas&) = delete;

    bool Resize(int width, int height) override;
    void Fill(const PendingBoxes& boxes) override;
    void Show(const std::vector<Strip>& strips) override;

  private:
    // A block of memory that the server has attached too, handed over as a descriptor, so that
    // it can be no other; empty when none could be had.
    struct Segment {
        xcb_shm_seg_t id = 0;
        void* address = nullptr;
        std::size_t bytes = 0;
        explicit operator bool() const { return address != nullptr; }
    };
    static Segment Attach(xcb_connection_t* connection, std::size_t bytes);
    static void Detach(xcb_connection_t* connection, Segment& segment);

    SharedMemoryCanvas(xcb_connection_t* connection, xcb_window_t window, std::uint8_t depth);
    Pixel* Pixels() const { return static_cast<Pixel*>(segment_.address); }

    xcb_connection_t* connection_;
    xcb_window_t window_;
    std::uint8_t depth_;
    std::uint32_t gc_ = 0;
    Segment segment_;  // none until sized
    int width_ = 0;
    int height_ = 0;
};

}  // namespace digitmosaic
