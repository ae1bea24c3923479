// A bare full-screen Qt widget that only wakes 60 times a second and paints nothing after its
// first frame: what the toolkit alone costs a paced saver, in CPU and memory.
#include <QApplication>
#include <QPalette>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowFlag(Qt::FramelessWindowHint);
    QPalette black = window.palette();
    black.setColor(QPalette::Window, Qt::black);
    window.setPalette(black);
    window.showFullScreen();
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    QObject::connect(&wake, &QTimer::timeout, [] {});
    wake.start(16);  // the nearest whole millisecond to 1/60 s
    return QApplication::exec();
}
