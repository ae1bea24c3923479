// Connecting with the library's own output caught in a pipe, read back without waiting.
#include "x11/Connection.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "system/Environment.h"
#include "system/Failure.h"

namespace digitmosaic {

namespace {

// What the library wrote (the server's reason for refusing, say): its first line, at most a few
// hundred bytes of it.
std::string FirstLineOf(int pipe) {
    char text[512];
    const ssize_t length = read(pipe, text, sizeof text);
    std::string line(text, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
    line.erase(
        std::find_if(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\0'; }),
        line.end());
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
        line.pop_back();
    }
    return line;
}

}  // namespace

xcb_connection_t* ConnectToDisplay(int* screen) {
    // The library reads the authority file first: one that never ends would hold it for ever.
    if (const std::string why = UnusableAuthority(); !why.empty()) {
        FailWithoutDisplay(why);
    }
    // Descriptor 2 is a pipe of the program's own while the library connects; the program's line
    // goes to a copy of standard error meanwhile (the watchdog may write it).
    int caught[2] = {-1, -1};
    const int errors = ErrorDescriptor();
    int copy = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const bool catching = copy >= 0 && pipe2(caught, O_CLOEXEC | O_NONBLOCK) == 0;
    if (!catching && copy >= 0) {
        close(copy);  // short of descriptors: the connection needs this one more
        copy = -1;
    }
    if (catching) {
        SetErrorDescriptor(errors == STDERR_FILENO ? copy : errors);
        dup2(caught[1], STDERR_FILENO);
    }
    errno = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, screen);
    const bool noDescriptor = errno == EMFILE || errno == ENFILE;  // for the socket
    std::string reason;
    if (catching) {
        dup2(copy, STDERR_FILENO);
        SetErrorDescriptor(errors);
        close(caught[1]);
        reason = FirstLineOf(caught[0]);
        close(caught[0]);
    }
    if (copy >= 0) {
        close(copy);
    }
    if (const int error = xcb_connection_has_error(connection); error != 0) {
        if (reason.empty()) {
            reason = error == XCB_CONN_CLOSED_MEM_INSUFFICIENT ? "out of memory"
                     : error == XCB_CONN_CLOSED_PARSE_ERR      ? "DISPLAY cannot be read"
                     : noDescriptor ? "too many open files (see ulimit -n)"
                                    : "no server answers there";
        }
        FailWithoutDisplay("could not connect to display \"" + Quoted(EnvironmentValue("DISPLAY")) +
                           "\": " + Quoted(reason, 120));
    }
    return connection;
}

std::string ConnectionFailure(xcb_connection_t* connection) {
    return xcb_connection_has_error(connection) == XCB_CONN_CLOSED_MEM_INSUFFICIENT
               ? "out of memory"
               : "lost the connection to the display";
}

}  // namespace digitmosaic
