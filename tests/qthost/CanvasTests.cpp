// The saver window's canvas: cells tile it exactly in their packed colours, boxes outside the
// grid are clipped, earlier pictures stay, and mouse positions come back in logical units.
#include <QMouseEvent>
#include <QTest>
#include <set>

#include "QtHostFixture.h"

namespace digitmosaic::testing {
namespace {

// A colour that names its cell: column in the low 12 bits, row above, never black.
PackedColor CellColor(int col, int row) { return (row + 1) * 4096 + col; }

struct Grid {
    int columns;
    int rows;
    int width;
    int height;
};

class TilingTest : public QtHostTest, public ::testing::WithParamInterface<Grid> {};

// Every pixel belongs to exactly one cell; a pixel column (row) of the canvas meets the same
// grid column (row) all the way down (across); cells follow each other in order, without gaps,
// and are all within one pixel of the same size.
TEST_P(TilingTest, CellsCoverEveryPixelOnceInTheirOwnColour) {
    const Grid grid = GetParam();
    Open();
    Resize(grid.width, grid.height);
    host_->SetLogicalScale(0, 0, grid.columns, grid.rows);
    for (int row = 0; row < grid.rows; ++row) {
        for (int col = 0; col < grid.columns; ++col) {
            host_->DrawBox(static_cast<float>(col), static_cast<float>(row), 1, 1,
                           CellColor(col, row));
        }
    }

    const QImage& canvas = Canvas();
    std::vector<int> columnOf(static_cast<std::size_t>(canvas.width()));
    std::vector<int> rowOf(static_cast<std::size_t>(canvas.height()));
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const QRgb pixel = canvas.pixel(x, y);
            const int packed = PackRgb(qRed(pixel), qGreen(pixel), qBlue(pixel));
            ASSERT_NE(packed, 0) << "uncovered pixel " << x << "," << y;
            const int col = packed % 4096;
            const int row = packed / 4096 - 1;
            if (y == 0) {
                columnOf[static_cast<std::size_t>(x)] = col;
            }
            if (x == 0) {
                rowOf[static_cast<std::size_t>(y)] = row;
            }
            ASSERT_EQ(col, columnOf[static_cast<std::size_t>(x)]) << "at " << x << "," << y;
            ASSERT_EQ(row, rowOf[static_cast<std::size_t>(y)]) << "at " << x << "," << y;
        }
    }

    const auto checkRuns = [](const std::vector<int>& cellOf, int cells, int pixels) {
        std::vector<int> runs(static_cast<std::size_t>(cells), 0);
        for (std::size_t i = 0; i < cellOf.size(); ++i) {
            if (i > 0) {
                ASSERT_TRUE(cellOf[i] == cellOf[i - 1] || cellOf[i] == cellOf[i - 1] + 1);
            }
            ++runs[static_cast<std::size_t>(cellOf[i])];
        }
        ASSERT_EQ(cellOf.front(), 0);
        ASSERT_EQ(cellOf.back(), cells - 1);
        const int narrow = pixels / cells;
        for (int run : runs) {
            EXPECT_TRUE(run == narrow || run == narrow + 1) << run << " pixels for one cell";
        }
    };
    checkRuns(columnOf, grid.columns, canvas.width());
    checkRuns(rowOf, grid.rows, canvas.height());
}

INSTANTIATE_TEST_SUITE_P(Grids, TilingTest,
                         ::testing::Values(Grid{48, 40, 1920, 1080}, Grid{358, 299, 1920, 1080},
                                           Grid{175, 146, 1366, 768}, Grid{299, 249, 1280, 1024},
                                           Grid{49, 41, 641, 479}, Grid{358, 299, 358, 299}));

TEST_F(QtHostTest, BoxesOutsideTheGridAreClippedToTheCanvas) {
    Open();
    Resize(200, 100);
    host_->SetLogicalScale(0, 0, 20, 10);
    const QImage before = Canvas().copy();
    host_->DrawBox(-3, 2, 1, 1, PackRgb(255, 0, 0));    // left of the grid
    host_->DrawBox(25, 2, 1, 1, PackRgb(255, 0, 0));    // right of it
    host_->DrawBox(2, -40, 1, 1, PackRgb(255, 0, 0));   // above
    host_->DrawBox(2, 1e9F, 1, 1, PackRgb(255, 0, 0));  // far below
    EXPECT_EQ(Canvas(), before);

    host_->DrawBox(-1, 9, 2, 5, PackRgb(0, 0, 255));  // straddles the bottom-left corner
    EXPECT_EQ(Canvas().pixel(0, 99), qRgb(0, 0, 255));
    EXPECT_EQ(Canvas().pixel(9, 90), qRgb(0, 0, 255));
    EXPECT_EQ(Canvas().pixel(10, 99), before.pixel(10, 99));
    EXPECT_EQ(Canvas().pixel(0, 89), before.pixel(0, 89));
}

TEST_F(QtHostTest, EarlierPicturesStayWhenTheWindowGrows) {
    Open();
    Resize(300, 200);
    host_->SetLogicalScale(0, 0, 3, 2);
    host_->DrawBox(1, 1, 1, 1, PackRgb(10, 20, 30));
    host_->PumpEvents();
    Resize(600, 400);
    EXPECT_EQ(Canvas().pixel(150, 150), qRgb(10, 20, 30));
    EXPECT_EQ(Canvas().pixel(450, 300), qRgb(0, 0, 0));
}

TEST_F(QtHostTest, MousePositionsArriveInLogicalUnits) {
    Open();
    Resize(800, 600);
    const int dpi = window_->logicalDpiX();

    QTest::mouseMove(window_, QPoint(400, 300));
    host_->SetLogicalScale(0, 0, 48, 40);
    QTest::mouseMove(window_, QPoint(200, 450));

    ASSERT_EQ(events_.moves.size(), 2U);
    // Until the program sets a scale, the window measures in twips.
    EXPECT_FLOAT_EQ(events_.moves[0].x, 400.0F * 1440.0F / static_cast<float>(dpi));
    EXPECT_FLOAT_EQ(events_.moves[1].x, 12.0F);
    EXPECT_FLOAT_EQ(events_.moves[1].y, 30.0F);
}

}  // namespace
}  // namespace digitmosaic::testing
