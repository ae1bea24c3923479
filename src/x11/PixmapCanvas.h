// Cells painted through the X server, the way classic X11 screen savers draw: each box is a
// rectangle filled in a server-side pixmap that keeps every picture painted so far, and the
// strips that changed are copied from it to the window. The client keeps no pixels, and the
// server fills them where they are shown.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <vector>

#include "core/PendingBoxes.h"
#include "x11/Canvas.h"
#include "x11/Visuals.h"

namespace digitmosaic {

class PixmapCanvas final : public Canvas {
  public:
    // For a window of the given depth and of a visual that TrueColorVisual accepted.
    PixmapCanvas(xcb_connection_t* connection, xcb_window_t window, std::uint8_t depth,
                 const xcb_visualtype_t& visual);
    ~PixmapCanvas() override;
    PixmapCanvas(const PixmapCanvas&) = delete;
    PixmapCanvas& operator=(const PixmapCanvas&) = delete;

    // Sizes the pixmap, keeping the earlier pictures where they were and black elsewhere.
    bool Resize(int width, int height) override;
    // Fills the boxes in the pixmap. The boxes drawn between two presents are cells of one
    // picture, which never overlap, so the order of the requests does not matter.
    void Fill(const PendingBoxes& boxes) override;
    // Copies the strips from the pixmap to the window and sends what is queued.
    void Show(const std::vector<Strip>& strips) override;

  private:
    void FillRectangles(std::uint32_t pixel, const std::vector<xcb_rectangle_t>& rectangles);

    xcb_connection_t* connection_;
    xcb_window_t window_;
    std::uint8_t depth_;
    std::uint32_t gc_ = 0;
    std::uint32_t pixmap_ = 0;  // none until sized
    int width_ = 0;
    int height_ = 0;
    ChannelShifts shifts_;
    // The boxes of a frame gathered by colour, a request for each: a handful of colours per
    // frame in digit pictures, up to one per box in average pictures.
    struct ColorBatch {
        Pixel pixel;
        std::vector<xcb_rectangle_t> rectangles;
    };
    void SendBatches();
    std::vector<ColorBatch> batches_;  // kept from frame to frame, so that nothing is allocated
    std::size_t used_ = 0;             // colours of this frame so far
};

}  // namespace digitmosaic
