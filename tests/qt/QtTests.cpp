// The Qt host on Qt's offscreen platform (also run scaled to device pixel ratio 2): the window's
// picture starts black and the cells reach it at the next pump; mouse positions come back in
// logical units, the screen in twips; PumpEvents delivers pending events and paces itself to the
// screen; the about window shows its whole notice and Escape closes it; and without an X display
// the instance lock is one no other user can reach.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <random>

#include "qt/QtHost.h"
#include "qt/SaverWindow.h"
#include "qt/ToolkitEnvironment.h"
#include "system/InstanceLock.h"

namespace digitmosaic {
namespace {

int argc = 1;
char program[] = "qt_tests";
char* argv[] = {program, nullptr};

// The saver's windows, as the application holds them, in the order they were made.
std::vector<SaverWindow*> SaverWindows() {
    std::vector<SaverWindow*> windows;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (auto* saver = qobject_cast<SaverWindow*>(window)) windows.push_back(saver);
    }
    return windows;
}

class Recorder final : public SaverWindowEvents, public AboutWindowEvents {
  public:
    void Form_Load() override {}
    void Form_Click() override { calls += "Click "; }
    void Form_KeyDown(int, int) override { calls += "Key "; }
    void Form_MouseDown(int button, int, float, float) override {
        calls += "Down" + std::to_string(button) + " ";
    }
    void Form_MouseMove(int, int, float x, float y) override { moves.emplace_back(x, y); }
    void Form_Unload(bool& cancel) override { calls += "Unload ", cancel = true; }
    void Command1_Click() override { calls += "OK "; }
    std::string calls;
    std::vector<std::pair<float, float>> moves;
};

class QtHostTest : public ::testing::Test {
  protected:
    // The saver window at the given size in logical pixels; its picture has the device's pixels.
    void Open(int width, int height, QtHost::Pacing pacing = QtHost::Pacing::Unpaced) {
        window_ = nullptr;
        host_.reset();  // the previous host and its window go first
        host_ = std::make_unique<QtHost>(argc, argv, pacing);
        host_->OpenWindow(static_cast<SaverWindowEvents&>(events_));
        window_ = SaverWindows().at(0);
        window_->setWindowState(Qt::WindowNoState);  // full screen would keep the screen's size
        window_->setGeometry(0, 0, width, height);
        QCoreApplication::processEvents();
        ASSERT_EQ(Picture().size(), QSize(width, height) * window_->devicePixelRatio());
    }
    // What the window shows: what the pumps so far have put there.
    QImage Picture() const { return window_->Picture(); }

    Recorder events_;
    std::unique_ptr<QtHost> host_;
    SaverWindow* window_ = nullptr;
};

// The picture starts black, and every pump puts in it all that was drawn since the last: rows,
// spiral rings, scattered cells, each 5 x 5 logical pixels.
TEST_F(QtHostTest, ThePictureStartsBlackAndEveryPumpPresentsAllCellsDrawnSinceTheLast) {
    Open(240, 200);
    host_->SetLogicalScale(0, 0, 48, 40);
    QImage expected(Picture().size(), QImage::Format_RGB32);
    expected.fill(Qt::black);
    const qreal ratio = window_->devicePixelRatio();
    std::mt19937 scatter(7);
    for (int pump = 0; pump < 6; ++pump) {
        QPainter painter(&expected);
        for (int i = 0; i < 60; ++i) {  // a row, a ring's sides, and cells anywhere
            const int x = pump % 2 ? 20 + i % 9 : int(scatter() % 48);
            const int y = pump % 2 ? 20 - i / 9 : pump == 0 ? 3 : int(scatter() % 40);
            host_->DrawBox(float(x), float(y), 1, 1, PackRgb(40 * pump, 4 * i, 255 - i));
            painter.fillRect(QRectF(x * 5 * ratio, y * 5 * ratio, 5 * ratio, 5 * ratio),
                             QColor(40 * pump, 4 * i, 255 - i));
        }
        painter.end();
        host_->PumpEvents();
        ASSERT_EQ(Picture().convertToFormat(QImage::Format_RGB32), expected)
            << "after pump " << pump;
    }
}

TEST_F(QtHostTest, MousePositionsArriveInTwipsThenInLogicalUnits) {
    Open(400, 300);
    QTest::mouseMove(window_, QPoint(200, 150));
    host_->SetLogicalScale(0, 0, 48, 40);
    QTest::mouseMove(window_, QPoint(100, 225));
    ASSERT_EQ(events_.moves.size(), 2U);
    EXPECT_FLOAT_EQ(events_.moves[0].first,
                    200.F * 1440.F / float(window_->screen()->logicalDotsPerInchX()));
    EXPECT_EQ(events_.moves[1], std::pair(12.F, 30.F));
}

// 15 twips to a pixel at 96 dots per inch; and the host gives the program its name and version.
TEST_F(QtHostTest, TheScreenMeasuresInTwipsAndTheProgramIsVersionOneZeroZero) {
    Open(200, 100);
    const QScreen* screen = window_->screen();
    ASSERT_EQ(screen->logicalDotsPerInchX(), 96);
    EXPECT_EQ(host_->ScreenWidthTwips(), 15.F * float(screen->geometry().width()));
    EXPECT_EQ(host_->ScreenHeightTwips(), 15.F * float(screen->geometry().height()));
    EXPECT_EQ(QCoreApplication::applicationVersion(), "1.00");
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

// Paced pumps keep a beat of one a refresh: the k-th after the first never returns before k
// refreshes have passed (a late one lets the next catch up, but none runs ahead), the median gap
// is not a refresh late, and the events that come meanwhile are handled.
TEST_F(QtHostTest, PacedPumpsKeepABeatOfOneARefreshAndHandleEventsWhileWaiting) {
    Open(200, 100, QtHost::Pacing::ToDisplay);
    const double hertz =
        window_->screen()->refreshRate() > 0 ? window_->screen()->refreshRate() : 60;
    const std::chrono::duration<double> refresh(1 / hertz);
    host_->PumpEvents();
    const auto first = std::chrono::steady_clock::now();
    QTimer::singleShot(2, [this] {
        QCoreApplication::postEvent(window_, new QKeyEvent(QEvent::KeyPress, Qt::Key_B, {}));
    });
    std::vector<std::chrono::duration<double>> gaps;
    for (auto last = first; gaps.size() < 10;) {
        host_->PumpEvents();
        const auto now = std::chrono::steady_clock::now();
        gaps.push_back(now - last);
        last = now;
        EXPECT_GE(now - first, refresh * (double(gaps.size()) - 0.5)) << "pump " << gaps.size();
    }
    EXPECT_EQ(events_.calls, "Key ");  // came during the first wait, handled within it
    std::nth_element(gaps.begin(), gaps.begin() + 5, gaps.end());
    EXPECT_LT(gaps[5], refresh * 1.5);
}

// The notice names the saver, its maker's property, free and not for sale, in three sentences
// that fit the label whole; OK sits inside the window; Escape closes it.
TEST(AboutWindowTest, ShowsTheWholeNoticeAndAnOkButton) {
    Recorder events;
    QtHost host(argc, argv);
    host.OpenWindow(static_cast<AboutWindowEvents&>(events));
    QWidget* about = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->windowTitle() == "Form2" && widget->isVisible()) about = widget;
    }
    ASSERT_NE(about, nullptr);
    const auto* label = about->findChild<QLabel*>();
    const auto* ok = about->findChild<QPushButton*>();
    ASSERT_TRUE(label && ok);
    const QString notice = label->text();
    EXPECT_EQ(notice.size(), 110);
    EXPECT_EQ(notice.count(QLatin1String(". ")) + notice.endsWith('.'), 3) << notice.toStdString();
    for (const char* words : {"Digit Mosaic", "property", "free", "not for sale"})
        EXPECT_TRUE(notice.contains(QLatin1String(words))) << words;
    const QRect needed = QFontMetrics(label->font())
                             .boundingRect(label->contentsRect(),
                                           Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, notice);
    EXPECT_TRUE(label->contentsRect().contains(needed)) << "the notice is cut";
    EXPECT_TRUE(about->rect().contains(label->geometry()) &&
                about->rect().contains(ok->geometry()));
    EXPECT_EQ(ok->text(), "OK");
    QTest::mouseClick(const_cast<QPushButton*>(ok), Qt::LeftButton);
    EXPECT_EQ(events.calls, "OK ");
    QTest::keyClick(about, Qt::Key_Escape);
    EXPECT_FALSE(about->isVisible()) << "Escape did not close it";
}

// The colour of cell (col, row) in a grid of the given width.
PackedColor CellColour(int col, int row) { return PackRgb(40 * col + 20, 60 * row + 10, 200); }

// With two screens of different sizes (the offscreen platform's two-screens.json): one window
// per screen, each painted from the same stream of boxes fitted to its own size, and a window
// that changes size keeps the earlier pictures where they were.
class TwoScreensTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host_.OpenWindow(static_cast<SaverWindowEvents&>(events_));
        host_.PumpEvents();
    }
    // Paints a grid of distinct cells and returns the pictures the windows show.
    std::vector<QImage> PaintGrid(int columns, int rows) {
        host_.SetLogicalScale(0, 0, columns, rows);
        for (int row = 0; row < rows; ++row)
            for (int col = 0; col < columns; ++col)
                host_.DrawBox(float(col), float(row), 1, 1, CellColour(col, row));
        host_.PumpEvents();
        std::vector<QImage> pictures;
        for (SaverWindow* window : SaverWindows()) pictures.push_back(window->Picture());
        return pictures;
    }

    Recorder events_;
    QtHost host_{argc, argv, QtHost::Pacing::Unpaced};
};

TEST_F(TwoScreensTest, EveryScreenShowsTheSamePictureFittedToIt) {
    ASSERT_EQ(SaverWindows().size(), 2U);
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

TEST_F(TwoScreensTest, AResizedWindowKeepsItsPicturesAndPaintsTheNextBoxesAtItsNewSize) {
    const QImage before = PaintGrid(4, 4).at(0);  // 640 x 480: cells of 160 x 120
    SaverWindow* window = SaverWindows().at(0);
    window->setWindowState(Qt::WindowNoState);
    window->setGeometry(0, 0, 800, 400);
    QCoreApplication::processEvents();
    QImage after = window->Picture();
    ASSERT_EQ(after.size(), QSize(800, 400));
    EXPECT_EQ(after.copy(0, 0, 640, 400), before.copy(0, 0, 640, 400)) << "earlier picture moved";
    EXPECT_EQ(after.pixel(700, 100), qRgb(0, 0, 0)) << "the new area starts black";

    host_.DrawBox(3, 3, 1, 1, PackRgb(255, 255, 255));  // the bottom-right cell, now 200 x 100
    host_.PumpEvents();
    after = window->Picture();
    EXPECT_EQ(after.pixel(600, 300), qRgb(255, 255, 255));
    EXPECT_EQ(after.pixel(799, 399), qRgb(255, 255, 255));
    EXPECT_EQ(after.pixel(599, 299), before.pixel(599, 299));
}

// Without an X display the lock is the user's private runtime directory: the first holder counts,
// also when asked again, a later one finds it held, and it is free once the holder goes. Another
// user cannot even open the directory, so cannot hold or block it; a directory others could open
// gives no lock at all (every saver runs) rather than one they could take.
TEST(InstanceLockTest, TheRuntimeDirectoryLockHoldsAgainstOtherUsersAndGoesWithItsHolder) {
    char dir[] = "/tmp/digitmosaic-lock-XXXXXX";  // mode 0700
    ASSERT_NE(mkdtemp(dir), nullptr);
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", dir);
    auto first = std::make_unique<InstanceLock>();
    ASSERT_FALSE(first->AnotherInstanceRunning(nullptr));
    EXPECT_FALSE(first->AnotherInstanceRunning(nullptr)) << "the holder must not see itself";
    EXPECT_TRUE(InstanceLock().AnotherInstanceRunning(nullptr));
    if (geteuid() == 0) {
        const pid_t other = fork();
        if (other == 0) {  // user 65534 ("nobody"): takes what it can, then leaves
            if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
                _exit(2);
            InstanceLock theirs;
            _exit(theirs.AnotherInstanceRunning(nullptr) || open(dir, O_RDONLY) >= 0 ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(other, &status, 0), other);
        EXPECT_EQ(status, 0) << "another user reached the lock";
    }
    first.reset();
    EXPECT_FALSE(InstanceLock().AnotherInstanceRunning(nullptr)) << "not released";
    chmod(dir, 0755);
    InstanceLock open;
    EXPECT_FALSE(open.AnotherInstanceRunning(nullptr));
    EXPECT_FALSE(InstanceLock().AnotherInstanceRunning(nullptr)) << "locked a shared directory";
    rmdir(dir);
    qputenv("XDG_RUNTIME_DIR", saved);
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
