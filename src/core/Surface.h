// A surface the saver's picture is painted on: the saver's own window on one monitor or output,
// or a host's window. The core draws every box on every surface and presents them together at
// each pump; the backend keeps the surface fitted to its window and puts the changed strips on
// screen.
#pragma once

#include "core/PendingBoxes.h"

namespace digitmosaic {

class Surface {
  public:
    virtual ~Surface() = default;

    void SetLogicalScale(double x1, double y1, double x2, double y2) {
        pending_.Grid().SetLogicalScale(x1, y1, x2, y2);
    }
    // Clipped to the surface; shown at the next Present.
    void DrawBox(float x, float y, float dx, float dy, PackedColor color) {
        pending_.Draw(x, y, dx, dy, color);
    }
    // The picture's logical units on this surface's device pixels.
    const PixelGrid& Grid() const { return pending_.Grid(); }

    // Puts on screen what was drawn (or lost) since the last call.
    virtual void Present() = 0;
    // Whether any of it can be seen now: shown, and not wholly covered or hidden.
    virtual bool Visible() const = 0;

  protected:
    PendingBoxes pending_;  // drawn (or lost) since the last Present
};

}  // namespace digitmosaic
