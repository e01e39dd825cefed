// Processes: starting a program from a command line, waiting for it,
// terminating it.  A program is never started through a shell: the command
// line is split into arguments by the Windows C runtime rules, the first is
// the program's path, and posix_spawn starts it in a process group of its
// own with every other descriptor closed (close-on-exec).
#ifndef KAVELO_PLATFORM_PROCESS_H_
#define KAVELO_PLATFORM_PROCESS_H_

#include <string>
#include <vector>

namespace kavelo::platform {

// Splits a command line by the Windows C runtime rules: blanks and tabs
// separate arguments, double quotes group blanks and are removed, 2n
// backslashes before a quote become n and the quote is special, 2n+1 become n
// and a literal quote, "" inside a quoted run is a literal quote, other
// backslashes are literal.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Joins arguments into one command line that SplitCommandLine gives back.
std::string JoinCommandLine(const std::vector<std::string>& args);

constexpr int kWaitTimeout = 258;  // WAIT_TIMEOUT
constexpr int kWaitInfinite = -1;

// A started program.  Move-only; destroying it neither waits for nor kills
// the program (it only releases the handle).
class Process {
 public:
  Process() = default;
  ~Process();
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool IsValid() const { return pid_ > 0; }
  int pid() const { return pid_; }

  // Starts the program named by the first argument of commandLine.
  // Returns 0, or an errno value (ENOENT for a missing program, EACCES, ...,
  // EINVAL for an empty command line).  Standard input is /dev/null; standard
  // output and error are inherited unless quiet, then /dev/null.
  int Start(const std::string& commandLine, bool quiet = false);
  int Start(const std::vector<std::string>& args, bool quiet = false);

  // Waits for the program to end, at most timeoutMs milliseconds
  // (kWaitInfinite: no limit).  Returns 0 when it ended (*exitCode gets its
  // exit status, or 128 + signal), kWaitTimeout when it still runs, or an
  // errno value.  Safe to call again after a time-out.
  int Wait(int timeoutMs, int* exitCode = nullptr);

  // Kills the program's whole process group (SIGKILL).  Returns 0 or errno.
  int Terminate();

 private:
  void Release();
  int pid_ = -1;
  int pidfd_ = -1;
  bool reaped_ = false;
  int exitCode_ = 0;
};

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_PROCESS_H_
