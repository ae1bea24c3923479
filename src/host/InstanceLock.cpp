#include "host/InstanceLock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

namespace digitmosaic {

namespace {

// Fills addr with the abstract address (leading NUL byte) and returns its length.
socklen_t AbstractAddress(const std::string& name, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    const std::size_t length = std::min(name.size(), sizeof addr.sun_path - 1);
    std::memcpy(addr.sun_path + 1, name.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

// Connects to the holder of the address and tells whether it runs as the given user.
bool HeldByUser(const sockaddr_un& addr, socklen_t length, uid_t user) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    bool same = false;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), length) == 0) {
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0) {
            same = peer.uid == user;
        }
    }
    close(fd);
    return same;
}

}  // namespace

InstanceLock::InstanceLock(std::string name)
    : address_(std::move(name) + "." + std::to_string(getuid())) {}

InstanceLock::~InstanceLock() {
    if (listener_ >= 0) {
        close(listener_);
    }
}

bool InstanceLock::AnotherInstanceRunning() {
    if (listener_ >= 0) {
        return false;
    }
    sockaddr_un addr{};
    const socklen_t length = AbstractAddress(address_, addr);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), length) == 0 && listen(fd, 16) == 0) {
        listener_ = fd;
        return false;
    }
    const bool inUse = errno == EADDRINUSE;
    close(fd);
    return inUse && HeldByUser(addr, length, getuid());
}

void InstanceLock::AcceptPending() const {
    if (listener_ < 0) {
        return;
    }
    for (;;) {
        const int peer = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer < 0) {
            return;
        }
        close(peer);
    }
}

}  // namespace digitmosaic
