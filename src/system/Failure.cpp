// The one failure line, written so that nothing else can get in its way.
#include "system/Failure.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace digitmosaic {

namespace {

int errorFd = STDERR_FILENO;  // where the program's own line goes

void WriteLine(const std::string& what) {
    std::string line = "digitmosaic: " + what;
    if (const auto newline = line.find('\n'); newline != std::string::npos) {
        line.erase(newline);
    }
    line += '\n';
    std::fflush(nullptr);
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t written = write(errorFd, line.data() + done, line.size() - done);
        if (written <= 0) {
            break;
        }
        done += static_cast<std::size_t>(written);
    }
}

}  // namespace

void Fail(const std::string& what) {
    WriteLine(what);
    std::_Exit(1);
}

void FailWithoutDisplay(const std::string& why) { Fail("cannot open a window: " + why); }

void FailFromAnyThread(const char* what) {
    char line[256] = "digitmosaic: ";
    std::size_t length = 13;
    for (; *what && length < sizeof line - 1; ++what) {
        line[length++] = *what;
    }
    line[length++] = '\n';
    [[maybe_unused]] const ssize_t written = write(errorFd, line, length);
    _exit(1);
}

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

int ErrorDescriptor() { return errorFd; }

void UseErrorDescriptor(int descriptor) { errorFd = descriptor; }

void SilenceToolkitOutput() {
    const int copy = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (copy >= 0 && null >= 0 && dup2(null, STDERR_FILENO) >= 0) {
        errorFd = copy;
    } else if (copy >= 0) {
        close(copy);  // no descriptors to spare: the toolkit may speak, the program still does
    }
    if (null >= 0) {
        close(null);
    }
}

}  // namespace digitmosaic
