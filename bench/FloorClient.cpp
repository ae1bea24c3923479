// The floor for a paced saver: a bare Xlib client that covers the screen with a black
// override-redirect window and paints pictures of the saver's size at the saver's pace, one
// row of cells per refresh (1/60 s) with one XFillRectangle per cell, then sleeps in poll on the
// display socket. A key press unmaps the window and ends it.
// Usage: digitmosaic_floor [COLUMNSxROWS [PICTURES_ACROSS]]  (default 204x170 1; with
// PICTURES_ACROSS > 1 the screen is split into that many side-by-side pictures, one per monitor
// of equal width, each painting its own row per refresh).
#include <X11/Xlib.h>
#include <poll.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int Fail(const char* why) {
    std::fprintf(stderr, "digitmosaic_floor: %s\n", why);
    return 2;
}

// One channel of a TrueColor pixel from an 8-bit value, given the visual's mask.
unsigned long Channel(unsigned value, unsigned long mask) {
    if (mask == 0) {
        return 0;
    }
    int shift = 0;
    while (((mask >> shift) & 1U) == 0) {
        ++shift;
    }
    int bits = 0;
    while (((mask >> (shift + bits)) & 1U) != 0) {
        ++bits;
    }
    const unsigned long scaled = bits >= 8 ? value << (bits - 8) : value >> (8 - bits);
    return (scaled << shift) & mask;
}

}  // namespace

int main(int argc, char** argv) {
    int columns = 204;
    int rows = 170;
    int across = 1;
    if ((argc > 1 && std::sscanf(argv[1], "%dx%d", &columns, &rows) != 2) ||
        (argc > 2 && std::sscanf(argv[2], "%d", &across) != 1) || argc > 3 || columns < 1 ||
        rows < 1 || across < 1) {
        return Fail("usage: digitmosaic_floor [COLUMNSxROWS [PICTURES_ACROSS]]");
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return Fail("cannot open the display");
    }
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen);
    const int height = DisplayHeight(display, screen);
    Visual* visual = DefaultVisual(display, screen);
    if (visual->c_class != TrueColor) {
        return Fail("needs a TrueColor visual");
    }

    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(display, screen);
    attributes.event_mask = KeyPressMask;
    const Window window =
        XCreateWindow(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
    XMapRaised(display, window);
    const GC gc = XCreateGC(display, window, 0, nullptr);
    // Like a saver that has focus: the keyboard comes to this window, whatever else is open.
    for (int tries = 0; XGrabKeyboard(display, window, True, GrabModeAsync, GrabModeAsync,
                                      CurrentTime) != GrabSuccess;
         ++tries) {
        if (tries == 200) {
            return Fail("cannot grab the keyboard");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    const auto frame = std::chrono::nanoseconds(1'000'000'000 / 60);
    const int pictureWidth = width / across;
    std::uint32_t random = 2463534242U;
    unsigned long palette[10] = {};
    int row = 0;
    auto deadline = Clock::now();
    for (;;) {
        if (row == 0) {  // a new picture: ten fresh colours
            for (unsigned long& colour : palette) {
                random ^= random << 13;
                random ^= random >> 17;
                random ^= random << 5;
                colour = Channel(random & 0xFFU, visual->red_mask) |
                         Channel((random >> 8) & 0xFFU, visual->green_mask) |
                         Channel((random >> 16) & 0xFFU, visual->blue_mask);
            }
        }
        const int top = row * height / rows;
        const int bottom = (row + 1) * height / rows;
        for (int picture = 0; picture < across; ++picture) {
            const int origin = picture * pictureWidth;
            for (int column = 0; column < columns; ++column) {
                const int left = origin + column * pictureWidth / columns;
                const int right = origin + (column + 1) * pictureWidth / columns;
                XSetForeground(display, gc, palette[(row * columns + column) % 10]);
                XFillRectangle(display, window, gc, left, top, static_cast<unsigned>(right - left),
                               static_cast<unsigned>(bottom - top));
            }
        }
        XFlush(display);
        row = (row + 1) % rows;

        deadline += frame;
        // Reads the socket only when poll says something came: the events already read are
        // handled first, then the wait goes on until the next frame.
        for (;;) {
            while (XEventsQueued(display, QueuedAlready) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == KeyPress) {
                    XUnmapWindow(display, window);
                    XCloseDisplay(display);  // flushes the unmap
                    return 0;
                }
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
            if (left <= std::chrono::nanoseconds::zero()) {
                break;
            }
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
            const timespec wait{static_cast<time_t>(seconds.count()),
                                static_cast<long>((left - seconds).count())};
            pollfd socket{ConnectionNumber(display), POLLIN, 0};
            if (ppoll(&socket, 1, &wait, nullptr) > 0 && (socket.revents & POLLIN) != 0) {
                XEventsQueued(display, QueuedAfterReading);
            }
        }
        if (Clock::now() - deadline > frame) {
            deadline = Clock::now();  // fell far behind: do not race to catch up
        }
    }
}
