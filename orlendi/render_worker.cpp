#include "orlendi/render_worker.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "orlendi/html_renderer.h"
#include "orlendi/render_script.h"

extern char** environ;

namespace kavelo::orlendi {

namespace {

using Clock = std::chrono::steady_clock;

// A worker that has not opened its socket after this long is given up.
constexpr int kWorkerStartLimitMs = 30000;
constexpr int kPollStepMs = 10;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

void SleepMs(int ms) { usleep(static_cast<useconds_t>(ms) * 1000); }

// A folder of this account that no one else may enter: a real folder (no
// symbolic link), owned by getuid(), no permission for group or others.
bool IsPrivateFolder(const struct stat& info) {
  return S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & 077) == 0;
}

// Creates path (0700) when missing and checks that it is a private folder
// of this account with mode exactly 0700.
bool OpenPrivateFolder(const std::string& path, std::string* error) {
  bool created = mkdir(path.c_str(), 0700) == 0;
  if (!created && errno != EEXIST) {
    *error = "can't create " + path + ": " + std::strerror(errno);
    return false;
  }
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *error = "can't open " + path + ": " + std::strerror(errno);
    return false;
  }
  // A folder made just now may have lost bits to the umask.
  if (created) fchmod(fd, 0700);
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && IsPrivateFolder(info) && (info.st_mode & 07777) == 0700;
  close(fd);
  if (!ok) *error = path + " is not a folder of this account with mode 0700";
  return ok;
}

int ConnectWorker(const std::string& socketPath, int* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof address.sun_path) {
    *error = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *error = errno;
    return -1;
  }
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = errno;
    close(fd);
    return -1;
  }
  // The folder is private, so the listener is this account's; checked all
  // the same before any path is handed over.
  ucred peer{};
  socklen_t length = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != getuid()) {
    *error = EPERM;
    close(fd);
    return -1;
  }
  return fd;
}

// Starts the worker detached from this process: a session and process group
// of its own (a print control ended with its group leaves it running),
// standard input and output /dev/null, standard error the log in the
// folder, no inherited descriptor but readyFd as descriptor 3 (the worker
// closes it once its socket answers), the address-space limit set before
// Python runs, TMPDIR the runtime folder rather than one job's work folder.
// Returns its pid, or -1.
pid_t SpawnWorker(const std::string& folder, uint64_t addressSpaceBytes, int readyFd) {
  uint64_t maxRss = kWorkerMaxRssBytes;
  if (addressSpaceBytes != 0) maxRss = std::min(maxRss, addressSpaceBytes / 2);
  std::vector<std::string> args = {kPythonPath,
                                   "-I",
                                   "-c",
                                   kRenderScript,
                                   "--kavelo-worker",
                                   folder,
                                   std::to_string(kWorkerDocuments),
                                   std::to_string(maxRss),
                                   std::to_string(kWorkerIdleSeconds),
                                   "3"};
  std::vector<std::string> env;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "TMPDIR=", 7) != 0) env.push_back(*entry);
  }
  env.push_back("TMPDIR=" + folder);
  std::vector<char*> argv, envp;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const std::string logPath = folder + "/worker.log";
  rlimit limit{addressSpaceBytes, addressSpaceBytes};

  pid_t pid = fork();
  if (pid != 0) return pid;
  // The child: only async-signal-safe calls until execve.
  setsid();
  if (addressSpaceBytes != 0 && setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
  if (chdir(folder.c_str()) != 0) _exit(127);
  int null = open("/dev/null", O_RDWR);
  int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  if (null < 0) _exit(127);
  dup2(null, 0);
  dup2(null, 1);
  dup2(log >= 0 ? log : null, 2);
  // Descriptor 3 stays open across execve (dup2 clears close-on-exec; a
  // descriptor that is 3 already has it cleared by hand).
  if (readyFd == 3 ? fcntl(3, F_SETFD, 0) != 0 : dup2(readyFd, 3) != 3) _exit(127);
  syscall(SYS_close_range, 4u, ~0u, 0u);
  execve(argv[0], argv.data(), envp.data());
  _exit(127);
}

// Kills the worker and waits (two seconds at most) until it is gone, so
// that nothing it was writing lands after the caller has cleaned up.
void KillWorker(pid_t pid) {
  if (pid <= 0) return;
  const int handle = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  kill(-pid, SIGKILL);  // its process group (it made its own session)
  kill(pid, SIGKILL);
  if (handle >= 0) {
    pollfd gone{handle, POLLIN, 0};
    while (poll(&gone, 1, 2000) < 0 && errno == EINTR) {
    }
    close(handle);
  }
  waitpid(pid, nullptr, WNOHANG);  // reaped when it is this process's child
}

// Starts a worker under the folder's start lock, so that two orlendi
// processes never start two; the second finds the first one's worker.
// Returns a connection to it, or -1.  Waits until the deadline at most.
int StartWorker(const std::string& folder, const std::string& socketPath,
                uint64_t addressSpaceBytes, Clock::time_point deadline) {
  const std::string lockPath = folder + "/start.lock";
  int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lock < 0) return -1;
  deadline = std::min(deadline, Clock::now() + std::chrono::milliseconds(kWorkerStartLimitMs));
  while (flock(lock, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || RemainingMs(deadline) == 0) {
      close(lock);
      return -1;
    }
    SleepMs(kPollStepMs);
  }
  int error = 0;
  int fd = ConnectWorker(socketPath, &error);
  int ready[2];
  if (fd < 0 && pipe2(ready, O_CLOEXEC) == 0) {
    // No worker answers on the path: a stale socket of one that died goes.
    unlink(socketPath.c_str());
    pid_t pid = SpawnWorker(folder, addressSpaceBytes, ready[1]);
    close(ready[1]);
    // The worker closes its end once it listens, or ends: either way the
    // pipe reports the end of file, without a look every few milliseconds.
    pollfd entry{ready[0], POLLIN, 0};
    int waited = 0;
    while (pid > 0 && (waited = poll(&entry, 1, RemainingMs(deadline))) < 0 && errno == EINTR) {
    }
    close(ready[0]);
    if (pid > 0 && waited > 0) fd = ConnectWorker(socketPath, &error);
    if (pid > 0 && fd < 0) {
      if (waited == 0) KillWorker(pid);
      waitpid(pid, nullptr, WNOHANG);  // it could not start
    }
  }
  close(lock);  // releases the lock
  return fd;
}

bool SendAll(int fd, const std::string& data, Clock::time_point deadline) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd entry{fd, POLLOUT, 0};
      if (poll(&entry, 1, RemainingMs(deadline)) <= 0 && RemainingMs(deadline) == 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

// The folder of pool slot i: the runtime folder itself for the first, a
// private sub-folder "wI" of it for the others.  Each slot folder holds one
// worker's socket, start lock, log and scratch folders, and the slot's busy
// lock.  Empty when it cannot be made private.
std::string SlotFolder(const std::string& folder, int slot) {
  if (slot == 0) return folder;
  std::string path = folder + "/w" + std::to_string(slot);
  std::string error;
  return OpenPrivateFolder(path, &error) ? path : "";
}

// Takes the first of the slots no other render uses: its busy lock is held
// until the returned descriptor is closed.  -1 when every slot stays busy
// until the deadline or no slot folder can be made.
int TakeSlot(const std::string& folder, SlotRange slots, Clock::time_point deadline,
             std::string* slotFolder) {
  for (;;) {
    bool anyFolder = false;
    for (int slot = slots.first; slot < slots.first + slots.count; ++slot) {
      const std::string path = SlotFolder(folder, slot);
      if (path.empty()) continue;
      anyFolder = true;
      const std::string lockPath = path + "/busy.lock";
      int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (lock < 0) continue;
      if (flock(lock, LOCK_EX | LOCK_NB) == 0) {
        *slotFolder = path;
        return lock;
      }
      close(lock);
    }
    if (!anyFolder || RemainingMs(deadline) == 0) return -1;
    SleepMs(kPollStepMs);
  }
}

}  // namespace

std::string WorkerRuntimeFolder(std::string* error) {
  const uid_t uid = getuid();
  const char* chosen = std::getenv("KAVELO_ORLENDI_RUNTIME");
  if (chosen != nullptr && chosen[0] == '/') {
    return OpenPrivateFolder(chosen, error) ? chosen : "";
  }
  std::string base;
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  const std::string runUser = "/run/user/" + std::to_string(uid);
  for (const std::string& candidate : {std::string(xdg != nullptr ? xdg : ""), runUser}) {
    struct stat info;
    if (candidate.size() > 1 && candidate[0] == '/' && lstat(candidate.c_str(), &info) == 0 &&
        IsPrivateFolder(info)) {
      base = candidate;
      break;
    }
  }
  std::string folder =
      base.empty() ? "/tmp/kavelo-" + std::to_string(uid) + "-render" : base + "/kavelo";
  return OpenPrivateFolder(folder, error) ? folder : "";
}

namespace {

WarmResult RenderInSlot(const std::string& folder, const std::string& htmlPath,
                        const std::string& cssPath, const std::string& pdfPath,
                        const std::string& errorPath, const std::string& assets,
                        Clock::time_point deadline, uint64_t addressSpaceBytes) {
  const std::string socketPath = folder + "/" + kWorkerSocketName;
  int connectError = 0;
  int fd = ConnectWorker(socketPath, &connectError);
  if (fd < 0 && (connectError == ENOENT || connectError == ECONNREFUSED)) {
    fd = StartWorker(folder, socketPath, addressSpaceBytes, deadline);
  }
  if (fd < 0) return WarmResult::kUnavailable;

  ucred peer{};
  socklen_t length = sizeof peer;
  getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length);
  std::string request;
  for (const std::string* field : {&htmlPath, &cssPath, &pdfPath, &errorPath, &assets}) {
    request += *field;
    request += '\0';
  }
  if (!SendAll(fd, request, deadline) || shutdown(fd, SHUT_WR) != 0) {
    close(fd);
    return WarmResult::kUnavailable;
  }
  char answer[8];
  ssize_t got = -1;
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    int ready = poll(&entry, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      // Past the limit: the worker goes with the render, so that the next
      // job gets a fresh one.
      close(fd);
      KillWorker(peer.pid);
      return WarmResult::kTimedOut;
    }
    got = recv(fd, answer, sizeof answer, 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    break;
  }
  close(fd);
  // No answer: the worker ended during the render (recycled, or killed);
  // the document is rendered cold.
  if (got != 1) return WarmResult::kUnavailable;
  return answer[0] == '0' ? WarmResult::kRendered : WarmResult::kFailed;
}

}  // namespace

WarmResult RenderWarm(const std::string& htmlPath, const std::string& cssPath,
                      const std::string& pdfPath, const std::string& errorPath,
                      const std::string& assets, int timeLimitMs, uint64_t addressSpaceBytes,
                      SlotRange slots) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeLimitMs);
  std::string error;
  const std::string runtime = WorkerRuntimeFolder(&error);
  if (runtime.empty()) return WarmResult::kUnavailable;
  std::string folder;
  slots.first = std::max(0, slots.first);
  slots.count = std::max(1, slots.count);
  const int slot = TakeSlot(runtime, slots, deadline, &folder);
  if (slot < 0) return WarmResult::kUnavailable;
  WarmResult result = RenderInSlot(folder, htmlPath, cssPath, pdfPath, errorPath, assets, deadline,
                                   addressSpaceBytes);
  close(slot);  // releases the slot
  return result;
}

}  // namespace kavelo::orlendi
