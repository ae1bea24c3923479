// The saver's own window on one screen, a surface: a black full-screen window whose backing store
// keeps every picture painted so far. Boxes drawn between two presents are filled into it and shown
// together; input goes to the saver's handlers.
#pragma once

#include <QBackingStore>
#include <QWindow>
#include <vector>

#include "core/PendingBoxes.h"
#include "geometry/Surface.h"
#include "host/HostServices.h"

namespace digitmosaic {

class SaverWindow final : public QWindow, public Surface {
    Q_OBJECT

  public:
    SaverWindow(SaverWindowEvents& events, QScreen* screen);

    // Covers the window's screen, with or without a window manager, and follows it when the
    // screen changes size or place.
    void CoverScreen();

    void SetLogicalScale(double x1, double y1, double x2, double y2) override;
    void DrawBox(float x, float y, float dx, float dy, PackedColor color) override;
    void Present() override;
    void Show() override { CoverScreen(); }
    // Closes the window, which raises the saver's unload event.
    void Unload() override { close(); }
    bool Visible() const override { return isExposed(); }

  protected:
    bool event(QEvent* event) override;
    void exposeEvent(QExposeEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // Sizes the picture to the window, keeping the earlier pictures where they were.
    void Fit();
    QImage* StoreImage();
    // A copy of the picture the window shows (up to the last Present), in device pixels.
    QImage Picture();
    // The logical region (in window coordinates) that holds the device-pixel strips.
    QRegion RegionOf(const std::vector<Strip>& strips) const;

    SaverWindowEvents& events_;
    QBackingStore store_;
    QSize fitted_;          // the window's size in device pixels, once fitted
    PendingBoxes pending_;  // drawn since the last Present
};

}  // namespace digitmosaic
