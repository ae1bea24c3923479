// The boxes drawn on one surface since it was last shown, in its device pixels and colours, and
// how they are filled into 32-bit pixels: what every surface the saver paints on keeps between
// two presents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/DirtyStrips.h"
#include "core/PixelGrid.h"
#include "host/PackedColor.h"

namespace digitmosaic {

// A pixel of a 32-bit RGB image, 0xFFRRGGBB.
using Pixel = std::uint32_t;

constexpr Pixel PixelOf(PackedColor color) {
    const auto packed = static_cast<std::uint32_t>(color);
    return 0xFF000000U | (packed & 0xFFU) << 16 | (packed & 0xFF00U) | (packed >> 16 & 0xFFU);
}

class PendingBoxes {
  public:
    struct Fill {
        Strip strip;
        Pixel pixel;
    };

    PixelGrid& Grid() { return grid_; }
    const PixelGrid& Grid() const { return grid_; }
    void Draw(float x, float y, float dx, float dy, PackedColor color) {
        if (const auto box = grid_.Box(x, y, dx, dy)) {
            fills_.push_back({*box, PixelOf(color)});
            dirty_.Mark(*box);
        }
    }
    // All of the surface is to be shown again (it was resized, or the server lost it).
    void MarkAll() { dirty_.MarkAll(grid_.Width(), grid_.Height()); }
    void Mark(const Strip& strip) { dirty_.Mark(strip); }
    bool Empty() const { return dirty_.Empty(); }
    const std::vector<Strip>& Strips() const { return dirty_.Strips(); }
    const std::vector<Fill>& Fills() const { return fills_; }
    // Fills the boxes into 32-bit pixels of the given size (stride in pixels), clipped to them.
    void FillInto(Pixel* pixels, std::ptrdiff_t stride, int width, int height) const;
    void Clear() {
        fills_.clear();
        dirty_.Clear();
    }

  private:
    PixelGrid grid_;
    std::vector<Fill> fills_;
    DirtyStrips dirty_;
};

}  // namespace digitmosaic
