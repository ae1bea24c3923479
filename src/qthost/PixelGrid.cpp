#include "qthost/PixelGrid.h"

#include <QPainter>
#include <cstddef>
#include <cstring>

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

bool IsRgb32(QImage::Format format) {
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
           format == QImage::Format_ARGB32_Premultiplied;
}

}  // namespace

void PixelGrid::Resize(int width, int height, double dotsPerInchX, double dotsPerInchY) {
    width_ = width;
    height_ = height;
    twipsPerPixelX_ = dotsPerInchX > 0 ? 1440.0 / dotsPerInchX : 15;
    twipsPerPixelY_ = dotsPerInchY > 0 ? 1440.0 / dotsPerInchY : 15;
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

void PendingBoxes::FillInto(QImage& image) {
    const int width = image.width();
    const int height = image.height();
    if (!IsRgb32(image.format())) {
        const qreal ratio = image.devicePixelRatio();
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (const Fill& fill : fills_) {
            const Strip s = ClippedTo(fill.strip, width, height);
            painter.fillRect(QRectF(s.left / ratio, s.top / ratio, (s.right - s.left) / ratio,
                                    (s.bottom - s.top) / ratio),
                             QColor(fill.rgb));
        }
        return;
    }
    auto* pixels = reinterpret_cast<QRgb*>(image.bits());
    const qsizetype stride = image.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
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

void PendingBoxes::FillBand(QRgb* pixels, qsizetype stride, const Fill* first, const Fill* last,
                            int width, int height) {
    const Strip band = ClippedTo(
        Strip{first->strip.left, first->strip.top, (last - 1)->strip.right, first->strip.bottom},
        width, height);
    if (band.left >= band.right || band.top >= band.bottom) {
        return;
    }
    QRgb* top = pixels + band.top * stride;
    for (const Fill* fill = first; fill != last; ++fill) {
        const int left = std::max(fill->strip.left, band.left);
        const int right = std::min(fill->strip.right, band.right);
        if (left < right) {
            std::fill(top + left, top + right, fill->rgb);
        }
    }
    const auto bytes = static_cast<std::size_t>(band.right - band.left) * sizeof(QRgb);
    for (int row = band.top + 1; row < band.bottom; ++row) {
        std::memcpy(pixels + row * stride + band.left, top + band.left, bytes);
    }
}

}  // namespace digitmosaic
