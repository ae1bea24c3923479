// Logical units to device pixels and back.
#include "core/PixelGrid.h"

#include <utility>

namespace digitmosaic {

namespace {

// The pixel edge nearest to a position in pixels, held within [0, extent]: a position far
// outside the surface (or not a number) lands on its border, so boxes beyond it are clipped.
int EdgeWithin(double pixels, int extent) {
    if (!(pixels > 0)) {
        return 0;
    }
    if (pixels >= extent) {
        return extent;
    }
    return static_cast<int>(pixels + 0.5);
}

}  // namespace

void PixelGrid::Resize(int width, int height, double dotsPerInchX, double dotsPerInchY) {
    width_ = width;
    height_ = height;
    twipsPerPixelX_ = TwipsPerPixel(dotsPerInchX);
    twipsPerPixelY_ = TwipsPerPixel(dotsPerInchY);
    UpdateMapping();
}

void PixelGrid::SetLogicalScale(double x1, double y1, double x2, double y2) {
    x1_ = x1;
    y1_ = y1;
    x2_ = x2;
    y2_ = y2;
    twipScale_ = false;
    UpdateMapping();
}

void PixelGrid::UpdateMapping() {
    pixelsPerUnitX_ = x2_ != x1_ ? width_ / (x2_ - x1_) : 0.0;
    pixelsPerUnitY_ = y2_ != y1_ ? height_ / (y2_ - y1_) : 0.0;
}

int PixelGrid::PixelX(double x) const { return EdgeWithin((x - x1_) * pixelsPerUnitX_, width_); }

int PixelGrid::PixelY(double y) const { return EdgeWithin((y - y1_) * pixelsPerUnitY_, height_); }

std::optional<Strip> PixelGrid::Box(float x, float y, float dx, float dy) const {
    Strip box{PixelX(x), PixelY(y), PixelX(static_cast<double>(x) + dx),
              PixelY(static_cast<double>(y) + dy)};
    if (box.left > box.right) {
        std::swap(box.left, box.right);
    }
    if (box.top > box.bottom) {
        std::swap(box.top, box.bottom);
    }
    if (box.left == box.right || box.top == box.bottom) {
        return std::nullopt;
    }
    return box;
}

float PixelGrid::LogicalX(double pixelX) const {
    if (twipScale_) {
        return static_cast<float>(pixelX * twipsPerPixelX_);
    }
    return static_cast<float>(x1_ + pixelX * (x2_ - x1_) / width_);
}

float PixelGrid::LogicalY(double pixelY) const {
    if (twipScale_) {
        return static_cast<float>(pixelY * twipsPerPixelY_);
    }
    return static_cast<float>(y1_ + pixelY * (y2_ - y1_) / height_);
}

}  // namespace digitmosaic
