// The shared set-up of the Qt host tests, and their entry: a process has one application
// object, made here on the offscreen platform before any host starts.
#include "QtHostFixture.h"

#include <QApplication>

namespace digitmosaic::testing {

namespace {
int argc = 1;
char programName[] = "qthost_tests";
char* argv[] = {programName, nullptr};
}  // namespace

void QtHostTest::Open(QtHost::Pacing pacing) {
    host_ = std::make_unique<QtHost>(argc, argv, pacing);
    host_->OpenWindow(events_);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* saver = qobject_cast<SaverWindow*>(widget)) {
            window_ = saver;
        }
    }
    ASSERT_NE(window_, nullptr);
    events_.calls.clear();
}

void QtHostTest::Resize(int width, int height) {
    window_->setWindowState(Qt::WindowNoState);  // a full-screen window keeps the screen's size
    window_->setGeometry(0, 0, width, height);
    QCoreApplication::processEvents();
    ASSERT_EQ(Canvas().size(), QSize(width, height));
}

}  // namespace digitmosaic::testing

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
