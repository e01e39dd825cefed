// The event log of a test: KAVELO_EVENTLOG pointed at a file of its own and
// that file read back as events.
#ifndef KAVELO_TESTSUPPORT_EVENT_LOG_CAPTURE_H_
#define KAVELO_TESTSUPPORT_EVENT_LOG_CAPTURE_H_

#include <string>
#include <vector>

#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"

namespace kavelo::testsupport {

// One line of the event-log file (platform/eventlog.h writes them).
struct LoggedEvent {
  int id = 0;
  std::string type;
  std::string source;
  std::vector<std::string> strings;
};

// Parses one event-log line; fields it does not hold stay empty.
LoggedEvent ParseEventLine(const std::string& line);
// Every event of an event-log file, in order.
std::vector<LoggedEvent> ReadEvents(const std::string& path);

// Points KAVELO_EVENTLOG at events.jsonl in a temporary folder of its own
// for its lifetime (the variable's earlier value comes back afterwards).
class EventLogCapture {
 public:
  explicit EventLogCapture(const std::string& prefix = "kavelo-eventlog");
  EventLogCapture(const EventLogCapture&) = delete;
  EventLogCapture& operator=(const EventLogCapture&) = delete;

  const std::string& dir() const { return dir_.path(); }
  const std::string& path() const { return path_; }
  // The whole file as written.
  std::string All() const;
  // The raw lines.
  std::vector<std::string> Lines() const;
  std::vector<LoggedEvent> Events() const;
  // The ids of the events in order.
  std::vector<int> Ids() const;
  // Waits up to timeoutMs until an event of id has been written.
  bool WaitFor(int id, int timeoutMs) const;

 private:
  TempDir dir_;
  std::string path_;
  ScopedEnv env_;
};

}  // namespace kavelo::testsupport

#endif  // KAVELO_TESTSUPPORT_EVENT_LOG_CAPTURE_H_
