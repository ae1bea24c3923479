// The Qt host with two screens of different sizes (Qt's offscreen platform): one window per
// screen, each painted from the same stream of boxes fitted to its own size, and a window that
// changes size keeps the earlier pictures where they were.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>

#include "qthost/QtHost.h"
#include "qthost/SaverWindow.h"

namespace digitmosaic {
namespace {

int argc = 1;
char program[] = "screens_tests";
char* argv[] = {program, nullptr};

class Idle final : public SaverWindowEvents {
  public:
    void Form_Load() override {}
    void Form_Click() override {}
    void Form_KeyDown(int, int) override {}
    void Form_MouseDown(int, int, float, float) override {}
    void Form_MouseMove(int, int, float, float) override {}
    void Form_Unload(bool&) override {}
};

// The colour of cell (col, row) in a grid of the given width.
PackedColor CellColour(int col, int row) { return PackRgb(40 * col + 20, 60 * row + 10, 200); }

class ScreensTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host_.OpenWindow(events_);
        host_.PumpEvents();
    }
    // Paints a grid of distinct cells and returns the pictures the windows show.
    std::vector<QImage> PaintGrid(int columns, int rows) {
        host_.SetLogicalScale(0, 0, columns, rows);
        for (int row = 0; row < rows; ++row)
            for (int col = 0; col < columns; ++col)
                host_.DrawBox(float(col), float(row), 1, 1, CellColour(col, row));
        host_.PumpEvents();
        return host_.SaverPictures();
    }

    Idle events_;
    QtHost host_{argc, argv, QtHost::Pacing::Unpaced};
};

TEST_F(ScreensTest, EveryScreenShowsTheSamePictureFittedToIt) {
    ASSERT_EQ(host_.SaverWindows().size(), 2U);
    const std::vector<QImage> pictures = PaintGrid(5, 3);
    for (std::size_t screen = 0; screen < 2; ++screen) {
        const QImage& picture = pictures[screen];
        const QSize size = QGuiApplication::screens()[int(screen)]->geometry().size();
        ASSERT_EQ(picture.size(), size) << "screen " << screen;
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                const int col = x * 5 / size.width(), row = y * 3 / size.height();
                // Pixels on a cell's edge may belong to either neighbour.
                const bool edge = (x * 5) % size.width() == 0 || (y * 3) % size.height() == 0;
                const QRgb expected = qRgb(40 * col + 20, 60 * row + 10, 200);
                if (!edge && picture.pixel(x, y) != expected) {
                    FAIL() << "screen " << screen << " (" << size.width() << "x" << size.height()
                           << ") pixel " << x << "," << y << " is not cell " << col << "," << row;
                }
            }
        }
    }
}

TEST_F(ScreensTest, AResizedWindowKeepsItsPicturesAndPaintsTheNextBoxesAtItsNewSize) {
    const QImage before = PaintGrid(4, 4).at(0);  // 640 x 480: cells of 160 x 120
    SaverWindow* window = host_.SaverWindows().at(0);
    window->setWindowState(Qt::WindowNoState);
    window->setGeometry(0, 0, 800, 400);
    QCoreApplication::processEvents();
    QImage after = host_.SaverPictures().at(0);
    ASSERT_EQ(after.size(), QSize(800, 400));
    EXPECT_EQ(after.copy(0, 0, 640, 400), before.copy(0, 0, 640, 400)) << "earlier picture moved";
    EXPECT_EQ(after.pixel(700, 100), qRgb(0, 0, 0)) << "the new area starts black";

    host_.DrawBox(3, 3, 1, 1, PackRgb(255, 255, 255));  // the bottom-right cell, now 200 x 100
    host_.PumpEvents();
    after = host_.SaverPictures().at(0);
    EXPECT_EQ(after.pixel(600, 300), qRgb(255, 255, 255));
    EXPECT_EQ(after.pixel(799, 399), qRgb(255, 255, 255));
    EXPECT_EQ(after.pixel(599, 299), before.pixel(599, 299));
}

}  // namespace
}  // namespace digitmosaic

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" SCREENS_CONFIG);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
