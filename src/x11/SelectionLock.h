// Single-instance detection on an X display: a selection owned on the server, the way window and
// session managers claim theirs. Its name holds the user and, when embedded, the host's window;
// it is claimed with the server grabbed so that of many starts exactly one gets it, only clients
// admitted to that display can see it (they could close the saver's windows as well), and the
// server releases it when the process goes, however it goes. Nothing is written anywhere.
#pragma once

#include <xcb/xcb.h>

#include <string>

namespace digitmosaic {

class SelectionLock {
  public:
    // The scope tells places on one server apart: savers in two host windows both run.
    explicit SelectionLock(const std::string& scope = {});

    // True when an earlier instance of the same user holds the selection; otherwise claims it for
    // this process (for as long as the connection lasts) and returns false.
    bool AnotherInstanceRunning(xcb_connection_t* display);

  private:
    std::string selection_;
    bool held_ = false;
};

}  // namespace digitmosaic
