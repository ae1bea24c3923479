// The about window's layout in twips, and its ways of ending.
#include "toolkit/AboutWindow.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <cmath>

#include "core/PixelGrid.h"
#include "system/Watchdog.h"

namespace digitmosaic {

namespace {

constexpr const char* kNotice =
    "Digit Mosaic is a screen saver by the Digit Mosaic authors. It is their property. "
    "It is free and not for sale.";

// A rectangle given in twips, in this widget's pixels.
QRect FromTwips(const QWidget& widget, int left, int top, int width, int height) {
    const double perTwipX = 1 / TwipsPerPixel(widget.logicalDpiX());
    const double perTwipY = 1 / TwipsPerPixel(widget.logicalDpiY());
    const auto x = [&](int twips) { return static_cast<int>(std::lround(twips * perTwipX)); };
    const auto y = [&](int twips) { return static_cast<int>(std::lround(twips * perTwipY)); };
    return {x(left), y(top), x(width), y(height)};
}

// The desktop's font may be larger than the one the box was laid out for: step its size down
// until the whole notice fits the label.
void FitFont(QLabel& label) {
    QFont font = label.font();
    for (qreal size = font.pointSizeF(); size > 4; size -= 0.5) {
        font.setPointSizeF(size);
        const QRect needed = QFontMetrics(font).boundingRect(
            QRect(0, 0, label.width(), 10000), Qt::TextWordWrap | Qt::AlignLeft, label.text());
        if (needed.height() <= label.height() && needed.width() <= label.width()) {
            break;
        }
    }
    label.setFont(font);
}

}  // namespace

AboutWindow::AboutWindow(AboutWindowEvents& events)
    : Command1(new QPushButton(QStringLiteral("OK"), this)),
      Label1(new QLabel(QString::fromLatin1(kNotice), this)) {
    setWindowTitle(QStringLiteral("Form2"));
    setFixedSize(FromTwips(*this, 0, 0, 3210, 1290).size());

    Command1->setGeometry(FromTwips(*this, 1200, 840, 735, 375));
    Command1->setDefault(true);
    Command1->setFocus();
    connect(Command1, &QPushButton::clicked, this, [&events] { events.Command1_Click(); });

    Label1->setGeometry(FromTwips(*this, 120, 120, 3015, 735));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FitFont(*Label1);

    // The watchdog runs from the process's start: the window's event loop shows it is alive.
    auto* alive = new QTimer(this);
    connect(alive, &QTimer::timeout, this, [] { WatchdogBeat(); });
    alive->start(1000);
}

void AboutWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace digitmosaic
