#include "qthost/InstanceLock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

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

enum class Holder { OfThisUser, OfAnotherUser, NotListening };

// Connects to the holder of the address and tells whose it is. A holder that has bound the name
// but does not listen yet (it started a moment earlier) refuses the connection, and so does a
// full backlog: both are worth asking again.
Holder AskHolder(const sockaddr_un& addr, socklen_t length, uid_t user) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return Holder::NotListening;
    }
    Holder holder = Holder::NotListening;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), length) == 0) {
        ucred peer{};
        socklen_t size = sizeof peer;
        holder = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == user
                     ? Holder::OfThisUser
                     : Holder::OfAnotherUser;
    }
    close(fd);
    return holder;
}

}  // namespace

InstanceLock::InstanceLock(const std::string& name, const std::string& scope)
    : address_(name + "." + std::to_string(getuid()) + (scope.empty() ? "" : "." + scope)) {}

InstanceLock::~InstanceLock() {
    if (listener_ >= 0) {
        close(listener_);
    }
}

bool InstanceLock::AnotherInstanceRunning() {
    if (listener_ >= 0) {
        return false;
    }
    // An abstract name belongs to whoever binds it first, of any user. Where another user's
    // process holds one, ours go on to the next, all in the same order, so they still meet.
    constexpr int kNames = 8;
    for (int i = 0; i < kNames; ++i) {
        switch (Claim(i == 0 ? address_ : address_ + "#" + std::to_string(i))) {
            case Claimed:
                return false;
            case HeldByUs:
                return true;
            case HeldByOther:
                break;
        }
    }
    return false;  // every name taken by others: better to run than never to
}

InstanceLock::Outcome InstanceLock::Claim(const std::string& name) {
    sockaddr_un addr{};
    const socklen_t length = AbstractAddress(name, addr);
    // A name bound but never listened on (by some other program) must not keep the saver from
    // running: after this long without an answer it counts as another's.
    constexpr auto kPatience = std::chrono::milliseconds(250);
    const auto giveUp = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            return Claimed;  // no lock to be had: run
        }
        if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), length) == 0) {
            if (listen(fd, 16) == 0) {
                listener_ = fd;
            } else {
                close(fd);
            }
            return Claimed;
        }
        const bool inUse = errno == EADDRINUSE;
        close(fd);
        if (!inUse) {
            return Claimed;
        }
        switch (AskHolder(addr, length, getuid())) {
            case Holder::OfThisUser:
                return HeldByUs;
            case Holder::OfAnotherUser:
                return HeldByOther;
            case Holder::NotListening:
                break;
        }
        if (std::chrono::steady_clock::now() >= giveUp) {
            return HeldByOther;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
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
