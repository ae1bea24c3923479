// Filling the pending boxes into 32-bit pixels, a band of identical lines at a time.
#include "core/PendingBoxes.h"

#include <algorithm>
#include <cstring>

namespace digitmosaic {

namespace {

using Fill = PendingBoxes::Fill;

void FillBand(Pixel* pixels, std::ptrdiff_t stride, const Fill* first, const Fill* last, int width,
              int height) {
    const Strip band = ClippedTo(
        Strip{first->strip.left, first->strip.top, (last - 1)->strip.right, first->strip.bottom},
        width, height);
    if (band.left >= band.right || band.top >= band.bottom) {
        return;
    }
    Pixel* top = pixels + band.top * stride;
    for (const Fill* fill = first; fill != last; ++fill) {
        const int left = std::max(fill->strip.left, band.left);
        const int right = std::min(fill->strip.right, band.right);
        if (left < right) {
            std::fill(top + left, top + right, fill->pixel);
        }
    }
    const auto bytes = static_cast<std::size_t>(band.right - band.left) * sizeof(Pixel);
    for (int row = band.top + 1; row < band.bottom; ++row) {
        std::memcpy(pixels + row * stride + band.left, top + band.left, bytes);
    }
}

}  // namespace

void PendingBoxes::FillInto(Pixel* pixels, std::ptrdiff_t stride, int width, int height) const {
    // A row of cells arrives as boxes side by side along the same lines: a band whose lines are
    // all alike, so one is filled and copied to the others.
    for (std::size_t first = 0; first < fills_.size();) {
        std::size_t last = first + 1;
        while (last < fills_.size() && fills_[last].strip.top == fills_[first].strip.top &&
               fills_[last].strip.bottom == fills_[first].strip.bottom &&
               fills_[last].strip.left == fills_[last - 1].strip.right) {
            ++last;
        }
        FillBand(pixels, stride, &fills_[first], &fills_[last - 1] + 1, width, height);
        first = last;
    }
}

}  // namespace digitmosaic
