// The event log: numbered messages of a program, reported under an event
// source to syslog and, when KAVELO_EVENTLOG names a file, appended to it as
// one JSON line per event:
//   {"time":"2026-12-07T21:38:59.123Z","source":"Brelvane","type":"error",
//    "id":25,"strings":[],"message":"The Brelvane listener ..."}
// The message text comes from the reporting program's own compiled-in
// message table ("%1" replaced by the first insertion string).
// All functions are thread safe.
#ifndef KAVELO_PLATFORM_EVENTLOG_H_
#define KAVELO_PLATFORM_EVENTLOG_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kavelo::platform {

enum class EventType : uint16_t {
  kError = 1,
  kWarning = 2,
  kInformation = 4,
};

struct MessageEntry {
  uint32_t id;
  const char* text;  // as in the message table, with its trailing "\r\n"
};

// Installs the program's message table; the table must live as long as the
// program (a static array).  Call once at start, before any report.
void SetMessageTable(const MessageEntry* entries, size_t count);

// Formats message id with its insertion strings as the table gives it:
// "%1".."%9" replaced, the trailing CR LF dropped.  An id that is not in the
// table gives a text that says so and names the id.
std::string FormatEventMessage(uint32_t id, const std::vector<std::string>& strings);

class EventSource;

// Registers an event source; as on Windows a handle is given whether or not
// the source is known.  server: empty for the local machine.  Returns null
// only for an empty source name.
std::unique_ptr<EventSource> RegisterEventSource(const std::string& server,
                                                 const std::string& sourceName);

// Reports one event under the source.  Returns true when it was written to at
// least one destination.
bool ReportEvent(EventSource* source, EventType type, uint16_t category, uint32_t eventId,
                 const std::vector<std::string>& strings);

class EventSource {
 public:
  explicit EventSource(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_EVENTLOG_H_
