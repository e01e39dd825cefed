#include "platform/eventlog.h"

#include <fcntl.h>
#include <strings.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <set>

#include "platform/registry.h"
#include "platform/shared_file.h"

namespace kavelo::platform {
namespace {

struct MessageTable {
  const MessageEntry* entries;
  size_t count;
};

// Installed once at start and read by every reporting thread without a
// lock.  A table that is replaced stays allocated (in gInstalled), since a
// reporter may still be reading it.
std::atomic<const MessageTable*> gTable{nullptr};
std::mutex gInstallMutex;
std::vector<std::unique_ptr<MessageTable>> gInstalled;  // guarded by gInstallMutex

const char* FindMessage(uint32_t id) {
  const MessageTable* table = gTable.load(std::memory_order_acquire);
  if (table == nullptr) return nullptr;
  for (size_t i = 0; i < table->count; ++i) {
    if (table->entries[i].id == id) return table->entries[i].text;
  }
  return nullptr;
}

const char* TypeName(EventType type) {
  switch (type) {
    case EventType::kError:
      return "error";
    case EventType::kWarning:
      return "warning";
    default:
      return "information";
  }
}

int SyslogPriority(EventType type) {
  switch (type) {
    case EventType::kError:
      return LOG_ERR;
    case EventType::kWarning:
      return LOG_WARNING;
    default:
      return LOG_INFO;
  }
}

// Appends text as the body of a JSON string.  Texts are single-byte
// ISO 8859-1, so a byte of 0x80 and above is the code point of the same
// number, written as UTF-8; control characters, quotes and backslashes are
// escaped, so that the file stays valid JSON whatever a text holds.
void AppendJsonString(std::string* out, const std::string& text) {
  out->push_back('"');
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out->append("\\\"");
        break;
      case '\\':
        out->append("\\\\");
        break;
      case '\b':
        out->append("\\b");
        break;
      case '\f':
        out->append("\\f");
        break;
      case '\n':
        out->append("\\n");
        break;
      case '\r':
        out->append("\\r");
        break;
      case '\t':
        out->append("\\t");
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out->append(escaped);
        } else if (c >= 0x80) {
          out->push_back(static_cast<char>(0xC0 | (c >> 6)));
          out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
          out->push_back(static_cast<char>(c));
        }
    }
  }
  out->push_back('"');
}

// "2026-12-07T21:38:59.123Z": UTC with milliseconds.
std::string UtcTimestamp() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  char text[64];
  size_t n = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03ldZ", now.tv_nsec / 1000000L);
  return text;
}

std::string JsonLine(const std::string& source, EventType type, uint32_t eventId,
                     const std::vector<std::string>& strings, const std::string& message) {
  std::string line;
  line.reserve(128 + message.size());
  line.append("{\"time\":\"").append(UtcTimestamp()).append("\",\"source\":");
  AppendJsonString(&line, source);
  line.append(",\"type\":\"").append(TypeName(type)).append("\",\"id\":");
  line.append(std::to_string(eventId)).append(",\"strings\":[");
  for (size_t i = 0; i < strings.size(); ++i) {
    if (i > 0) line.push_back(',');
    AppendJsonString(&line, strings[i]);
  }
  line.append("],\"message\":");
  AppendJsonString(&line, message);
  line.append("}\n");
  return line;
}

// Appends the line with one write to a file opened O_APPEND: the kernel
// places each write at the end as a whole, so lines of concurrent threads
// and processes never interleave.
bool AppendLine(const char* path, const std::string& line) {
  int fd = OpenSharedFile(path, O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    // A short write happens only when the file system is full; the rest
    // then follows so that the line is not left cut in two.
    done += static_cast<size_t>(n);
  }
  close(fd);
  return done == line.size();
}

// openlog keeps the ident pointer and is process-wide, so the ident and the
// call that uses it are switched together under one lock.  Idents are kept
// for the life of the program because syslog may still refer to the last one.
std::mutex gSyslogMutex;
std::set<std::string>* gIdents = new std::set<std::string>;
const std::string* gCurrentIdent = nullptr;

void ToSyslog(const std::string& ident, EventType type, uint32_t eventId,
              const std::string& message) {
  std::lock_guard<std::mutex> lock(gSyslogMutex);
  if (gCurrentIdent == nullptr || *gCurrentIdent != ident) {
    gCurrentIdent = &*gIdents->insert(ident).first;
    openlog(gCurrentIdent->c_str(), LOG_PID, LOG_DAEMON);
  }
  syslog(LOG_DAEMON | SyslogPriority(type), "event %u: %s", eventId, message.c_str());
}

bool IsLocalServer(const std::string& server) {
  if (server.empty() || server == "." || server == "localhost") return true;
  std::string name = server;
  if (name.compare(0, 2, "\\\\") == 0) name.erase(0, 2);
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return false;
  return strcasecmp(name.c_str(), host) == 0;
}

}  // namespace

void SetMessageTable(const MessageEntry* entries, size_t count) {
  std::lock_guard<std::mutex> lock(gInstallMutex);
  for (const auto& table : gInstalled) {
    if (table->entries == entries && table->count == count) {
      gTable.store(table.get(), std::memory_order_release);
      return;
    }
  }
  gInstalled.push_back(std::make_unique<MessageTable>(MessageTable{entries, count}));
  gTable.store(gInstalled.back().get(), std::memory_order_release);
}

std::string FormatEventMessage(uint32_t id, const std::vector<std::string>& strings) {
  const char* text = FindMessage(id);
  if (text == nullptr) {
    std::string missing = "The description for event ID " + std::to_string(id) +
                          " cannot be found in the program's message table.";
    if (!strings.empty()) {
      missing += " The event carries:";
      for (const std::string& s : strings) missing += " \"" + s + "\"";
    }
    return missing;
  }
  // The table's line end goes before the insertion texts are placed, so
  // that a text's own line end stays.
  std::string pattern = text;
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, "\r\n") == 0) {
    pattern.resize(pattern.size() - 2);
  }
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' &&
        pattern[i + 1] <= '9') {
      size_t index = static_cast<size_t>(pattern[i + 1] - '1');
      if (index < strings.size()) {
        out += strings[index];
      } else {
        out.append(pattern, i, 2);  // no such insertion text: the marker stays visible
      }
      ++i;
    } else {
      out.push_back(pattern[i]);
    }
  }
  return out;
}

std::unique_ptr<EventSource> RegisterEventSource(const std::string& server,
                                                 const std::string& sourceName) {
  // Only the local machine has an event log here; a remote one is out of
  // reach as it is when its server cannot be contacted.
  if (sourceName.empty() || !IsLocalServer(server)) return nullptr;
  return std::make_unique<EventSource>(sourceName);
}

bool ReportEvent(EventSource* source, EventType type, uint16_t category, uint32_t eventId,
                 const std::vector<std::string>& strings) {
  (void)category;
  if (source == nullptr) return false;
  std::string message = FormatEventMessage(eventId, strings);
  ToSyslog(source->name(), type, eventId, message);
  const char* path = std::getenv("KAVELO_EVENTLOG");
  if (path != nullptr && *path != '\0') {
    // A file that cannot be written loses this copy only; syslog has it.
    AppendLine(path, JsonLine(source->name(), type, eventId, strings, message));
  }
  // syslog reports no failure: a message handed to it counts as written.
  return true;
}

namespace {

constexpr char kApplicationLogKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";

bool IsSingleKeyName(const std::string& name) {
  return !name.empty() && name.find('\\') == std::string::npos;
}

}  // namespace

std::string EventSourceKeyPath(const std::string& sourceName) {
  return std::string(kApplicationLogKey) + "\\" + sourceName;
}

EventSourceStatus AddEventSource(const std::string& programPath, const std::string& sourceName,
                                 uint32_t types) {
  EventSourceStatus status;
  if (!IsSingleKeyName(sourceName)) {
    status.key = kErrorInvalidName;
    return status;
  }
  RegKey key;
  status.key =
      RegCreateKey(Hive::kLocalMachine, EventSourceKeyPath(sourceName), KEY_ALL_ACCESS, &key);
  if (status.key != kErrorSuccess) return status;
  long message = RegSetValue(key, "EventMessageFile", REG_EXPAND_SZ, programPath.c_str(),
                             static_cast<uint32_t>(programPath.size() + 1));
  long typesWritten = RegSetDword(key, "TypesSupported", types);
  status.values = message != kErrorSuccess ? message : typesWritten;
  return status;
}

long RemoveEventSource(const std::string& sourceName) {
  if (!IsSingleKeyName(sourceName)) return kErrorInvalidName;
  RegKey application;
  long status = RegOpenKey(Hive::kLocalMachine, kApplicationLogKey, KEY_ALL_ACCESS, &application);
  if (status != kErrorSuccess) return status;
  return RegDeleteTree(application, sourceName);
}

}  // namespace kavelo::platform
