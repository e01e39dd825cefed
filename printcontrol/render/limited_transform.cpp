#include "printcontrol/render/limited_transform.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include "printcontrol/render/transform_to_html.h"

namespace kavelo::printcontrol {

namespace {

// Exit statuses of the transform process besides 0.
constexpr int kExitHtmlLimit = 3;
constexpr int kExitMemoryLimit = 4;
constexpr size_t kTextSize = 1024;

[[noreturn]] void OutOfMemory() { _exit(kExitMemoryLimit); }

int PidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// The address-space limit that applies: the inherited one, lowered to the
// wanted one when that is lower (0: none wanted).
rlim_t EffectiveAddressSpace(uint64_t wanted) {
  struct rlimit inherited = {RLIM_INFINITY, RLIM_INFINITY};
  getrlimit(RLIMIT_AS, &inherited);
  if (wanted == 0) return inherited.rlim_cur;
  return std::min<rlim_t>(inherited.rlim_cur, static_cast<rlim_t>(wanted));
}

// The transform process: sets its limits before it reads a byte of the
// documents, transforms, and hands its error text to the parent.
[[noreturn]] void RunChild(const char* xmlPath, const char* xslPath, const char* htmlPath,
                           int styleFlag, const TransformLimits& limits, int textFd) {
  rlim_t space = EffectiveAddressSpace(limits.addressSpaceBytes);
  if (space != RLIM_INFINITY) {
    struct rlimit limit = {space, space};
    setrlimit(RLIMIT_AS, &limit);
  }
  if (limits.htmlBytes > 0) {
    // Behind the output sink's own count: nothing this process writes can
    // grow past the HTML limit.
    struct rlimit limit = {static_cast<rlim_t>(limits.htmlBytes),
                           static_cast<rlim_t>(limits.htmlBytes)};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  // The libraries allocate through operator new: a failed allocation ends
  // the process at once with a status that names the limit.
  std::set_new_handler(OutOfMemory);
  char error[kTextSize] = "";
  bool overLimit = false;
  TransformToHtml(xmlPath, xslPath, htmlPath, styleFlag, error, limits.htmlBytes, &overLimit);
  if (overLimit) _exit(kExitHtmlLimit);
  ssize_t ignored = write(textFd, error, std::strlen(error));
  (void)ignored;
  _exit(0);
}

void AppendAvailable(int fd, std::string* text) {
  char buffer[kTextSize];
  ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0 && text->size() < kTextSize) text->append(buffer, static_cast<size_t>(n));
}

}  // namespace

TransformLimits LimitsFor(const platform::PrintLimits& limits, const char* xmlPath) {
  struct stat st = {};
  int64_t size = stat(xmlPath, &st) == 0 ? st.st_size : 0;
  TransformLimits result;
  result.addressSpaceBytes = limits.AddressSpaceBytes();
  result.htmlBytes = limits.HtmlSizeBytes(size);
  result.timeMs = limits.TransformTimeMs(size);
  return result;
}

bool LimitedTransform(const char* xmlPath, const char* xslPath, const char* htmlPath, int styleFlag,
                      const TransformLimits& limits, const char* title, char* error,
                      size_t errorSize) {
  error[0] = '\0';
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    std::snprintf(error, errorSize, "Error:Can't start the transform (errno %d).", errno);
    return false;
  }
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    RunChild(xmlPath, xslPath, htmlPath, styleFlag, limits, fds[1]);
  }
  close(fds[1]);
  if (pid < 0) {
    std::snprintf(error, errorSize, "Error:Can't start the transform (errno %d).", errno);
    close(fds[0]);
    return false;
  }

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(std::max<int64_t>(limits.timeMs, 0));
  // The wait sleeps until the child writes, ends (its pidfd becomes
  // readable) or reaches the time limit, whichever comes first.
  const int pidfd = PidfdOpen(pid);
  std::string text;
  bool pipeOpen = true;
  bool timedOut = false;
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) break;
    int waitMs = -1;
    if (limits.timeMs >= 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        kill(pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        timedOut = true;
        break;
      }
      waitMs = static_cast<int>(std::min<int64_t>(left, INT32_MAX));
    }
    pollfd p[2];
    nfds_t count = 0;
    if (pipeOpen) p[count++] = {fds[0], POLLIN, 0};
    if (pidfd >= 0) p[count++] = {pidfd, POLLIN, 0};
    // Without a pidfd (a kernel before 5.3) the end of the child is
    // looked for every 5 ms once its pipe has closed.
    if (pidfd < 0 && !pipeOpen) waitMs = waitMs < 0 ? 5 : std::min(waitMs, 5);
    if (poll(p, count, waitMs) > 0 && pipeOpen && p[0].revents != 0) {
      size_t before = text.size();
      AppendAvailable(fds[0], &text);
      if (text.size() == before && (p[0].revents & (POLLHUP | POLLIN)) != 0) pipeOpen = false;
    }
  }
  if (pidfd >= 0) close(pidfd);
  if (pipeOpen && !timedOut) {
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    AppendAvailable(fds[0], &text);
  }
  close(fds[0]);

  char limit[128] = "";
  if (timedOut) {
    std::snprintf(limit, sizeof limit, "stopped at its time limit of %lld s",
                  static_cast<long long>((limits.timeMs + 999) / 1000));
  } else if ((WIFEXITED(status) && WEXITSTATUS(status) == kExitHtmlLimit) ||
             (WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ)) {
    std::snprintf(limit, sizeof limit, "stopped at its HTML size limit of %lld bytes",
                  static_cast<long long>(limits.htmlBytes));
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == kExitMemoryLimit) {
    std::snprintf(
        limit, sizeof limit, "stopped at its memory limit of %llu MiB",
        static_cast<unsigned long long>(EffectiveAddressSpace(limits.addressSpaceBytes) >> 20));
  } else if (WIFSIGNALED(status)) {
    std::snprintf(limit, sizeof limit, "ended with signal %d (%s)", WTERMSIG(status),
                  strsignal(WTERMSIG(status)));
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::snprintf(error, errorSize, "%s", "Find error in creating html pages.");
    return false;
  } else {
    std::snprintf(error, errorSize, "%s", text.substr(0, kTextSize - 1).c_str());
    return false;
  }
  ::unlink(htmlPath);
  std::snprintf(error, errorSize, "Error:The transform %s. Report Title:%s", limit, title);
  return true;
}

}  // namespace kavelo::printcontrol
