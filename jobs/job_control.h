// The service's control socket: a Unix stream socket (DefaultControlSocketPath,
// mode 0770) on which an operator's tool asks for one action per
// connection.  The request is one line, "ACTION NUMBER\n" with ACTION one of
// cancel, hold, release, retry; the reply is one line, "ok TEXT\n" or
// "error TEXT\n" ("error" also for a user the service refuses).
#ifndef KAVELO_JOBS_JOB_CONTROL_H_
#define KAVELO_JOBS_JOB_CONTROL_H_

#include <cstdint>
#include <string>

namespace kavelo::jobs {

constexpr size_t kControlLineLimit = 256;  // a longer request or reply is refused
constexpr int kControlTimeoutMs = 30000;   // the client's whole wait for its reply

// True for cancel, hold, release and retry.
bool IsControlAction(const std::string& action);
// "ACTION NUMBER\n".
std::string FormatControlRequest(const std::string& action, int64_t number);
// Reads a request line (without its newline); false for anything else.
bool ParseControlRequest(const std::string& line, std::string* action, int64_t* number);

enum class ControlOutcome { kDone, kRefused, kUnreachable };
// Connects to the socket at path, sends the request and reads the reply,
// all within kControlTimeoutMs.  *text: the reply's text, or why the
// service could not be reached.
ControlOutcome SendControlRequest(const std::string& path, const std::string& action,
                                  int64_t number, std::string* text);

}  // namespace kavelo::jobs

#endif  // KAVELO_JOBS_JOB_CONTROL_H_
