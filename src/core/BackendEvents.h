// What a backend reports to the saver core from inside Backend::Wait: input on the saver's
// surfaces in device pixels, surfaces that came, and a surface closed from outside. The core
// turns it into the program's handlers and units.
#pragma once

namespace digitmosaic {

class Surface;

enum class Button { Left, Right, Middle, Other, Wheel };

struct Modifiers {
    bool shift = false;
    bool control = false;
    bool alt = false;
};

struct ButtonsHeld {
    bool left = false;
    bool right = false;
    bool middle = false;
};

class BackendEvents {
  public:
    // Any key; the code is the server's own.
    virtual void KeyPressed(int keyCode, Modifiers modifiers) = 0;
    // At device pixel (x, y) of the surface the pointer is on (or that holds the grab).
    virtual void ButtonPressed(const Surface& on, Button button, Modifiers modifiers, double x,
                               double y) = 0;
    virtual void ButtonReleased(const Surface& on, Button button) = 0;
    virtual void PointerMoved(const Surface& on, ButtonsHeld held, Modifiers modifiers, double x,
                              double y) = 0;
    // A surface made after OpenSurfaces (a monitor came): it takes the picture's current scale.
    virtual void SurfaceAdded(Surface& added) = 0;
    // A surface closed by a window manager or destroyed by another client: the saver unloads.
    virtual void SurfaceClosed() = 0;
    // Right before the backend sleeps with no deadline, once all is sent and handled (nothing
    // wakes the process then but the server), and right after such a sleep ends, before what
    // woke it is handled.
    virtual void Sleeping() = 0;
    virtual void Awake() = 0;

  protected:
    ~BackendEvents() = default;
};

}  // namespace digitmosaic
