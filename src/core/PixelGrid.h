// The program's logical units on one surface's device pixels: which pixels a box covers, and
// where a pointer position lies in logical units (twips until the program sets a scale).
#pragma once

#include <optional>

#include "core/Strip.h"

namespace digitmosaic {

// Twips (1/1440 inch) in one pixel at the given logical dots per inch; 15 where it is unknown.
constexpr double TwipsPerPixel(double dotsPerInch) {
    return dotsPerInch > 0 ? 1440.0 / dotsPerInch : 15.0;
}

class PixelGrid {
  public:
    // The surface's size in device pixels, and its logical dots per inch for twips.
    void Resize(int width, int height, double dotsPerInchX, double dotsPerInchY);
    void SetLogicalScale(double x1, double y1, double x2, double y2);

    // The pixels of the box from (x, y) to (x + dx, y + dy), clipped to the surface; none when
    // it covers no pixel. Neighbouring boxes share their edges, so cells tile exactly.
    std::optional<Strip> Box(float x, float y, float dx, float dy) const;
    // A pointer position in device pixels, in logical units: twips until a scale is set.
    float LogicalX(double pixelX) const;
    float LogicalY(double pixelY) const;

    int Width() const { return width_; }
    int Height() const { return height_; }

  private:
    int PixelX(double x) const;
    int PixelY(double y) const;
    void UpdateMapping();

    int width_ = 0;
    int height_ = 0;
    double twipsPerPixelX_ = TwipsPerPixel(0);
    double twipsPerPixelY_ = TwipsPerPixel(0);
    double x1_ = 0;
    double y1_ = 0;
    double x2_ = 1;
    double y2_ = 1;
    double pixelsPerUnitX_ = 0;
    double pixelsPerUnitY_ = 0;
    bool twipScale_ = true;  // until the program sets a scale, units are twips
};

}  // namespace digitmosaic
