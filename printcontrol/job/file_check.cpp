#include "printcontrol/job/file_check.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/file.h>
#include <sys/stat.h>

namespace kavelo::printcontrol {

namespace {

bool IsNumber(const char* name) {
  if (name[0] == '\0') return false;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

// The open flags of descriptor fd of process pid, from its fdinfo; -1 when
// they cannot be read.
long DescriptorFlags(const std::string& pid, const char* fd) {
  std::string path = "/proc/" + pid + "/fdinfo/" + fd;
  FILE* info = std::fopen(path.c_str(), "re");
  if (info == nullptr) return -1;
  long flags = -1;
  char line[256];
  while (std::fgets(line, sizeof(line), info) != nullptr) {
    if (std::strncmp(line, "flags:", 6) == 0) {
      flags = std::strtol(line + 6, nullptr, 8);
      break;
    }
  }
  std::fclose(info);
  return flags;
}

bool ProcessWrites(const std::string& pid, uint64_t device, uint64_t inode) {
  std::string fdDirectory = "/proc/" + pid + "/fd";
  DIR* dir = opendir(fdDirectory.c_str());
  if (dir == nullptr) return false;
  bool writes = false;
  while (struct dirent* entry = readdir(dir)) {
    if (!IsNumber(entry->d_name)) continue;
    struct stat st;
    std::string link = fdDirectory + "/" + entry->d_name;
    if (stat(link.c_str(), &st) != 0) continue;
    if (static_cast<uint64_t>(st.st_dev) != device || static_cast<uint64_t>(st.st_ino) != inode) {
      continue;
    }
    long flags = DescriptorFlags(pid, entry->d_name);
    if (flags >= 0 && (flags & O_ACCMODE) != O_RDONLY) {
      writes = true;
      break;
    }
  }
  closedir(dir);
  return writes;
}

void Format(char* message, size_t size, const char* format, const char* path) {
  if (message != nullptr && size > 0) std::snprintf(message, size, format, path);
}

// Whether any process, this one included, has the file behind fd (opened
// read-only) open for writing, from a read lease, which the kernel grants
// only while no descriptor of the file is open for writing: 0 no, 1 yes, -1
// unknown (a file of another owner, a file system without leases).  The
// lease is given back at once.
int OpenForWritingAnywhere(int fd) {
  // A lease broken in that moment signals SIGURG, which is ignored by
  // default, instead of SIGIO, which would end the process.
  if (fcntl(fd, F_SETSIG, SIGURG) != 0) return -1;
  if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
    return 0;
  }
  return errno == EAGAIN ? 1 : -1;
}

}  // namespace

bool OpenForWritingElsewhere(uint64_t device, uint64_t inode) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  std::string self = std::to_string(getpid());
  bool found = false;
  while (struct dirent* entry = readdir(proc)) {
    if (!IsNumber(entry->d_name) || self == entry->d_name) continue;
    if (ProcessWrites(entry->d_name, device, inode)) {
      found = true;
      break;
    }
  }
  closedir(proc);
  return found;
}

int CheckInputFile(const char* path, int64_t* size, char* message, size_t messageSize) {
  if (message != nullptr && messageSize > 0) message[0] = '\0';
  if (size != nullptr) *size = 0;
  if (path == nullptr) path = "";
  // O_NONBLOCK keeps a FIFO from holding the open up; it is refused below.
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    Format(message, messageSize, "Error:CreateFile(read), %s", path);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    ::close(fd);
    Format(message, messageSize, "Error:INVALID_FILE_SIZE. %s.", path);
    return -1;
  }
  bool usable = S_ISREG(st.st_mode);
  // A writer that follows the protocol holds the lock; the lock taken here
  // is given back when the descriptor is closed.
  // Other lock failures (a file system without locks) do not count as use.
  if (usable && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) usable = false;
  // Only when the lease cannot rule a writer out are the other processes'
  // descriptors walked (this process's own writer does not count), which
  // costs a millisecond or more.
  const bool writerPossible = usable && OpenForWritingAnywhere(fd) != 0;
  ::close(fd);
  if (writerPossible &&
      OpenForWritingElsewhere(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino))) {
    usable = false;
  }
  if (!usable) {
    Format(message, messageSize, "Error:CreateFile(read), %s", path);
    return -1;
  }
  if (size != nullptr) *size = static_cast<int64_t>(st.st_size);
  return 0;
}

}  // namespace kavelo::printcontrol
