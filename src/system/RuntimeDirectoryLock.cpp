// The instance lock on the private runtime directory.
#include "system/RuntimeDirectoryLock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace digitmosaic {

RuntimeDirectoryLock::~RuntimeDirectoryLock() {
    if (directory_ >= 0) {
        close(directory_);
    }
}

bool RuntimeDirectoryLock::AnotherInstanceRunning() {
    if (directory_ >= 0) {
        return false;
    }
    const char* path = std::getenv("XDG_RUNTIME_DIR");
    if (!path || path[0] != '/') {
        return false;
    }
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat status {};
    // Checked on what was opened: a directory of this user's that no one else can enter.
    if (fd < 0 || fstat(fd, &status) != 0 || status.st_uid != getuid() ||
        (status.st_mode & 077) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return held;
    }
    directory_ = fd;
    return false;
}

}  // namespace digitmosaic
