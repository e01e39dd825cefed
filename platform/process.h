// Processes: starting a program from a command line, waiting for it,
// terminating it.  A program is never started through a shell: the command
// line is split into arguments by the Windows C runtime rules, the first is
// the program's path, and posix_spawn starts it in a process group of its
// own with every other descriptor closed (close-on-exec).
#ifndef KAVELO_PLATFORM_PROCESS_H_
#define KAVELO_PLATFORM_PROCESS_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kavelo::platform {

// Splits a command line by the Windows C runtime rules: blanks and tabs
// separate arguments, double quotes group blanks and are removed, 2n
// backslashes before a quote become n and the quote is special, 2n+1 become n
// and a literal quote, "" inside a quoted run is a literal quote, other
// backslashes are literal.  The first argument, the program's path, is read
// as the runtime reads a program name: quotes group and are removed, every
// backslash is literal.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Joins arguments into one command line that SplitCommandLine gives back.
// (A double quote in the first argument cannot be represented; no path
// that the system starts contains one.)
std::string JoinCommandLine(const std::vector<std::string>& args);

// Resource limits for a started program, each set as its soft and hard limit
// before the program runs its first instruction, so that neither the
// program nor a library in it can raise them; its children inherit them.
// 0 leaves a limit as the caller's.
struct ResourceLimits {
  uint64_t addressSpaceBytes = 0;  // RLIMIT_AS: allocations beyond it fail
  uint64_t fileSizeBytes = 0;      // RLIMIT_FSIZE: no file grows beyond it
  // The program is killed (SIGKILL) when the thread that started it ends,
  // so that a caller that is killed (a stopped or cancelled job) takes its
  // helper along, although the helper has a process group of its own.
  bool endsWithStarter = false;
  // A descriptor the program gets as its standard input instead of
  // /dev/null (-1: /dev/null).  The caller keeps and closes its own.
  int standardInput = -1;
};

constexpr int kWaitTimeout = 258;  // WAIT_TIMEOUT
constexpr int kWaitInfinite = -1;

// A started program.  Move-only; destroying it neither waits for nor kills
// the program (it only releases the handle).  Wait and Terminate may be
// called from different threads at once (a watcher may terminate a program
// that another thread waits for); Start and moves need the caller's
// exclusive use.
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
  // The program sees every argument, the first included, as its argv; a
  // path without "/" is looked for along PATH.  A Process that held a
  // program before forgets it.
  int Start(const std::string& commandLine, bool quiet = false);
  int Start(const std::vector<std::string>& args, bool quiet = false);
  // The same inside limits (started by vfork, the limits and exec, since
  // posix_spawn cannot set limits; it costs what posix_spawn costs).
  int Start(const std::vector<std::string>& args, bool quiet, const ResourceLimits& limits);
  int Start(const std::string& commandLine, bool quiet, const ResourceLimits& limits);
  // The same with extra "NAME=value" entries in the program's environment
  // (an entry replaces the caller's variable of that name).
  int Start(const std::vector<std::string>& args, bool quiet, const ResourceLimits& limits,
            const std::vector<std::string>& extraEnvironment);

  // Waits for the program to end, at most timeoutMs milliseconds
  // (kWaitInfinite: no limit).  Returns 0 when it ended (*exitCode gets its
  // exit status, or 128 + signal), kWaitTimeout when it still runs, or an
  // errno value.  Safe to call again after a time-out.
  int Wait(int timeoutMs, int* exitCode = nullptr);

  // Kills the program's whole process group (SIGKILL).  Returns 0 or errno
  // (ESRCH once the program has ended and been waited for: its process
  // group id may then belong to someone else).
  int Terminate();

 private:
  void Release();
  // Takes the started program pid as this object's; takes mutex_.
  void Adopt(int pid);
  // Reaps the ended program; mutex_ held.  Returns 0 or errno.
  int ReapLocked(bool block);
  int pid_ = -1;
  int pidfd_ = -1;
  mutable std::mutex mutex_;
  bool reaped_ = false;  // guarded by mutex_
  int exitCode_ = 0;     // guarded by mutex_
};

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_PROCESS_H_
