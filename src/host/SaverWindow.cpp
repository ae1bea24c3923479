#include "host/SaverWindow.h"

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
#include <optional>

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
    stride_ = canvas_.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    dirty_.assign(1, canvas_.rect());
    UpdateMapping();
}

void SaverWindow::UpdateMapping() {
    pixelsPerUnitX_ = x2_ != x1_ ? canvas_.width() / (x2_ - x1_) : 0.0;
    pixelsPerUnitY_ = y2_ != y1_ ? canvas_.height() / (y2_ - y1_) : 0.0;
}

void SaverWindow::SetLogicalScale(double x1, double y1, double x2, double y2) {
    FitCanvas();
    x1_ = x1;
    y1_ = y1;
    x2_ = x2;
    y2_ = y2;
    twipScale_ = false;
    UpdateMapping();
}

int SaverWindow::PixelX(double x) const {
    return EdgeWithin((x - x1_) * pixelsPerUnitX_, canvas_.width());
}

int SaverWindow::PixelY(double y) const {
    return EdgeWithin((y - y1_) * pixelsPerUnitY_, canvas_.height());
}

void SaverWindow::DrawBox(float x, float y, float dx, float dy, PackedColor color) {
    int left = PixelX(x);
    int right = PixelX(static_cast<double>(x) + dx);
    int top = PixelY(y);
    int bottom = PixelY(static_cast<double>(y) + dy);
    if (left > right) {
        std::swap(left, right);
    }
    if (top > bottom) {
        std::swap(top, bottom);
    }
    if (left == right || top == bottom) {
        return;
    }
    const QRgb rgb = ToRgb(color);
    QRgb* line = pixels_ + static_cast<qsizetype>(top) * stride_;
    for (int row = top; row < bottom; ++row, line += stride_) {
        std::fill(line + left, line + right, rgb);
    }
    MarkDirty(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)));
}

// Boxes painted one after another along a row or a column merge into one rectangle, so a pump
// presents a few strips rather than their bounding box (a spiral's ring would be most of the
// screen).
void SaverWindow::MarkDirty(const QRect& box) {
    if (!dirty_.empty()) {
        QRect& last = dirty_.back();
        const bool sameRows = box.top() == last.top() && box.bottom() == last.bottom() &&
                              box.left() <= last.right() + 1 && box.right() + 1 >= last.left();
        const bool sameColumns = box.left() == last.left() && box.right() == last.right() &&
                                 box.top() <= last.bottom() + 1 && box.bottom() + 1 >= last.top();
        if (sameRows || sameColumns) {
            last |= box;
            return;
        }
    }
    constexpr std::size_t kMostStrips = 32;
    if (dirty_.size() == kMostStrips) {
        QRect bounds = box;
        for (const QRect& strip : dirty_) {
            bounds |= strip;
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
    for (const QRect& strip : dirty_) {
        const QPoint topLeft(static_cast<int>(std::floor(strip.left() / ratio)),
                             static_cast<int>(std::floor(strip.top() / ratio)));
        const QPoint bottomRight(static_cast<int>(std::ceil((strip.right() + 1) / ratio)) - 1,
                                 static_cast<int>(std::ceil((strip.bottom() + 1) / ratio)) - 1);
        area += QRect(topLeft, bottomRight);
    }
    dirty_.clear();
    repaint(area);
}

void SaverWindow::paintEvent(QPaintEvent* event) {
    const qreal ratio = devicePixelRatio();
    // The backing store is an image of the same 32-bit pixels on most desktops: copy the lines
    // straight in. QPainter would hand each tall strip to its thread pool, costing more than the
    // copy.
    auto* store = backingStore() ? dynamic_cast<QImage*>(backingStore()->paintDevice()) : nullptr;
    const bool direct = store && store->depth() == 32 && store->size() == canvas_.size();
    std::optional<QPainter> painter;
    if (!direct) {
        painter.emplace(this);
        painter->setCompositionMode(QPainter::CompositionMode_Source);
    }
    for (const QRect& area : event->region()) {
        const QRect source(
            QPoint(int(std::floor(area.left() * ratio)), int(std::floor(area.top() * ratio))),
            QPoint(int(std::ceil((area.right() + 1) * ratio)) - 1,
                   int(std::ceil((area.bottom() + 1) * ratio)) - 1));
        const QRect lines = source.intersected(canvas_.rect());
        if (!direct) {
            painter->drawImage(area.topLeft(), canvas_, source);
            continue;
        }
        for (int y = lines.top(); y <= lines.bottom(); ++y) {
            std::memcpy(store->scanLine(y) + lines.left() * 4,
                        canvas_.constScanLine(y) + lines.left() * 4,
                        static_cast<std::size_t>(lines.width()) * 4);
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
