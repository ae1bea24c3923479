// The Qt host on Qt's offscreen platform (also scaled to device pixel ratio 2, and on two screens):
// the picture starts black and every pump presents what was drawn; input reaches the handlers,
// positions in twips then in logical units; paced pumps keep the screen's beat; the about window
// shows its whole notice; and each screen shows the one picture fitted to it, kept across resizes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <random>

#include "qt/QtHost.h"
#include "qt/SaverWindow.h"
#include "qt/ToolkitEnvironment.h"

namespace digitmosaic {
namespace {

int argc = 1;
char program[] = "qt_tests";
char* argv[] = {program, nullptr};

// The saver's windows, as the application holds them, in the order they were made.
std::vector<SaverWindow*> SaverWindows() {
    std::vector<SaverWindow*> windows;
    for (QWindow* window : QGuiApplication::topLevelWindows())
        if (auto* saver = qobject_cast<SaverWindow*>(window)) windows.push_back(saver);
    return windows;
}

class Recorder final : public SaverWindowEvents, public AboutWindowEvents {
  public:
    void Form_Load() override {}
    void Form_Click() override { calls += "Click "; }
    void Form_KeyDown(int key, int shift) override { Log("Key", key, shift); }
    void Form_MouseDown(int button, int shift, float, float) override {
        Log("Down", button, shift);
    }
    void Form_MouseMove(int, int, float x, float y) override { moves.emplace_back(x, y); }
    void Form_Unload(bool& cancel) override { calls += "Unload ", cancel = true; }
    void Command1_Click() override { calls += "OK "; }
    void Log(const char* what, int code, int shift) {
        calls += what + std::to_string(code) + '/' + std::to_string(shift) + ' ';
    }
    std::string calls;
    std::vector<std::pair<float, float>> moves;
};

class QtHostTest : public ::testing::Test {
  protected:
    // The saver window at the given size in logical pixels; its picture has the device's pixels.
    void Open(int width, int height, QtHost::Pacing pacing = QtHost::Pacing::Unpaced) {
        host_ = std::make_unique<QtHost>(argc, argv, pacing);
        host_->OpenWindow(static_cast<SaverWindowEvents&>(events_));
        window_ = SaverWindows().at(0);
        window_->setWindowState(Qt::WindowNoState);  // full screen would keep the screen's size
        window_->setGeometry(0, 0, width, height);
        QCoreApplication::processEvents();
        ASSERT_EQ(window_->Picture().size(), QSize(width, height) * window_->devicePixelRatio());
    }
    Recorder events_;
    std::unique_ptr<QtHost> host_;
    SaverWindow* window_ = nullptr;
};

// The picture starts black, and every pump puts in it all that was drawn since the last: cells
// anywhere, each 5 x 5 logical pixels (how boxes become pixels is the geometry tests' part).
TEST_F(QtHostTest, ThePictureStartsBlackAndEveryPumpPresentsAllCellsDrawnSinceTheLast) {
    Open(240, 200);
    host_->SetLogicalScale(0, 0, 48, 40);
    QImage expected(window_->Picture().size(), QImage::Format_RGB32);
    expected.fill(Qt::black);
    const qreal cell = 5 * window_->devicePixelRatio();
    std::mt19937 scatter(7);
    for (int pump = 0; pump < 6; ++pump) {
        QPainter painter(&expected);
        for (int i = 0; i < 60; ++i) {
            const int x = int(scatter() % 48), y = int(scatter() % 40);
            host_->DrawBox(float(x), float(y), 1, 1, PackRgb(40 * pump, 4 * i, 255 - i));
            painter.fillRect(QRectF(x * cell, y * cell, cell, cell),
                             QColor(40 * pump, 4 * i, 255 - i));
        }
        painter.end();
        host_->PumpEvents();
        ASSERT_EQ(window_->Picture().convertToFormat(QImage::Format_RGB32), expected) << pump;
    }
}

// Pending keys, buttons (with the modifiers held) and a close reach the handlers at the next
// pump; the pointer comes in twips (15 a pixel at 96 dots per inch) until the program sets a
// scale, then in logical units.
TEST_F(QtHostTest, PumpsDeliverInputWithModifiersAndPositionsInTwipsThenLogicalUnits) {
    Open(400, 300);
    ASSERT_EQ(window_->screen()->logicalDotsPerInchX(), 96);
    QCoreApplication::postEvent(
        window_, new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier | Qt::AltModifier));
    QCoreApplication::postEvent(
        window_, new QMouseEvent(QEvent::MouseButtonPress, {5, 5}, {5, 5}, Qt::RightButton,
                                 Qt::RightButton, Qt::ControlModifier));
    QCoreApplication::postEvent(window_, new QCloseEvent);
    EXPECT_EQ(events_.calls, "");
    host_->PumpEvents();
    EXPECT_EQ(events_.calls, "Key65/5 Down2/2 Unload ");
    QTest::mouseMove(window_, QPoint(200, 150));
    host_->SetLogicalScale(0, 0, 48, 40);
    QTest::mouseMove(window_, QPoint(100, 225));
    EXPECT_EQ(events_.moves, (std::vector<std::pair<float, float>>{{3000, 2250}, {12, 30}}));
}

// Paced pumps keep a beat of one a refresh: the k-th after the first never returns before k
// refreshes have passed (a late one lets the next catch up, but none runs ahead), the median gap
// is not a refresh late, and the events that come meanwhile are handled.
TEST_F(QtHostTest, PacedPumpsKeepABeatOfOneARefreshAndHandleEventsWhileWaiting) {
    Open(200, 100, QtHost::Pacing::ToDisplay);
    const std::chrono::duration<double> refresh(1 / window_->screen()->refreshRate());  // 60 Hz
    host_->PumpEvents();
    const auto first = std::chrono::steady_clock::now();
    QTimer::singleShot(2, [this] {
        QCoreApplication::postEvent(window_, new QKeyEvent(QEvent::KeyPress, Qt::Key_B, {}));
    });
    std::vector<std::chrono::duration<double>> gaps;
    for (auto last = first; gaps.size() < 10;) {
        host_->PumpEvents();
        const auto now = std::chrono::steady_clock::now();
        gaps.push_back(now - std::exchange(last, now));
        EXPECT_GE(now - first, refresh * (double(gaps.size()) - 0.5)) << "pump " << gaps.size();
    }
    EXPECT_EQ(events_.calls, "Key66/0 ");  // came during the first wait, handled within it
    std::nth_element(gaps.begin(), gaps.begin() + 5, gaps.end());
    EXPECT_LT(gaps[5], refresh * 1.5);
}

// The notice names the saver, its makers' property, free and not for sale, and fits the label
// whole; OK sits inside the window and raises its handler; Escape closes the window.
TEST(AboutWindowTest, ShowsTheWholeNoticeAndAnOkButton) {
    Recorder events;
    QtHost host(argc, argv);
    host.OpenWindow(static_cast<AboutWindowEvents&>(events));
    QWidget* about = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->windowTitle() == "Form2" && widget->isVisible()) about = widget;
    ASSERT_NE(about, nullptr);
    auto* label = about->findChild<QLabel*>();
    auto* ok = about->findChild<QPushButton*>();
    ASSERT_TRUE(label && ok && ok->text() == "OK");
    const QString notice = label->text();
    for (const char* words : {"Digit Mosaic", "property", "free", "not for sale"})
        EXPECT_TRUE(notice.contains(QLatin1String(words))) << words;
    const int flags = Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop;
    const QRect needed =
        QFontMetrics(label->font()).boundingRect(label->contentsRect(), flags, notice);
    EXPECT_TRUE(label->contentsRect().contains(needed)) << "the notice is cut";
    EXPECT_TRUE(about->rect().contains(label->geometry() | ok->geometry()));
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(events.calls, "OK ");
    QTest::keyClick(about, Qt::Key_Escape);
    EXPECT_FALSE(about->isVisible()) << "Escape did not close it";
}

// On two screens of different sizes (two-screens.json; the first one measured in twips): a window
// on each, painted from the one stream of boxes fitted to its own size; a window resized (both
// ways, then along one axis) keeps the earlier picture where it was, starts the new area black
// and paints the next boxes at the new size.
TEST(TwoScreensTest, EachScreenShowsThePictureFittedToItAndAResizedWindowKeepsIt) {
    Recorder events;
    QtHost host(argc, argv, QtHost::Pacing::Unpaced);
    host.OpenWindow(static_cast<SaverWindowEvents&>(events));
    host.SetLogicalScale(0, 0, 5, 4);
    QImage grid(5, 4, QImage::Format_RGB32);  // a pixel a cell
    for (int i = 0; i < 20; ++i) {
        host.DrawBox(float(i % 5), float(i / 5), 1, 1, PackRgb(12 * i, 255 - 12 * i, 100));
        grid.setPixel(i % 5, i / 5, PixelOf(PackRgb(12 * i, 255 - 12 * i, 100)));
    }
    host.PumpEvents();
    const std::vector<SaverWindow*> windows = SaverWindows();
    ASSERT_EQ(windows.size(), 2U);
    EXPECT_EQ(std::pair(host.ScreenWidthTwips(), host.ScreenHeightTwips()),
              std::pair(9600.F, 7200.F));
    for (SaverWindow* window : windows) {  // 640 x 480 and 1000 x 300: whole pixels a cell
        const QImage picture = window->Picture();
        const QSize size = window->screen()->geometry().size();
        ASSERT_EQ(picture.size(), size);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                if (picture.pixel(x, y) != grid.pixel(x * 5 / size.width(), y * 4 / size.height()))
                    FAIL() << "pixel " << x << "," << y << " of " << size.width();
    }
    const QImage before = windows[0]->Picture();  // cells of 128 x 120
    windows[0]->setWindowState(Qt::WindowNoState);
    for (const QSize size : {QSize(800, 400), QSize(800, 420)}) {
        windows[0]->setGeometry(QRect(QPoint(), size));
        QCoreApplication::processEvents();
        const QImage after = windows[0]->Picture();
        ASSERT_EQ(after.size(), size);
        EXPECT_EQ(after.copy(0, 0, 640, 400), before.copy(0, 0, 640, 400)) << "picture moved";
        EXPECT_EQ(after.pixel(700, 100), qRgb(0, 0, 0)) << "the new area is not black";
    }
    host.DrawBox(4, 3, 1, 1, PackRgb(255, 255, 255));  // the bottom-right cell, now 160 x 105
    host.PumpEvents();
    const QImage after = windows[0]->Picture();
    EXPECT_EQ(after.pixel(640, 315), qRgb(255, 255, 255));
    EXPECT_EQ(after.pixel(799, 419), qRgb(255, 255, 255));
    EXPECT_EQ(after.pixel(639, 314), before.pixel(639, 314));
}

}  // namespace
}  // namespace digitmosaic

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    digitmosaic::PrepareToolkitEnvironment();  // the toolkit as the program runs it
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
