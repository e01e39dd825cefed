#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>

extern char** environ;

namespace kavelo::platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int PidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return status;
}

// RAII for the spawn attribute objects.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  int error = 0;
  bool actionsReady = false;
  bool attrReady = false;

  explicit SpawnSetup(bool quiet) {
    if ((error = posix_spawn_file_actions_init(&actions)) != 0) return;
    actionsReady = true;
    if ((error = posix_spawnattr_init(&attr)) != 0) return;
    attrReady = true;
    // Standard input never reaches the caller's terminal or socket.
    if ((error = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0)) != 0)
      return;
    if (quiet) {
      if ((error = posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0)) != 0)
        return;
      if ((error = posix_spawn_file_actions_adddup2(&actions, 1, 2)) != 0) return;
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors opened without O_CLOEXEC (by a library, or by another
    // thread between open and fcntl) must not leak into the program either.
    if ((error = posix_spawn_file_actions_addclosefrom_np(&actions, 3)) != 0) return;
#endif
    // Own process group, so that Terminate reaches the program's children;
    // no blocked signals and default dispositions, so that a SIGPIPE the
    // caller ignores is not ignored by the program too.
    short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    if ((error = posix_spawnattr_setflags(&attr, flags)) != 0) return;
    if ((error = posix_spawnattr_setpgroup(&attr, 0)) != 0) return;
    if ((error = posix_spawnattr_setsigmask(&attr, &none)) != 0) return;
    error = posix_spawnattr_setsigdefault(&attr, &all);
  }
  ~SpawnSetup() {
    if (attrReady) posix_spawnattr_destroy(&attr);
    if (actionsReady) posix_spawn_file_actions_destroy(&actions);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// The program's file as exec would find it: a name without "/" is looked
// for along PATH.  Returns 0 or ENOENT / EACCES.
int ResolveProgram(const std::string& name, std::string* path) {
  if (name.find('/') != std::string::npos) {
    *path = name;
    return 0;
  }
  const char* env = getenv("PATH");
  std::string dirs = env != nullptr && *env != '\0' ? env : "/usr/local/bin:/usr/bin:/bin";
  int error = ENOENT;
  size_t at = 0;
  for (;;) {
    size_t end = dirs.find(':', at);
    std::string dir = dirs.substr(at, end == std::string::npos ? std::string::npos : end - at);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) {
      *path = candidate;
      return 0;
    }
    if (errno == EACCES) error = EACCES;
    if (end == std::string::npos) return error;
    at = end + 1;
  }
}

// The kernel's form of a signal action, for a disposition set by a raw
// system call.
struct KernelSignalAction {
  void (*handler)(int);
  unsigned long flags;
#if defined(__x86_64__) || defined(__i386__)
  void (*restorer)();
#endif
  unsigned long mask;
};

// A raw system call's result: 0, or the error it gave.  (errno is the
// suspended caller's too; it is not looked at.)
template <typename... Args>
__attribute__((always_inline)) inline int RawCall(long number, Args... args) {
  return syscall(number, args...) < 0 ? errno : 0;
}

// The child's side of a limited start.  It runs under vfork: on the
// caller's memory and stack, with the caller's thread suspended, until
// execve or its end.  So it makes raw system calls only: no libc state, no
// lock another thread may hold, no sanitizer's bookkeeping is touched.
// Every signal is blocked on entry and unblocked only with default
// dispositions, so no handler of the caller ever runs in it.  Never returns.
[[noreturn]] __attribute__((noinline, no_sanitize("address", "thread", "undefined"))) void
ExecLimited(const char* path, char* const* argv, char* const* envp, bool quiet,
            const ResourceLimits& limits, pid_t starter, int errorFd) {
  KernelSignalAction deflt = {};
  deflt.handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) {
    syscall(SYS_rt_sigaction, sig, &deflt, nullptr, sizeof deflt.mask);
  }
  int error = RawCall(SYS_setpgid, 0, 0);
  if (error == 0 && limits.endsWithStarter) {
    error = RawCall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    // A starter that ended before the request above sends nothing.
    if (error == 0 && syscall(SYS_getppid) != starter) syscall(SYS_exit_group, 127);
  }
  const std::pair<int, uint64_t> wanted[] = {{RLIMIT_AS, limits.addressSpaceBytes},
                                             {RLIMIT_FSIZE, limits.fileSizeBytes}};
  for (const auto& [resource, value] : wanted) {
    if (error != 0 || value == 0) continue;
    struct rlimit limit = {static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
    error = RawCall(SYS_prlimit64, 0, resource, &limit, nullptr);
  }
  // The given input or /dev/null on 0, and /dev/null on 1 and 2 when quiet.
  if (error == 0 && limits.standardInput >= 0) {
    error = limits.standardInput == 0 ? RawCall(SYS_fcntl, 0, F_SETFD, 0)
                                      : RawCall(SYS_dup3, limits.standardInput, 0, 0);
  }
  for (int fd = limits.standardInput >= 0 ? 1 : 0; error == 0 && fd <= (quiet ? 2 : 0); ++fd) {
    long null = syscall(SYS_openat, AT_FDCWD, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null < 0) {
      error = errno;
    } else if (null != fd) {
      error = RawCall(SYS_dup3, null, fd, 0);
      syscall(SYS_close, null);
    }
  }
  if (error == 0) {
    syscall(SYS_close_range, 3u, static_cast<unsigned>(errorFd - 1), 0u);
    syscall(SYS_close_range, static_cast<unsigned>(errorFd + 1), ~0u, 0u);
    const uint64_t none = 0;
    syscall(SYS_rt_sigprocmask, SIG_SETMASK, &none, nullptr, sizeof none);
    error = RawCall(SYS_execve, path, argv, envp);
  }
  syscall(SYS_write, errorFd, &error, sizeof error);
  syscall(SYS_exit_group, 127);
  __builtin_unreachable();
}

// Starts the child of a limited start; the caller resumes once it has run
// its program or failed.  vfork rather than fork: nothing of the caller's
// address space is copied, so the start costs the same however large the
// caller is.
__attribute__((noinline)) pid_t VforkLimited(const char* path, char* const* argv, char* const* envp,
                                             bool quiet, const ResourceLimits& limits,
                                             int errorFd) {
  const pid_t starter = getpid();
  pid_t pid = vfork();
  if (pid == 0) ExecLimited(path, argv, envp, quiet, limits, starter, errorFd);
  return pid;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> args;
  const size_t n = commandLine.size();
  size_t i = 0;
  while (i < n && IsBlank(commandLine[i])) ++i;
  if (i == n) return args;

  // The program name: quotes toggle grouping, backslashes are literal.
  std::string program;
  bool inQuotes = false;
  for (; i < n; ++i) {
    char c = commandLine[i];
    if (c == '"') {
      inQuotes = !inQuotes;
    } else if (!inQuotes && IsBlank(c)) {
      break;
    } else {
      program.push_back(c);
    }
  }
  args.push_back(program);

  for (;;) {
    while (i < n && IsBlank(commandLine[i])) ++i;
    if (i == n) break;
    std::string arg;
    inQuotes = false;
    while (i < n) {
      size_t backslashes = 0;
      while (i < n && commandLine[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i < n && commandLine[i] == '"') {
        arg.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          arg.push_back('"');  // escaped: a literal quote
          ++i;
        } else if (inQuotes && i + 1 < n && commandLine[i + 1] == '"') {
          arg.push_back('"');  // "" inside a quoted run
          i += 2;
        } else {
          inQuotes = !inQuotes;
          ++i;
        }
        continue;
      }
      arg.append(backslashes, '\\');
      if (i == n || (!inQuotes && IsBlank(commandLine[i]))) break;
      arg.push_back(commandLine[i]);
      ++i;
    }
    args.push_back(arg);
  }
  return args;
}

std::string JoinCommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (size_t a = 0; a < args.size(); ++a) {
    const std::string& arg = args[a];
    if (a > 0) line.push_back(' ');
    bool plain = !arg.empty() && arg.find_first_of(" \t\"") == std::string::npos;
    if (plain) {
      line += arg;
      continue;
    }
    line.push_back('"');
    if (a == 0) {
      line += arg;  // the program name knows no escapes
    } else {
      size_t backslashes = 0;
      for (char c : arg) {
        if (c == '\\') {
          ++backslashes;
          continue;
        }
        if (c == '"') {
          line.append(2 * backslashes + 1, '\\');
        } else {
          line.append(backslashes, '\\');
        }
        backslashes = 0;
        line.push_back(c);
      }
      // Backslashes before the closing quote are doubled.
      line.append(2 * backslashes, '\\');
    }
    line.push_back('"');
  }
  return line;
}

Process::~Process() { Release(); }

Process::Process(Process&& other) noexcept { *this = std::move(other); }

Process& Process::operator=(Process&& other) noexcept {
  if (this == &other) return *this;
  Release();
  std::lock_guard<std::mutex> lock(other.mutex_);
  pid_ = other.pid_;
  pidfd_ = other.pidfd_;
  reaped_ = other.reaped_;
  exitCode_ = other.exitCode_;
  other.pid_ = -1;
  other.pidfd_ = -1;
  other.reaped_ = false;
  other.exitCode_ = 0;
  return *this;
}

void Process::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pidfd_ >= 0) close(pidfd_);
  pidfd_ = -1;
  pid_ = -1;
  reaped_ = false;
  exitCode_ = 0;
}

int Process::Start(const std::string& commandLine, bool quiet) {
  return Start(SplitCommandLine(commandLine), quiet);
}

int Process::Start(const std::vector<std::string>& args, bool quiet) {
  if (args.empty() || args[0].empty()) return EINVAL;
  Release();
  SpawnSetup setup(quiet);
  if (setup.error != 0) return setup.error;

  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  // glibc reports a failed exec (a missing program: ENOENT) as the result.
  pid_t pid = -1;
  const char* path = args[0].c_str();
  int rc = args[0].find('/') == std::string::npos
               ? posix_spawnp(&pid, path, &setup.actions, &setup.attr, argv.data(), environ)
               : posix_spawn(&pid, path, &setup.actions, &setup.attr, argv.data(), environ);
  if (rc != 0) return rc;

  Adopt(pid);
  return 0;
}

int Process::Start(const std::string& commandLine, bool quiet, const ResourceLimits& limits) {
  return Start(SplitCommandLine(commandLine), quiet, limits);
}

int Process::Start(const std::vector<std::string>& args, bool quiet, const ResourceLimits& limits) {
  return Start(args, quiet, limits, {});
}

int Process::Start(const std::vector<std::string>& args, bool quiet, const ResourceLimits& limits,
                   const std::vector<std::string>& extraEnvironment) {
  if (args.empty() || args[0].empty()) return EINVAL;
  // The child's environment is made here: after fork only exec may run.
  std::vector<char*> envp;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    bool replaced = false;
    for (const std::string& extra : extraEnvironment) {
      size_t equals = extra.find('=');
      if (equals != std::string::npos && text.compare(0, equals + 1, extra, 0, equals + 1) == 0) {
        replaced = true;
      }
    }
    if (!replaced) envp.push_back(*entry);
  }
  for (const std::string& extra : extraEnvironment) envp.push_back(const_cast<char*>(extra.c_str()));
  envp.push_back(nullptr);
  Release();
  std::string path;
  if (int error = ResolveProgram(args[0], &path); error != 0) return error;
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  // The child reports a failure before exec through this pipe; exec closes
  // it, so an end of file means the program runs.  Once vfork returns the
  // child has done either, so the read does not wait.  Kept above the standard
  // descriptors, which the child replaces.
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return errno;
  for (int& fd : pipeFds) {
    if (fd > 2) continue;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    fd = moved;
  }
  if (pipeFds[0] < 0 || pipeFds[1] < 0) {
    int error = errno;
    for (int fd : pipeFds) {
      if (fd >= 0) close(fd);
    }
    return error;
  }
  // No signal handler of the caller may run in the child before exec.
  sigset_t all;
  sigset_t old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pid_t pid = VforkLimited(path.c_str(), argv.data(), envp.data(), quiet, limits, pipeFds[1]);
  int forkError = pid < 0 ? errno : 0;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  close(pipeFds[1]);
  if (pid < 0) {
    close(pipeFds[0]);
    return forkError;
  }
  int childError = 0;
  ssize_t n;
  do {
    n = read(pipeFds[0], &childError, sizeof childError);
  } while (n < 0 && errno == EINTR);
  close(pipeFds[0]);
  if (n == static_cast<ssize_t>(sizeof childError) && childError != 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return childError;
  }

  Adopt(pid);
  return 0;
}

void Process::Adopt(int pid) {
  std::lock_guard<std::mutex> lock(mutex_);
  pid_ = pid;
  // Without a pidfd (a kernel before 5.3) Wait polls instead.
  pidfd_ = PidfdOpen(pid);
  reaped_ = false;
  exitCode_ = 0;
}

int Process::ReapLocked(bool block) {
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return errno;
  if (r == 0) return kWaitTimeout;
  reaped_ = true;
  exitCode_ = ExitCodeOf(status);
  return 0;
}

int Process::Wait(int timeoutMs, int* exitCode) {
  if (pid_ <= 0) return EINVAL;
  using Clock = std::chrono::steady_clock;
  const bool infinite = timeoutMs < 0;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
  auto remainingMs = [&]() -> int {
    if (infinite) return -1;
    // Rounded up: a wait never ends before its limit.
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  };

  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!reaped_) {
        int rc = ReapLocked(false);
        if (rc != 0 && rc != kWaitTimeout) return rc;
      }
      if (reaped_) {
        if (exitCode) *exitCode = exitCode_;
        return 0;
      }
    }
    int left = remainingMs();
    if (left == 0) return kWaitTimeout;
    if (pidfd_ >= 0) {
      // The pidfd becomes readable when the program ends; no lock is held
      // while waiting.
      pollfd p{pidfd_, POLLIN, 0};
      int r = poll(&p, 1, left);
      if (r < 0 && errno != EINTR) return errno;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(infinite ? 10 : std::min(left, 10)));
    }
  }
}

int Process::Terminate() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pid_ <= 0) return EINVAL;
  // Once reaped, the id may already name another process group.
  if (reaped_) return ESRCH;
  if (kill(-pid_, SIGKILL) == 0) return 0;
  // The program left its group (setsid): its own id is still ours until it
  // is reaped, so it can at least be killed itself.
  if (errno == ESRCH && kill(pid_, SIGKILL) == 0) return 0;
  return errno;
}

}  // namespace kavelo::platform
