// The saver window: a black full-screen widget that keeps every picture in a persistent
// canvas at device-pixel size, maps the program's logical units onto it, and passes input
// to the saver's handlers.
#pragma once

#include <QImage>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "host/HostServices.h"

namespace digitmosaic {

class SaverWindow final : public QWidget {
    Q_OBJECT

  public:
    explicit SaverWindow(SaverWindowEvents& events);

    // Covers the screen the window is on, with or without a window manager.
    void ShowOverScreen();

    void SetLogicalScale(double x1, double y1, double x2, double y2);
    // Fills the box's pixels with the exact colour; the part outside the canvas is clipped.
    void DrawBox(float x, float y, float dx, float dy, PackedColor color);
    // Puts on screen what was drawn since the last call.
    void Present();

    // For reading only: DrawBox writes the pixels in place, so keep deep copies, not shallow ones.
    const QImage& Canvas() const { return canvas_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // A rectangle of canvas pixels, right and bottom exclusive.
    struct Strip {
        int left;
        int top;
        int right;
        int bottom;
    };
    static Strip United(const Strip& a, const Strip& b) {
        return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
    }

    void FitCanvas();
    void MarkDirty(const Strip& box);
    void UpdateMapping();
    // Canvas pixel edge of a logical coordinate; neighbouring boxes share their edges.
    int PixelX(double x) const;
    int PixelY(double y) const;
    // Logical coordinates of a point in widget coordinates.
    float LogicalX(double widgetX) const;
    float LogicalY(double widgetY) const;

    SaverWindowEvents& events_;
    QImage canvas_;
    QRgb* pixels_ = nullptr;  // the canvas's pixels, written directly by DrawBox
    qsizetype stride_ = 0;    // pixels per canvas line
    int width_ = 0;           // canvas size in pixels
    int height_ = 0;
    std::vector<Strip> dirty_;  // drawn since the last Present
    double x1_ = 0;
    double y1_ = 0;
    double x2_ = 1;
    double y2_ = 1;
    double pixelsPerUnitX_ = 0;
    double pixelsPerUnitY_ = 0;
    bool twipScale_ = true;  // until the program sets a scale, units are twips
};

}  // namespace digitmosaic
