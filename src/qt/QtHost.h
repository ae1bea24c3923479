// The desktop host on Qt: the about window everywhere, and the saver where it does not paint on
// an X display itself (on Wayland). It owns the application object, the windows, the event loop
// and the frame pacing; the program code only asks it for things. The saver window is one window
// per screen, following screens as they come, go and change. The GUI starts when the instance
// lock, a window or a screen query first needs it, so an argument that ends the program never
// touches the display.
#pragma once

#include <QAbstractNativeEventFilter>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "core/Beat.h"
#include "system/ProcessHost.h"

class QApplication;
class QScreen;
class QTimer;

namespace digitmosaic {

class AboutWindow;
class SaverWindow;
class Surface;

class QtHost final : public ProcessHost, private QAbstractNativeEventFilter {
  public:
    // Pacing::ToDisplay presents one pump per refresh of the screen; Unpaced returns from
    // PumpEvents as soon as the events are delivered (the painting benchmark).
    enum class Pacing { ToDisplay, Unpaced };

    QtHost(int& argc, char** argv, Pacing pacing = Pacing::ToDisplay);
    ~QtHost() override;
    QtHost(const QtHost&) = delete;
    QtHost& operator=(const QtHost&) = delete;

    // Runs the event loop while a window is open and returns the exit status.
    int RunWhileWindowsOpen();

    void PumpEvents() override;
    [[noreturn]] void EndProgram() override;
    bool AnotherInstanceRunning() override;
    float ScreenWidthTwips() override;
    float ScreenHeightTwips() override;
    void SetCursorPos(std::int32_t x, std::int32_t y) override;
    void SystemBeep() override;
    void OpenWindow(SaverWindowEvents& window) override;
    void OpenWindow(AboutWindowEvents& window) override;
    void ShowWindow(SaverWindowEvents& window) override;
    void UnloadWindow(SaverWindowEvents& window) override;
    void UnloadWindow(AboutWindowEvents& window) override;
    void SetLogicalScale(double x1, double y1, double x2, double y2) override;
    void DrawBox(float x, float y, float dx, float dy, PackedColor color) override;

  private:
    using Clock = std::chrono::steady_clock;

    // Creates the application object on first need (unless one exists already); without a
    // display it prints one line and ends the process with status 1.
    void StartGui();
    // One refresh of the screen (60 Hz where the screen does not say).
    static Clock::duration RefreshInterval(const QScreen* screen);
    // Handles events as they come, sleeping in between, until the deadline or until done()
    // holds.
    void WaitForEvents(Clock::time_point deadline, const std::function<bool()>& done = {});
    // Opens a window on every screen and follows them.
    void OpenSaverSurfaces(SaverWindowEvents& events);
    void AddScreen(QScreen* screen);
    void RemoveScreen(QScreen* screen);
    // The surfaces the saver paints on, after a window came or went.
    void ListSurfaces();
    // Whether anyone can see a surface; while nobody can, pumps sleep without painting.
    bool Seen() const;
    void SleepWhileUnseen();
    // Ends the about window's process, or the saver (through its unload event), when another
    // client destroys one of their windows.
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

    int& argc_;
    char** argv_;
    Pacing pacing_;
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<QTimer> wake_;              // ends a paced pump's sleep at its deadline
    SaverWindowEvents* saverEvents_ = nullptr;  // once the saver window is opened
    struct ScreenWindow {
        QScreen* screen;
        std::unique_ptr<SaverWindow> window;
    };
    std::vector<ScreenWindow> screenWindows_;
    std::vector<Surface*> surfaces_;  // every window above: what the picture is painted on
    std::unique_ptr<AboutWindow> aboutWindow_;
    struct Scale {
        double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        bool set = false;
    } scale_;  // the latest logical scale, for windows opened mid-picture
    bool guiStarted_ = false;
    bool saverShown_ = false;
    bool unloadingSaver_ = false;
    Beat beat_;  // of the paced pumps, at the refresh of the saver's screen once shown
};

}  // namespace digitmosaic
