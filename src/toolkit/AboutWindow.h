// The about window: a fixed-size box with a short notice and an "OK" button that ends the
// program. Its layout is given in twips, like the rest of the desktop's classic dialogs.
#pragma once

#include <QWidget>

#include "host/HostServices.h"

class QLabel;
class QPushButton;

namespace digitmosaic {

class AboutWindow final : public QWidget {
    Q_OBJECT

  public:
    explicit AboutWindow(AboutWindowEvents& events);

  protected:
    // Escape closes the window, as the window manager's close does.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QPushButton* Command1;
    QLabel* Label1;
};

}  // namespace digitmosaic
