#include "service/intake/spool_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <sys/file.h>
#include <sys/xattr.h>

namespace kavelo::service {

namespace {
// Spool files hold client documents: readable by the service's account only.
constexpr mode_t kSpoolMode = 0600;
}  // namespace

int SpoolFile::Open(const std::string& path, int flags) {
  Close();
  int fd = open(path.c_str(), flags | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, kSpoolMode);
  if (fd < 0) return errno;
  // Held for the whole time the file is being written; a reader that takes
  // a shared lock without blocking knows the file is not complete yet.
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  fd_ = fd;
  return 0;
}

int SpoolFile::CreateExclusive(const std::string& path) { return Open(path, O_CREAT | O_EXCL); }

int SpoolFile::OpenReserved(const std::string& path) { return Open(path, O_TRUNC); }

bool SpoolFile::Write(const void* data, size_t n) {
  const char* in = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t written = write(fd_, in, n);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    in += written;
    n -= static_cast<size_t>(written);
  }
  return true;
}

bool SpoolFile::Sync() { return fd_ >= 0 && fdatasync(fd_) == 0; }

bool SpoolFile::SetAttribute(const char* name, const std::string& value) {
  return fd_ >= 0 && fsetxattr(fd_, name, value.data(), value.size(), 0) == 0;
}

void SpoolFile::Close() {
  if (fd_ < 0) return;
  close(fd_);  // releases the lock
  fd_ = -1;
}

int SpoolFile::CreateReservation(const std::string& path) {
  int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, kSpoolMode);
  if (fd < 0) return errno;
  close(fd);
  return 0;
}

bool SpoolFile::SyncDirectory(const std::string& directory) {
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace kavelo::service
