#include "platform/shared_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <sys/stat.h>

namespace kavelo::platform {

int OpenSharedFile(const char* path, int flags) {
  flags &= ~(O_CREAT | O_EXCL);
  // A file removed between the two opens is created on the next round.
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = open(path, flags | O_CREAT | O_EXCL, kSharedFileMode);
    if (fd >= 0) {
      // open() applied the umask; the file this call made gets the full mode.
      if (fchmod(fd, kSharedFileMode) != 0) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
      }
      return fd;
    }
    if (errno == EINTR) continue;
    if (errno != EEXIST) return -1;
    do {
      fd = open(path, flags);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 || errno != ENOENT) return fd;
  }
  errno = ENOENT;
  return -1;
}

}  // namespace kavelo::platform
