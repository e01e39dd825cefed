// A program started ahead of the work it will do: it loads while nothing
// waits for it, then blocks reading its standard input until the caller
// hands it its arguments and environment entries (a "standby request"), or
// ends without doing anything at the end of that input.  What the start of
// a large program costs (loading and linking its libraries) is then paid
// before the work comes, not after.
#ifndef KAVELO_PLATFORM_STANDBY_PROCESS_H_
#define KAVELO_PLATFORM_STANDBY_PROCESS_H_

#include <cstddef>
#include <string>
#include <vector>

#include "platform/process.h"

namespace kavelo::platform {

// The switch that starts a program that knows standby requests in standby:
// `PROGRAM /standby`.
constexpr char kStandbySwitch[] = "/standby";
// The largest request a program in standby reads.
constexpr size_t kMaxStandbyRequest = 65536;

// A request: the argument count in decimal, then every argument, then
// every "NAME=value" environment entry, each ended by a NUL.  Empty when
// it would be larger than kMaxStandbyRequest, or an entry has no name.
std::string FormatStandbyRequest(const std::vector<std::string>& args,
                                 const std::vector<std::string>& environment);
// False for anything FormatStandbyRequest cannot give (a missing count or
// field end, no argument, an entry without "NAME=", an oversized text).
bool ParseStandbyRequest(const std::string& text, std::vector<std::string>* args,
                         std::vector<std::string>* environment);
// The program's side: reads the request from standard input (at most
// kMaxStandbyRequest bytes) and puts /dev/null on standard input.  Returns
// 1 with the arguments (the environment entries are set in this process),
// 0 when the input ended empty (the caller let the program go), -1 when
// the request cannot be read or parsed.
int ReceiveStandbyRequest(std::vector<std::string>* args);

// The caller's side: at most one program waiting in standby.  Not thread
// safe; one thread uses it.
class StandbyProcess {
 public:
  StandbyProcess() = default;
  ~StandbyProcess() { End(); }
  StandbyProcess(const StandbyProcess&) = delete;
  StandbyProcess& operator=(const StandbyProcess&) = delete;

  // Starts `program /standby` inside the limits (standard input excepted),
  // after ending one that waits.  Returns 0 or the start's errno value.
  int Prepare(const std::string& program, const ResourceLimits& limits);
  // Hands the work to the waiting program when it is args[0] started
  // inside the same limits and still runs: true, and *process then holds
  // it.  Otherwise false, and a waiting program is ended; the caller starts
  // the work the usual way.
  bool Hand(const std::vector<std::string>& args, const ResourceLimits& limits,
            const std::vector<std::string>& environment, Process* process);
  // A waiting program is let go (its input ends) and waited for, killed
  // when it has not ended within waitMs.
  void End(int waitMs = 1000);
  bool waiting() const { return process_.IsValid(); }
  int pid() const { return process_.pid(); }

 private:
  Process process_;
  int request_ = -1;  // the caller's end of the program's standard input
  std::string program_;
  ResourceLimits limits_;
};

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_STANDBY_PROCESS_H_
