// The single-instance lock where there is no X server to hold one: an exclusive lock on the
// user's private runtime directory (XDG_RUNTIME_DIR, mode 0700, this user's), which no other user
// can open and which the kernel releases with the process, however it ends. Nothing is written.
#pragma once

namespace digitmosaic {

class RuntimeDirectoryLock {
  public:
    RuntimeDirectoryLock() = default;
    ~RuntimeDirectoryLock();
    RuntimeDirectoryLock(const RuntimeDirectoryLock&) = delete;
    RuntimeDirectoryLock& operator=(const RuntimeDirectoryLock&) = delete;

    // True when an earlier instance of the same user holds the lock; otherwise claims it for this
    // process (once held, false from then on). Without a private runtime directory there is no
    // lock to be had: false, and every start runs.
    bool AnotherInstanceRunning();

  private:
    int directory_ = -1;  // the locked runtime directory
};

}  // namespace digitmosaic
