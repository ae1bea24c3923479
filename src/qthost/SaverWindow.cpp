#include "qthost/SaverWindow.h"

#include <QBackingStore>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace digitmosaic {

namespace {

constexpr QRgb ToRgb(PackedColor color) {
    const auto packed = static_cast<std::uint32_t>(color);
    return qRgb(static_cast<int>(packed & 0xFFU), static_cast<int>((packed >> 8) & 0xFFU),
                static_cast<int>((packed >> 16) & 0xFFU));
}

// Qt's buttons and modifiers in the desktop's classic encoding: left 1, right 2, middle 4;
// shift 1, control 2, alt 4.
int ButtonCode(Qt::MouseButtons buttons) {
    return (buttons & Qt::LeftButton ? 1 : 0) | (buttons & Qt::RightButton ? 2 : 0) |
           (buttons & Qt::MiddleButton ? 4 : 0);
}

int ShiftCode(Qt::KeyboardModifiers modifiers) {
    return (modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::ControlModifier ? 2 : 0) |
           (modifiers & Qt::AltModifier ? 4 : 0);
}

// The pixel edge nearest to a position in canvas pixels, held within [0, extent]: a position far
// outside the canvas (or not a number) lands on its border, so boxes beyond it are clipped.
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

SaverWindow::SaverWindow(SaverWindowEvents& events) : events_(events) {
    setWindowTitle(QString());
    setWindowFlag(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setCursor(Qt::BlankCursor);
    FitCanvas();
}

void SaverWindow::ShowOverScreen() {
    // Without a window manager nothing would resize the window on request: take the screen's
    // geometry first, then ask for full screen for the managers that honour it.
    setGeometry(screen()->geometry());
    FitCanvas();
    showFullScreen();
    raise();
    activateWindow();
    setFocus(Qt::ActiveWindowFocusReason);
}

void SaverWindow::FitCanvas() {
    const QSize pixels = size() * devicePixelRatio();
    if (canvas_.size() == pixels) {
        return;
    }
    QImage grown(pixels, QImage::Format_RGB32);
    grown.fill(Qt::black);
    if (!canvas_.isNull()) {
        QPainter painter(&grown);
        painter.drawImage(0, 0, canvas_);  // earlier pictures stay where they were
    }
    grown.setDevicePixelRatio(devicePixelRatio());
    canvas_ = std::move(grown);
    pixels_ = reinterpret_cast<QRgb*>(canvas_.bits());
    width_ = canvas_.width();
    height_ = canvas_.height();
    stride_ = canvas_.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    dirty_.assign(1, Strip{0, 0, width_, height_});
    UpdateMapping();
}

void SaverWindow::UpdateMapping() {
    pixelsPerUnitX_ = x2_ != x1_ ? width_ / (x2_ - x1_) : 0.0;
    pixelsPerUnitY_ = y2_ != y1_ ? height_ / (y2_ - y1_) : 0.0;
}

void SaverWindow::SetLogicalScale(double x1, double y1, double x2, double y2) {
    x1_ = x1;
    y1_ = y1;
    x2_ = x2;
    y2_ = y2;
    twipScale_ = false;
    UpdateMapping();
}

int SaverWindow::PixelX(double x) const { return EdgeWithin((x - x1_) * pixelsPerUnitX_, width_); }

int SaverWindow::PixelY(double y) const { return EdgeWithin((y - y1_) * pixelsPerUnitY_, height_); }

void SaverWindow::DrawBox(float x, float y, float dx, float dy, PackedColor color) {
    Strip box{PixelX(x), PixelY(y), PixelX(static_cast<double>(x) + dx),
              PixelY(static_cast<double>(y) + dy)};
    if (box.left > box.right) {
        std::swap(box.left, box.right);
    }
    if (box.top > box.bottom) {
        std::swap(box.top, box.bottom);
    }
    if (box.left == box.right || box.top == box.bottom) {
        return;
    }
    const QRgb rgb = ToRgb(color);
    QRgb* line = pixels_ + static_cast<qsizetype>(box.top) * stride_;
    for (int row = box.top; row < box.bottom; ++row, line += stride_) {
        std::fill(line + box.left, line + box.right, rgb);
    }
    MarkDirty(box);
}

// Boxes painted one after another along a row or a column merge into one strip, so a pump
// presents a few strips rather than their bounding box (a spiral's ring would be most of the
// screen).
void SaverWindow::MarkDirty(const Strip& box) {
    if (!dirty_.empty()) {
        Strip& last = dirty_.back();
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
    if (dirty_.size() == kMostStrips) {
        Strip bounds = box;
        for (const Strip& strip : dirty_) {
            bounds = United(bounds, strip);
        }
        dirty_.assign(1, bounds);
        return;
    }
    dirty_.push_back(box);
}

void SaverWindow::Present() {
    if (dirty_.empty()) {
        return;
    }
    const qreal ratio = devicePixelRatio();
    QRegion area;
    for (const Strip& strip : dirty_) {
        const QPoint topLeft(static_cast<int>(std::floor(strip.left / ratio)),
                             static_cast<int>(std::floor(strip.top / ratio)));
        const QPoint bottomRight(static_cast<int>(std::ceil(strip.right / ratio)) - 1,
                                 static_cast<int>(std::ceil(strip.bottom / ratio)) - 1);
        area += QRect(topLeft, bottomRight);
    }
    dirty_.clear();
    repaint(area);
}

void SaverWindow::paintEvent(QPaintEvent* event) {
    const qreal ratio = devicePixelRatio();
    // The backing store is an image of the same 32-bit pixels on most desktops: the lines go
    // straight in. QPainter would hand each tall strip to its thread pool, which costs more than
    // the copy.
    auto* store = backingStore() ? dynamic_cast<QImage*>(backingStore()->paintDevice()) : nullptr;
    if (!store || store->depth() != 32 || store->size() != canvas_.size()) {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(rect(), canvas_);
        return;
    }
    uchar* target = store->bits();
    const qsizetype targetStride = store->bytesPerLine();
    const uchar* source = canvas_.constBits();
    const qsizetype sourceStride = canvas_.bytesPerLine();
    for (const QRect& area : event->region()) {
        const QRect lines =
            QRect(QPoint(int(std::floor(area.left() * ratio)), int(std::floor(area.top() * ratio))),
                  QPoint(int(std::ceil((area.right() + 1) * ratio)) - 1,
                         int(std::ceil((area.bottom() + 1) * ratio)) - 1))
                .intersected(canvas_.rect());
        const auto bytes = static_cast<std::size_t>(lines.width()) * sizeof(QRgb);
        for (int y = lines.top(); y <= lines.bottom(); ++y) {
            std::memcpy(target + y * targetStride + lines.left() * qsizetype(sizeof(QRgb)),
                        source + y * sourceStride + lines.left() * qsizetype(sizeof(QRgb)), bytes);
        }
    }
}

void SaverWindow::resizeEvent(QResizeEvent* /*event*/) { FitCanvas(); }

void SaverWindow::keyPressEvent(QKeyEvent* event) {
    events_.Form_KeyDown(event->key(), ShiftCode(event->modifiers()));
}

void SaverWindow::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    events_.Form_MouseDown(ButtonCode(event->button()), ShiftCode(event->modifiers()),
                           LogicalX(at.x()), LogicalY(at.y()));
}

void SaverWindow::mouseReleaseEvent(QMouseEvent* /*event*/) { events_.Form_Click(); }

void SaverWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    events_.Form_MouseMove(ButtonCode(event->buttons()), ShiftCode(event->modifiers()),
                           LogicalX(at.x()), LogicalY(at.y()));
}

void SaverWindow::closeEvent(QCloseEvent* event) {
    bool cancel = false;
    events_.Form_Unload(cancel);
    event->setAccepted(!cancel);
}

float SaverWindow::LogicalX(double widgetX) const {
    if (twipScale_) {
        return static_cast<float>(widgetX * 1440.0 / logicalDpiX());
    }
    const double pixel = widgetX * devicePixelRatio();
    return static_cast<float>(x1_ + pixel * (x2_ - x1_) / canvas_.width());
}

float SaverWindow::LogicalY(double widgetY) const {
    if (twipScale_) {
        return static_cast<float>(widgetY * 1440.0 / logicalDpiY());
    }
    const double pixel = widgetY * devicePixelRatio();
    return static_cast<float>(y1_ + pixel * (y2_ - y1_) / canvas_.height());
}

}  // namespace digitmosaic
