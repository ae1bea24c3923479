// The connection to the X server, made so that only the program's own line reaches standard error.
#pragma once

#include <xcb/xcb.h>

#include <string>

namespace digitmosaic {

// Connects to the display DISPLAY names and sets the screen's number. A connection refused or
// impossible ends the program with one line naming the server's reason, which the connection
// library would otherwise print itself.
xcb_connection_t* ConnectToDisplay(int* screen);

// Why the connection failed, for the one line: "out of memory" where the library could not get
// memory, else "lost the connection to the display".
std::string ConnectionFailure(xcb_connection_t* connection);

}  // namespace digitmosaic
