// Single-instance detection. The first instance claims an abstract Unix socket whose name holds
// the program, the user and the place it runs in (a display, or a host's window): the kernel
// releases it when the process ends, however it ends, and nothing is written to disk. A later
// instance finds the name taken and asks the holder's credentials, so only an instance of the
// same user counts, and a name another user took only sends ours on to the next one.
#pragma once

#include <string>

namespace digitmosaic {

class InstanceLock {
  public:
    // The scope tells places apart: savers on two displays, or in two host windows, both run.
    explicit InstanceLock(const std::string& name, const std::string& scope = {});
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when an earlier instance of the same user holds the name; otherwise claims it for
    // this process (when free) and returns false. Of many instances started at once, exactly
    // one claims it.
    bool AnotherInstanceRunning();

    // The listening socket while this process holds the name, else -1. Whoever owns the
    // event loop calls AcceptPending when it becomes readable, so that queries never pile up.
    int ListeningSocket() const { return listener_; }
    void AcceptPending() const;

    // The abstract socket name claimed first (without its leading NUL byte).
    const std::string& Name() const { return address_; }

  private:
    enum Outcome { Claimed, HeldByUs, HeldByOther };
    Outcome Claim(const std::string& name);

    std::string address_;
    int listener_ = -1;
};

}  // namespace digitmosaic
