// A surface the saver's picture is painted on: the saver's own window on one screen, or a host's
// window. The host draws every box on every surface and presents them together at each pump.
#pragma once

#include "host/PackedColor.h"

namespace digitmosaic {

class Surface {
  public:
    virtual ~Surface() = default;

    virtual void SetLogicalScale(double x1, double y1, double x2, double y2) = 0;
    // Clipped to the surface; shown at the next Present.
    virtual void DrawBox(float x, float y, float dx, float dy, PackedColor color) = 0;
    // Puts on screen what was drawn (or lost) since the last call.
    virtual void Present() = 0;
    // Makes it visible: the saver's window covers its screen.
    virtual void Show() = 0;
    // Closes it, raising the saver's unload event.
    virtual void Unload() = 0;
    // Whether any of it can be seen: not unmapped, nor wholly covered by other windows.
    virtual bool Visible() const = 0;
};

}  // namespace digitmosaic
