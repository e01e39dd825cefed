#include "platform/shared_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

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

bool CreateSharedFile(const char* path) {
  struct stat info;
  if (lstat(path, &info) == 0) return true;
  // The file is made under a name of its own and closed before it gets
  // PATH, so that no descriptor of PATH is ever closed here.
  std::string temporary = std::string(path) + ".new.XXXXXX";
  std::vector<char> name(temporary.begin(), temporary.end());
  name.push_back('\0');
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool made = fchmod(fd, kSharedFileMode) == 0;
  int error = errno;
  close(fd);
  if (made && link(name.data(), path) != 0 && errno != EEXIST) {
    made = false;
    error = errno;
  }
  unlink(name.data());
  errno = error;
  return made;
}

}  // namespace kavelo::platform
