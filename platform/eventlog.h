// The event log: numbered messages of a program, reported under an event
// source to syslog and, when KAVELO_EVENTLOG names a file, appended to it as
// one JSON line per event:
//   {"time":"2026-12-07T21:38:59.123Z","source":"Brelvane","type":"error",
//    "id":25,"strings":[],"message":"The Brelvane listener ..."}
// The message text comes from the reporting program's own compiled-in
// message table ("%1" replaced by the first insertion string).
// A source's registration in the registry (its message file and event
// types) is written here too, for every program that registers one.
// All functions are thread safe.
#ifndef KAVELO_PLATFORM_EVENTLOG_H_
#define KAVELO_PLATFORM_EVENTLOG_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

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

// Error, warning and information: the event types a source registers as
// supported (TypesSupported).
constexpr uint32_t kEventTypesSupported = 7;

// The key path of a source's registration below HKEY_LOCAL_MACHINE:
// SYSTEM\CurrentControlSet\Services\EventLog\Application\<sourceName>.
std::string EventSourceKeyPath(const std::string& sourceName);

// What AddEventSource did: the registry status of creating or opening the
// source's key, and that of writing its values (the first write that
// failed; kErrorSuccess when the key failed, as nothing was written then).
struct EventSourceStatus {
  long key = kErrorSuccess;
  long values = kErrorSuccess;
  bool ok() const { return key == kErrorSuccess && values == kErrorSuccess; }
};

// Registers an event source in the registry: creates or opens its key and
// writes EventMessageFile (REG_EXPAND_SZ: programPath, the program whose
// message table gives the texts, with its terminating NUL) and
// TypesSupported (REG_DWORD: types); both writes are tried.  A source name
// that is empty or holds "\" names no single key: key is
// kErrorInvalidName and nothing is written.  What a failure means is the
// caller's choice.
EventSourceStatus AddEventSource(const std::string& programPath, const std::string& sourceName,
                                 uint32_t types);

// Deletes a source's registration; kErrorSuccess, else the registry status
// (kErrorFileNotFound also when the source was not registered,
// kErrorInvalidName for a name that is no single key).
long RemoveEventSource(const std::string& sourceName);

class EventSource {
 public:
  explicit EventSource(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_EVENTLOG_H_
