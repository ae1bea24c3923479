// Single-instance detection, in places no other user can claim. On an X display: a selection
// owned on the server, the way window and session managers claim theirs; its name holds the user
// and the place (the host's window, when embedded), it is claimed with the server grabbed so that
// of many starts exactly one gets it, only clients admitted to that display can see it (they could
// close the saver's windows as well), and the server releases it when the process goes, however
// it goes. Without an X display: an exclusive lock on
// the user's private runtime directory (mode 0700, this user's), which no other user can open, and
// which the kernel releases with the process. Nothing is written anywhere.
#pragma once

#include <string>

struct xcb_connection_t;

namespace digitmosaic {

class InstanceLock {
  public:
    // The scope tells places apart: savers in two host windows both run.
    explicit InstanceLock(const std::string& scope = {});
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when an earlier instance of the same user holds the lock; otherwise claims it for
    // this process and returns false. `display` is the X connection, or null where there is none;
    // then the runtime directory is used, and without a private one there is no lock to be had.
    bool AnotherInstanceRunning(xcb_connection_t* display);

  private:
    bool ClaimSelection(xcb_connection_t* display);
    bool ClaimRuntimeDirectory();

    std::string selection_;
    bool held_ = false;
    int directory_ = -1;  // the locked runtime directory
};

}  // namespace digitmosaic
