// PumpEvents: it delivers pending input and close events to the handlers, and when paced it
// returns no sooner than one refresh after the previous pump while still handling events at once.
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <chrono>

#include "QtHostFixture.h"

namespace digitmosaic::testing {
namespace {

using Clock = std::chrono::steady_clock;

void PostMousePress(QWidget* window, Qt::MouseButton button) {
    QCoreApplication::postEvent(
        window, new QMouseEvent(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), button,
                                button, Qt::NoModifier));
}

TEST_F(QtHostTest, PumpDeliversPendingKeyMouseAndCloseEvents) {
    Open();
    QCoreApplication::postEvent(window_,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier));
    PostMousePress(window_, Qt::RightButton);
    QCoreApplication::postEvent(window_, new QCloseEvent);
    EXPECT_TRUE(events_.calls.empty()) << "handlers ran outside a pump";

    host_->PumpEvents();
    EXPECT_EQ(events_.calls, (std::vector<std::string>{"KeyDown", "MouseDown 2", "Unload"}));
}

TEST_F(QtHostTest, PacedPumpsAreOneRefreshApart) {
    Open(QtHost::Pacing::ToDisplay);
    const double hertz = window_->screen()->refreshRate();
    const auto interval = std::chrono::duration<double>(1.0 / (hertz > 0 ? hertz : 60.0));

    host_->PumpEvents();
    const auto start = Clock::now();
    constexpr int kPumps = 6;
    for (int i = 0; i < kPumps; ++i) {
        host_->PumpEvents();
    }
    EXPECT_GE(Clock::now() - start, kPumps * interval);
}

TEST_F(QtHostTest, PacedPumpHandlesAnEventThatArrivesWhileItWaits) {
    Open(QtHost::Pacing::ToDisplay);
    host_->PumpEvents();
    // Arrives during the next pump's wait for the refresh, not before the pump starts.
    QTimer::singleShot(2, [this] { PostMousePress(window_, Qt::LeftButton); });
    host_->PumpEvents();
    EXPECT_EQ(events_.calls, (std::vector<std::string>{"MouseDown 1"}));
}

TEST_F(QtHostTest, UnpacedPumpStillDeliversEvents) {
    Open(QtHost::Pacing::Unpaced);
    QCoreApplication::postEvent(window_,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier));
    host_->PumpEvents();
    EXPECT_EQ(events_.calls, (std::vector<std::string>{"KeyDown"}));
}

}  // namespace
}  // namespace digitmosaic::testing
