#include "qthost/PixelGrid.h"

#include <QPainter>
#include <cstddef>

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

StripFiller::StripFiller(QImage& image) : image_(image) {
    if (IsRgb32(image.format())) {
        pixels_ = reinterpret_cast<QRgb*>(image.bits());
        stride_ = image.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    }
}

void StripFiller::Fill(const Strip& strip, QRgb rgb) {
    if (pixels_) {
        QRgb* line = pixels_ + strip.top * stride_;
        for (int row = strip.top; row < strip.bottom; ++row, line += stride_) {
            std::fill(line + strip.left, line + strip.right, rgb);
        }
        return;
    }
    const qreal ratio = image_.devicePixelRatio();
    QPainter painter(&image_);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(QRectF(strip.left / ratio, strip.top / ratio,
                            (strip.right - strip.left) / ratio, (strip.bottom - strip.top) / ratio),
                     QColor(rgb));
}

void PendingBoxes::FillInto(QImage& image) {
    StripFiller filler(image);
    for (const Fill& fill : fills_) {
        const Strip strip = ClippedTo(fill.strip, image.width(), image.height());
        if (strip.left < strip.right && strip.top < strip.bottom) {
            filler.Fill(strip, fill.rgb);
        }
    }
}

QImage Refitted(const QImage& old, int width, int height) {
    QImage fitted(width, height, QImage::Format_RGB32);
    fitted.fill(Qt::black);
    if (!old.isNull()) {
        QPainter painter(&fitted);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        QImage source = old;
        source.setDevicePixelRatio(1);
        painter.drawImage(0, 0, source);
    }
    return fitted;
}

}  // namespace digitmosaic
