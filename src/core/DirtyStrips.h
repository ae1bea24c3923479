// What was drawn on a surface since it was last shown, as a few strips of pixels.
#pragma once

#include <vector>

#include "core/Strip.h"

namespace digitmosaic {

// Boxes painted one after another along a row or a column merge into one strip, so a present
// shows a few strips rather than their bounding box (a spiral's ring would be most of the screen).
class DirtyStrips {
  public:
    void Mark(const Strip& box);
    void MarkAll(int width, int height) { strips_.assign(1, Strip{0, 0, width, height}); }
    bool Empty() const { return strips_.empty(); }
    const std::vector<Strip>& Strips() const { return strips_; }
    void Clear() { strips_.clear(); }

  private:
    std::vector<Strip> strips_;
};

}  // namespace digitmosaic
