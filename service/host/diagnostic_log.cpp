#include "service/host/diagnostic_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "common/exceptions.h"

namespace kavelo::service {

DiagnosticLog::~DiagnosticLog() { Close(); }

void DiagnosticLog::SetPath(const char* path) {
  if (path == nullptr) throw NullPointerException();
  if (*path == '\0') throw IllegalArgumentException();
  path_ = path;
}

bool DiagnosticLog::Write(const char* text) {
  if (text == nullptr) throw NullPointerException();
  if (*text == '\0') throw IllegalArgumentException();
  if (fd_ < 0) {
    if (path_.empty()) return false;
    do {
      fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) return false;
    if (!Write("*** Log Opened ***")) return false;
  }

  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char stamp[512];
  size_t length = strftime(stamp, sizeof stamp, "%d/%m/%Y %H:%M:%S", &local);
  std::string line(stamp, length);
  line.append(" : ").append(text).append("\r\n");

  // One write per line: the line reaches the file whole, at its end.
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void DiagnosticLog::Close() {
  if (fd_ < 0) return;
  Write("*** Log Closed ***");
  close(fd_);
  fd_ = -1;
}

}  // namespace kavelo::service
