// One Quenlor program at a time on POSIX: an exclusive flock on a lock file in the user's runtime
// folder (else in /tmp, named by the user's ID). The lock is the open file's, so it goes with the
// process however it ends, and a stale file left behind locks nothing.
#include "device/single_instance.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr std::size_t LOCK_PATH_CHARS = 512;
int LockFile = -1;

}  // namespace

bool claimSingleInstance() {
    if (LockFile >= 0) return true;
    char path[LOCK_PATH_CHARS];
    const char* runtimeFolder = std::getenv("XDG_RUNTIME_DIR");
    const int length = runtimeFolder != nullptr && runtimeFolder[0] == '/'
                           ? std::snprintf(path, sizeof path, "%s/quenlor.lock", runtimeFolder)
                           : std::snprintf(path, sizeof path, "/tmp/quenlor-%u.lock", static_cast<unsigned>(getuid()));
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) return false;
    // O_NOFOLLOW: a link planted in /tmp under our name must not make us create or lock its target.
    const int file = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (file < 0) return false;
    if (flock(file, LOCK_EX | LOCK_NB) != 0) {
        close(file);
        return false;
    }
    LockFile = file;
    return true;
}
