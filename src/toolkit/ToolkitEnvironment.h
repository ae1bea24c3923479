// The environment the toolkit is started in, with its optional services switched off.
#pragma once

namespace digitmosaic {

// Sets this process's environment, before the application object exists, so that the toolkit
// writes no file or directory, starts no program and opens no socket but the display's: no session
// bus (D-Bus would start a daemon when none runs; the accessibility bridge, the desktop portal and
// the global menu all go through it), no input-method daemon, no OpenGL (drivers keep caches on
// disk), no platform-theme plugins (they load whole desktop toolkits), and a runtime directory that
// exists, so that the toolkit makes none. Nothing on screen changes: the saver uses none of these.
// On Wayland the toolkit keeps its own timeout for a compositor that stops sending frame callbacks.
// With `keepSessionBus`, a session bus that is set stays, for a screen reader (the about window).
void PrepareToolkitEnvironment(bool keepSessionBus);

}  // namespace digitmosaic
