// The one failure line, written so that nothing else can get in its way and nothing can hold it up.
#include "system/Failure.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>

namespace digitmosaic {

namespace {

std::atomic<int> errorFd{STDERR_FILENO};  // where the program's own line goes

// Writes what it can within a tenth of a second, never blocking: a pipe nobody reads (a stalled
// log reader) loses the line rather than keeping the process, and its windows, alive.
void WriteWithoutBlocking(int fd, const char* text, std::size_t length) {
    for (int waits = 0; length > 0 && waits < 10;) {
        const ssize_t written = write(fd, text, length);
        if (written > 0) {
            text += written;
            length -= static_cast<std::size_t>(written);
        } else if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd room{fd, POLLOUT, 0};
            poll(&room, 1, 10);
            ++waits;
        } else {
            return;
        }
    }
}

}  // namespace

void WriteErrorLine(const char* text, std::size_t length) {
    const int fd = errorFd.load();
    const int savedErrno = errno;
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        return;
    }
    if (S_ISFIFO(status.st_mode)) {
        // A pipe opened afresh has a non-blocking state of its own, unseen by the other ends.
        char path[32] = "/proc/self/fd/";
        std::size_t end = 14;
        char digits[12];
        std::size_t count = 0;
        for (unsigned value = static_cast<unsigned>(fd); count == 0 || value > 0; value /= 10) {
            digits[count++] = static_cast<char>('0' + value % 10);
        }
        while (count > 0) {
            path[end++] = digits[--count];
        }
        path[end] = '\0';
        const int pipe = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (pipe >= 0) {
            WriteWithoutBlocking(pipe, text, length);
            close(pipe);
            errno = savedErrno;
            return;
        }
    }
    // A terminal or a socket: non-blocking only for the write, as it was again after.
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK)) {
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
    WriteWithoutBlocking(fd, text, length);
    if (flags >= 0 && !(flags & O_NONBLOCK)) {
        fcntl(fd, F_SETFL, flags);
    }
    errno = savedErrno;
}

void FailFromAnyThread(const char* what) {
    // Cut at a newline, and after 240 bytes (never inside a UTF-8 character) with an ellipsis.
    constexpr std::size_t kShown = 240;
    char line[kShown + 32] = "digitmosaic: ";
    std::size_t length = 13;
    const char* from = what;
    for (; *from && *from != '\n' && from - what < static_cast<std::ptrdiff_t>(kShown); ++from) {
        line[length++] = *from;
    }
    if (*from && *from != '\n') {
        while (from > what && (static_cast<unsigned char>(*from) & 0xC0) == 0x80) {
            --from, --length;  // not inside a UTF-8 character
        }
        for (const char c : {'\xE2', '\x80', '\xA6'}) {
            line[length++] = c;
        }
    }
    line[length++] = '\n';
    WriteErrorLine(line, length);
    _exit(1);
}

void Fail(const std::string& what) { FailFromAnyThread(what.c_str()); }

void FailWithoutDisplay(const std::string& why) { Fail("cannot open a window: " + why); }

std::string Quoted(const std::string& value, std::size_t shown) {
    if (value.size() <= shown) {
        return value;
    }
    std::size_t cut = shown;
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) {
        --cut;  // not inside a UTF-8 character
    }
    return value.substr(0, cut) + "\u2026";
}

void OpenStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) < 0) {
            // The lowest free number is this one.
            const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (null >= 0 && null != fd) {
                close(null);
            }
        }
    }
}

int ErrorDescriptor() { return errorFd.load(); }

void SetErrorDescriptor(int fd) { errorFd.store(fd); }

void KeepErrorStream() {
    if (errorFd.load() != STDERR_FILENO) {
        return;
    }
    const int copy = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (copy >= 0) {
        errorFd.store(copy);
    }
}

void SilenceToolkitOutput() {
    KeepErrorStream();
    if (errorFd.load() == STDERR_FILENO) {
        return;  // no descriptors to spare: the toolkit may speak, the program still does
    }
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
}

}  // namespace digitmosaic
