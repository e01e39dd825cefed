// DiagnosticLog: a plain-text log file of time-stamped lines, a fresh file
// each time it is opened:
//   07/12/2026 21:38:59 : *** Log Opened ***\r\n
//   07/12/2026 21:38:59 : text\r\n
//   07/12/2026 21:39:02 : *** Log Closed ***\r\n
#ifndef KAVELO_SERVICE_DIAGNOSTIC_LOG_H_
#define KAVELO_SERVICE_DIAGNOSTIC_LOG_H_

#include <string>

namespace kavelo::service {

// Not thread safe: one thread at a time uses a log.
class DiagnosticLog {
 public:
  DiagnosticLog() = default;
  // Closes the log (writing its closing line) when it is open.
  ~DiagnosticLog();
  DiagnosticLog(const DiagnosticLog&) = delete;
  DiagnosticLog& operator=(const DiagnosticLog&) = delete;

  // Sets the file path used when the log is next opened.  Throws
  // NullPointerException for a null path, IllegalArgumentException for an
  // empty one.
  void SetPath(const char* path);

  // Writes one line "DD/MM/YYYY HH:MM:SS : text\r\n" in local time.  The
  // first Write creates the file (replacing any file of that name) and
  // writes "*** Log Opened ***" first.  Each line is handed to the operating
  // system before Write returns.  Returns false when the file cannot be
  // created or written; a later Write tries again.  Throws
  // NullPointerException for a null text, IllegalArgumentException for an
  // empty one.
  bool Write(const char* text);

  // Writes "*** Log Closed ***" and closes the file, if it is open.
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_DIAGNOSTIC_LOG_H_
