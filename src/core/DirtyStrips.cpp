// Merging what was drawn into a few strips.
#include "core/DirtyStrips.h"

#include <cstddef>

namespace digitmosaic {

void DirtyStrips::Mark(const Strip& box) {
    if (!strips_.empty()) {
        Strip& last = strips_.back();
        const bool sameRows = box.top == last.top && box.bottom == last.bottom &&
                              box.left <= last.right && box.right >= last.left;
        const bool sameColumns = box.left == last.left && box.right == last.right &&
                                 box.top <= last.bottom && box.bottom >= last.top;
        if (sameRows || sameColumns) {
            last = United(last, box);
            return;
        }
    }
    constexpr std::size_t kMostStrips = 32;
    if (strips_.size() == kMostStrips) {
        Strip bounds = box;
        for (const Strip& strip : strips_) {
            bounds = United(bounds, strip);
        }
        strips_.assign(1, bounds);
        return;
    }
    strips_.push_back(box);
}

}  // namespace digitmosaic
