// The saver's window on one screen: fitting, filling its backing store, and input.
#include "qt/SaverWindow.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <cmath>

#include "system/Watchdog.h"

namespace digitmosaic {

namespace {

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

bool IsRgb32(QImage::Format format) {
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
           format == QImage::Format_ARGB32_Premultiplied;
}

// The boxes into the backing store's image: straight into its pixels when they are 32-bit RGB,
// through a painter in any other format.
void FillImage(const PendingBoxes& boxes, QImage& image) {
    if (IsRgb32(image.format())) {
        boxes.FillInto(reinterpret_cast<Pixel*>(image.bits()),
                       image.bytesPerLine() / static_cast<qsizetype>(sizeof(Pixel)), image.width(),
                       image.height());
        return;
    }
    const qreal ratio = image.devicePixelRatio();
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const PendingBoxes::Fill& fill : boxes.Fills()) {
        const Strip s = ClippedTo(fill.strip, image.width(), image.height());
        painter.fillRect(QRectF(s.left / ratio, s.top / ratio, (s.right - s.left) / ratio,
                                (s.bottom - s.top) / ratio),
                         QColor(QRgb{fill.pixel}));
    }
}

}  // namespace

SaverWindow::SaverWindow(SaverWindowEvents& events, QScreen* screen)
    : events_(events), store_(this) {
    setScreen(screen);
    setSurfaceType(QSurface::RasterSurface);
    setFlag(Qt::FramelessWindowHint);
    setTitle(QString());
    setCursor(Qt::BlankCursor);
}

void SaverWindow::CoverScreen() {
    // Without a window manager nothing would resize the window on request: take the screen's
    // geometry first, then ask for full screen for the managers that honour it.
    setGeometry(screen()->geometry());
    showFullScreen();
    Fit();
    raise();
}

// Only between beginPaint and endPaint.
QImage* SaverWindow::StoreImage() {
    QPaintDevice* device = store_.paintDevice();
    return device && device->devType() == QInternal::Image ? static_cast<QImage*>(device) : nullptr;
}

void SaverWindow::Fit() {
    const qreal ratio = devicePixelRatio();
    const QSize pixels(qRound(width() * ratio), qRound(height() * ratio));
    if (!handle() || pixels.isEmpty() || pixels == fitted_) {
        return;
    }
    QImage earlier;
    if (!fitted_.isEmpty()) {
        Present();  // what was drawn for the old size goes in first
        earlier = Picture();
    }
    QSize painted = pixels;
    store_.resize(size());
    store_.beginPaint(QRect(QPoint(), size()));
    if (QImage* image = StoreImage()) {
        const qreal imageRatio = image->devicePixelRatio();
        QPainter painter(image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(QRectF(QPointF(), QSizeF(image->size()) / imageRatio), Qt::black);
        earlier.setDevicePixelRatio(imageRatio);  // pixel for pixel, where they were
        painter.drawImage(QPointF(), earlier);
        painted = image->size();
    }
    store_.endPaint();
    pending_.Clear();
    pending_.Grid().Resize(painted.width(), painted.height(),
                           screen()->logicalDotsPerInchX() * ratio,
                           screen()->logicalDotsPerInchY() * ratio);
    pending_.MarkAll();
    fitted_ = pixels;
}

void SaverWindow::SetLogicalScale(double x1, double y1, double x2, double y2) {
    pending_.Grid().SetLogicalScale(x1, y1, x2, y2);
}

void SaverWindow::DrawBox(float x, float y, float dx, float dy, PackedColor color) {
    pending_.Draw(x, y, dx, dy, color);
}

QRegion SaverWindow::RegionOf(const std::vector<Strip>& strips) const {
    const qreal ratio = devicePixelRatio();
    QRegion region;
    for (const Strip& strip : strips) {
        const QPoint topLeft(static_cast<int>(std::floor(strip.left / ratio)),
                             static_cast<int>(std::floor(strip.top / ratio)));
        const QPoint bottomRight(static_cast<int>(std::ceil(strip.right / ratio)) - 1,
                                 static_cast<int>(std::ceil(strip.bottom / ratio)) - 1);
        region += QRect(topLeft, bottomRight);
    }
    return region;
}

void SaverWindow::Present() {
    if (pending_.Empty() || fitted_.isEmpty()) {
        return;
    }
    const QRegion region = RegionOf(pending_.Strips());
    store_.beginPaint(region);
    if (QImage* image = StoreImage()) {
        FillImage(pending_, *image);
    }
    store_.endPaint();
    pending_.Clear();
    if (isExposed()) {
        store_.flush(region);
    }
}

QImage SaverWindow::Picture() {
    if (fitted_.isEmpty()) {
        return {};
    }
    store_.beginPaint(QRegion());
    const QImage* image = StoreImage();
    QImage picture = image ? image->copy() : QImage();
    store_.endPaint();
    picture.setDevicePixelRatio(1);
    return picture;
}

bool SaverWindow::event(QEvent* event) {
    WatchdogBeat();  // ends a rest: the handling is watched
    // The toolkit would tell the accessibility bridge of a focus change, and would start the bridge
    // and its session-bus connection for it (a thread that the window waits for). A saver has
    // nothing for assistive technology to read: its focus changes stop here.
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        return true;
    }
    return QWindow::event(event);
}

void SaverWindow::exposeEvent(QExposeEvent* /*event*/) {
    if (!isExposed()) {
        return;
    }
    Fit();
    if (!fitted_.isEmpty()) {
        store_.flush(QRect(QPoint(), size()));
    }
}

void SaverWindow::resizeEvent(QResizeEvent* /*event*/) { Fit(); }

void SaverWindow::keyPressEvent(QKeyEvent* event) {
    events_.Form_KeyDown(event->key(), ShiftCode(event->modifiers()));
}

void SaverWindow::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position() * devicePixelRatio();
    events_.Form_MouseDown(ButtonCode(event->button()), ShiftCode(event->modifiers()),
                           pending_.Grid().LogicalX(at.x()), pending_.Grid().LogicalY(at.y()));
}

void SaverWindow::mouseReleaseEvent(QMouseEvent* /*event*/) { events_.Form_Click(); }

void SaverWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position() * devicePixelRatio();
    events_.Form_MouseMove(ButtonCode(event->buttons()), ShiftCode(event->modifiers()),
                           pending_.Grid().LogicalX(at.x()), pending_.Grid().LogicalY(at.y()));
}

void SaverWindow::closeEvent(QCloseEvent* event) {
    bool cancel = false;
    events_.Form_Unload(cancel);
    event->setAccepted(!cancel);
}

}  // namespace digitmosaic
