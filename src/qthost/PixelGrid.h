// The program's logical units on one surface's pixels: which device pixels a box covers, where
// a pointer position lies in logical units, and which strips of pixels changed since they were
// last shown. Shared by every surface the saver paints on.
#pragma once

#include <QImage>
#include <algorithm>
#include <optional>
#include <vector>

#include "host/PackedColor.h"

namespace digitmosaic {

// A rectangle of device pixels, right and bottom exclusive.
struct Strip {
    int left;
    int top;
    int right;
    int bottom;
};

inline Strip United(const Strip& a, const Strip& b) {
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

inline Strip ClippedTo(const Strip& strip, int width, int height) {
    return {std::max(strip.left, 0), std::max(strip.top, 0), std::min(strip.right, width),
            std::min(strip.bottom, height)};
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
    double twipsPerPixelX_ = 15;
    double twipsPerPixelY_ = 15;
    double x1_ = 0;
    double y1_ = 0;
    double x2_ = 1;
    double y2_ = 1;
    double pixelsPerUnitX_ = 0;
    double pixelsPerUnitY_ = 0;
    bool twipScale_ = true;  // until the program sets a scale, units are twips
};

// What was drawn since the surface was last shown. Boxes painted one after another along a row
// or a column merge into one strip, so a present shows a few strips rather than their bounding
// box (a spiral's ring would be most of the screen).
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

// The packed colour as a pixel of a 32-bit image.
constexpr QRgb ToRgb(PackedColor color) {
    const auto packed = static_cast<unsigned>(color);
    return qRgb(static_cast<int>(packed & 0xFFU), static_cast<int>((packed >> 8) & 0xFFU),
                static_cast<int>((packed >> 16) & 0xFFU));
}

// The boxes drawn on a surface since it was last shown, in its pixels: filled into its image
// all at once, when the image may be written.
class PendingBoxes {
  public:
    struct Fill {
        Strip strip;
        QRgb rgb;
    };

    PixelGrid& Grid() { return grid_; }
    const PixelGrid& Grid() const { return grid_; }
    void Draw(float x, float y, float dx, float dy, PackedColor color) {
        if (const auto box = grid_.Box(x, y, dx, dy)) {
            fills_.push_back({*box, ToRgb(color)});
            dirty_.Mark(*box);
        }
    }
    // All of the surface is to be shown again (it was resized, or the server lost it).
    void MarkAll() { dirty_.MarkAll(grid_.Width(), grid_.Height()); }
    void Mark(const Strip& strip) { dirty_.Mark(strip); }
    bool Empty() const { return dirty_.Empty(); }
    const std::vector<Strip>& Strips() const { return dirty_.Strips(); }
    const std::vector<Fill>& Fills() const { return fills_; }
    // Fills the boxes into the image, clipped to it: straight into the pixels when they are
    // 32-bit RGB, through a painter in any other format.
    void FillInto(QImage& image);
    void Clear() {
        fills_.clear();
        dirty_.Clear();
    }

  private:
    static void FillBand(QRgb* pixels, qsizetype stride, const Fill* first, const Fill* last,
                         int width, int height);
    PixelGrid grid_;
    std::vector<Fill> fills_;
    DirtyStrips dirty_;
};

}  // namespace digitmosaic
