// The Qt host on Qt's offscreen platform: cells tile the canvas exactly in their colours and are
// clipped to it, mouse positions come back in logical units, PumpEvents delivers pending events
// and paces itself to the screen, and the instance lock answers however often it is asked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <chrono>

#include "qthost/InstanceLock.h"
#include "qthost/QtHost.h"
#include "qthost/SaverWindow.h"

namespace digitmosaic {
namespace {

int argc = 1;
char program[] = "qthost_tests";
char* argv[] = {program, nullptr};

class Recorder final : public SaverWindowEvents {
  public:
    void Form_Load() override {}
    void Form_Click() override { calls += "Click "; }
    void Form_KeyDown(int, int) override { calls += "Key "; }
    void Form_MouseDown(int button, int, float, float) override {
        calls += "Down" + std::to_string(button) + " ";
    }
    void Form_MouseMove(int, int, float x, float y) override { moves.emplace_back(x, y); }
    void Form_Unload(bool& cancel) override { calls += "Unload ", cancel = true; }
    std::string calls;
    std::vector<std::pair<float, float>> moves;
};

class QtHostTest : public ::testing::Test {
  protected:
    void Open(int width, int height, QtHost::Pacing pacing = QtHost::Pacing::Unpaced) {
        window_ = nullptr;
        host_.reset();  // the previous host and its window go first
        host_ = std::make_unique<QtHost>(argc, argv, pacing);
        host_->OpenWindow(events_);
        window_ = host_->SaverWindows().at(0);
        window_->setWindowState(Qt::WindowNoState);  // full screen would keep the screen's size
        window_->setGeometry(0, 0, width, height);
        QCoreApplication::processEvents();
        ASSERT_EQ(Picture().size(), QSize(width, height));
    }
    QImage Picture() const { return host_->SaverPictures().at(0); }

    Recorder events_;
    std::unique_ptr<QtHost> host_;
    SaverWindow* window_ = nullptr;
};

// Every pixel shows the colour of exactly one cell; the cell's column depends only on the
// pixel's x and its row only on y, both step by one, and no cell is more than a pixel wider
// than another: no gap, overlap or seam.
TEST_F(QtHostTest, CellsTileTheCanvasExactly) {
    const int grids[][4] = {{48, 40, 1920, 1080},
                            {358, 299, 1920, 1080},
                            {175, 146, 1366, 768},
                            {49, 41, 641, 479},
                            {358, 299, 358, 299}};
    for (const auto& [columns, rows, width, height] : grids) {
        Open(width, height);
        host_->SetLogicalScale(0, 0, columns, rows);
        for (int row = 0; row < rows; ++row) {
            for (int col = 0; col < columns; ++col) {
                host_->DrawBox(float(col), float(row), 1, 1, col + 512 * (row + 1));
            }
        }
        // The cell a pixel shows, as (column, row); black gives row -1.
        const QImage picture = Picture();
        const auto cell = [&picture](int x, int y) {
            const QRgb c = picture.pixel(x, y);
            const int packed = PackRgb(qRed(c), qGreen(c), qBlue(c));
            return std::pair(packed % 512, packed / 512 - 1);
        };
        std::vector<int> cellsWide(columns), cellsHigh(rows);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const auto [col, row] = cell(x, y);
                ASSERT_GE(row, 0) << "uncovered pixel " << x << "," << y;
                const auto [colUp, rowUp] = cell(x, y ? y - 1 : 0);
                const auto [colLeft, rowLeft] = cell(x ? x - 1 : 0, y);
                ASSERT_TRUE(col == colUp && row == rowLeft) << "seam at " << x << "," << y;
                ASSERT_TRUE(col - colLeft <= 1 && row - rowUp <= 1) << "gap at " << x << "," << y;
                cellsWide[col] += y == 0, cellsHigh[row] += x == 0;
            }
        }
        for (int run : cellsWide) ASSERT_TRUE(run == width / columns || run == width / columns + 1);
        for (int run : cellsHigh) ASSERT_TRUE(run == height / rows || run == height / rows + 1);
    }
}

TEST_F(QtHostTest, BoxesBeyondTheGridAreClippedToTheCanvas) {
    Open(200, 100);
    host_->SetLogicalScale(0, 0, 20, 10);
    const QImage before = Picture();
    for (const auto& [x, y] : {std::pair{-3.F, 2.F}, {25.F, 2.F}, {2.F, -40.F}, {2.F, 1e9F}}) {
        host_->DrawBox(x, y, 1, 1, PackRgb(255, 0, 0));
    }
    EXPECT_EQ(Picture(), before);
    host_->DrawBox(-1, 9, 2, 5, PackRgb(0, 0, 255));  // over the bottom-left corner
    const QImage after = Picture();
    EXPECT_EQ(after.pixel(0, 99), qRgb(0, 0, 255));
    EXPECT_EQ(after.pixel(9, 90), qRgb(0, 0, 255));
    EXPECT_EQ(after.pixel(10, 99), before.pixel(10, 99));
}

TEST_F(QtHostTest, MousePositionsArriveInTwipsThenInLogicalUnits) {
    Open(800, 600);
    QTest::mouseMove(window_, QPoint(400, 300));
    host_->SetLogicalScale(0, 0, 48, 40);
    QTest::mouseMove(window_, QPoint(200, 450));
    ASSERT_EQ(events_.moves.size(), 2U);
    EXPECT_FLOAT_EQ(events_.moves[0].first,
                    400.F * 1440.F / float(window_->screen()->logicalDotsPerInchX()));
    EXPECT_EQ(events_.moves[1], std::pair(12.F, 30.F));
}

TEST_F(QtHostTest, PumpDeliversPendingKeyMouseAndCloseEvents) {
    Open(200, 100);
    QCoreApplication::postEvent(window_, new QKeyEvent(QEvent::KeyPress, Qt::Key_A, {}));
    QCoreApplication::postEvent(window_, new QMouseEvent(QEvent::MouseButtonPress, {5, 5}, {5, 5},
                                                         Qt::RightButton, Qt::RightButton, {}));
    QCoreApplication::postEvent(window_, new QCloseEvent);
    EXPECT_EQ(events_.calls, "");
    host_->PumpEvents();
    EXPECT_EQ(events_.calls, "Key Down2 Unload ");
}

TEST_F(QtHostTest, PacedPumpsAreARefreshApartAndHandleEventsWhileWaiting) {
    Open(200, 100, QtHost::Pacing::ToDisplay);
    const double hertz =
        window_->screen()->refreshRate() > 0 ? window_->screen()->refreshRate() : 60;
    host_->PumpEvents();
    const auto start = std::chrono::steady_clock::now();
    QTimer::singleShot(2, [this] {
        QCoreApplication::postEvent(window_, new QKeyEvent(QEvent::KeyPress, Qt::Key_B, {}));
    });
    host_->PumpEvents();
    EXPECT_EQ(events_.calls, "Key ");  // arrived during the wait, handled before the pump returned
    for (int i = 0; i < 4; ++i) host_->PumpEvents();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::duration<double>(5 / hertz));
}

TEST(InstanceLockTest, LaterClaimsSeeTheHolderHoweverOftenTheyAsk) {
    const std::string name = "digitmosaic-test-" + std::to_string(getpid());
    {
        InstanceLock holder(name);
        ASSERT_FALSE(holder.AnotherInstanceRunning());
        EXPECT_FALSE(holder.AnotherInstanceRunning()) << "the holder must not see itself";
        for (int i = 0; i < 100; ++i) {  // more than the listen backlog
            if (i % 10 == 0) holder.AcceptPending();
            ASSERT_TRUE(InstanceLock(name).AnotherInstanceRunning()) << "query " << i;
        }
    }
    EXPECT_FALSE(InstanceLock(name).AnotherInstanceRunning()) << "released with its holder";
}

}  // namespace
}  // namespace digitmosaic

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
