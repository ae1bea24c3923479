// Everything the program asks of the desktop and of the process, behind one interface.
// The saver core realises it for real runs, over a backend for X11 or for Wayland, and loads the
// toolkit only for the about window; a recording fake realises it in tests. No toolkit type
// appears here, so the program code above it runs without a display.
//
// The flow of control. The process entry picks the backend, builds the saver core over it and
// hands over to Main; from then on the program holds the only thread that draws, and the core
// runs only when called:
//
//   entry ──> Main ── AnotherInstanceRunning? ──> EndProgram
//              │
//              ├─ "/c" ── OpenWindow(about) ── SystemBeep ── return
//              │            └─> the entry runs the event loop until the about window goes:
//              │                OK (Command1_Click) ── UnloadWindow(about) ── EndProgram
//              │
//              ├─ anything else ──> EndProgram
//              │
//              └─ "/s" ── SetCursorPos ── OpenWindow(form1)
//                                           └─> Form_Load ── ShowWindow ── SeedRandom
//                                                 └─> PictureLoop (never returns)
//                                                       └─> DrawPicture: per row of cells
//                                                             DrawBox × width, then PumpEvents
//
//   PumpEvents: the core presents the boxes drawn since the last pump on every surface (the
//   saver's windows, or a host's window), waits in the backend for the next refresh (or until
//   the compositor asks for the next picture) while delivering input, and raises the handlers
//   from inside the call. While no surface can be seen it neither presents nor returns: it
//   sleeps until the server has something, and only then goes on painting.
//   Whatever it delivers can end the program:
//     key, click, button, third move ──> Form_KeyDown / Form_Click / ... ──> UnloadWindow(form1)
//       ──> Form_Unload (re-entered through the core) ──> EndProgram
//   EndProgram never returns: the backend hides what it shows and the process ends at once.
#pragma once

#include <cstdint>
#include <string>

#include "host/PackedColor.h"

namespace digitmosaic {

// The program code of the saver window: the handlers the host raises for it.
// Positions are in the window's current logical units (see SetLogicalScale).
class SaverWindowEvents {
  public:
    virtual void Form_Load() = 0;
    virtual void Form_Click() = 0;
    virtual void Form_KeyDown(int keyCode, int shift) = 0;
    virtual void Form_MouseDown(int button, int shift, float x, float y) = 0;
    virtual void Form_MouseMove(int button, int shift, float x, float y) = 0;
    virtual void Form_Unload(bool& cancel) = 0;

  protected:
    ~SaverWindowEvents() = default;
};

// The program code of the about window.
class AboutWindowEvents {
  public:
    virtual void Command1_Click() = 0;

  protected:
    ~AboutWindowEvents() = default;
};

class HostServices {
  public:
    virtual ~HostServices() = default;

    // One program-wide pseudo-random sequence; every value is in [0, 1).
    virtual float RandomUnit() = 0;
    virtual void SeedRandom(float seed) = 0;
    // Local time of day in seconds since midnight, with fraction.
    virtual float SecondsSinceMidnight() = 0;

    // Presents what was drawn, then delivers every pending input and window event to the
    // handlers before returning. Handlers run only here and inside OpenWindow.
    virtual void PumpEvents() = 0;
    // Ends the process at once; no further program code runs.
    [[noreturn]] virtual void EndProgram() = 0;

    // The command-line arguments as one string, the program's own name excluded.
    virtual std::string ArgumentString() = 0;
    // True while an earlier instance of this program runs for the same user.
    virtual bool AnotherInstanceRunning() = 0;

    // Screen size in twips (1/1440 inch).
    virtual float ScreenWidthTwips() = 0;
    virtual float ScreenHeightTwips() = 0;
    // Moves the mouse pointer to screen pixel (x, y), clamped to the desktop.
    virtual void SetCursorPos(std::int32_t x, std::int32_t y) = 0;
    virtual void SystemBeep() = 0;

    // Creates the window on first use, raising its load event, and makes it visible.
    virtual void OpenWindow(SaverWindowEvents& window) = 0;
    virtual void OpenWindow(AboutWindowEvents& window) = 0;
    // Makes an opened window visible at once (for its load handler).
    virtual void ShowWindow(SaverWindowEvents& window) = 0;
    // Closes the window, raising its unload event.
    virtual void UnloadWindow(SaverWindowEvents& window) = 0;
    virtual void UnloadWindow(AboutWindowEvents& window) = 0;

    // Drawing on the saver window. After SetLogicalScale(x1, y1, x2, y2) its client area spans
    // x1..x2 left to right and y1..y2 top to bottom; DrawBox fills the box from (x, y) to
    // (x + dx, y + dy) in the colour.
    virtual void SetLogicalScale(double x1, double y1, double x2, double y2) = 0;
    virtual void DrawBox(float x, float y, float dx, float dy, PackedColor color) = 0;
};

}  // namespace digitmosaic
