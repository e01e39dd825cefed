#include "testsupport/event_log_capture.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "testsupport/files.h"

namespace kavelo::testsupport {

namespace {

// Reads the JSON string that starts at text[*i] (on its opening quote) and
// advances *i past its closing quote.
std::string JsonString(const std::string& text, size_t* i) {
  std::string out;
  for (++*i; *i < text.size() && text[*i] != '"'; ++*i) {
    char c = text[*i];
    if (c != '\\' || *i + 1 >= text.size()) {
      out.push_back(c);
      continue;
    }
    char e = text[++*i];
    switch (e) {
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'u': {
        unsigned code = static_cast<unsigned>(std::stoul(text.substr(*i + 1, 4), nullptr, 16));
        *i += 4;
        out.push_back(static_cast<char>(code));  // the tests use codes below 256
        break;
      }
      default:
        out.push_back(e);
    }
  }
  ++*i;
  return out;
}

// The value of a top-level field: a string unquoted, anything else as written.
std::string Field(const std::string& line, const std::string& name) {
  size_t at = line.find("\"" + name + "\":");
  if (at == std::string::npos) return "";
  size_t i = at + name.size() + 3;
  if (i < line.size() && line[i] == '"') return JsonString(line, &i);
  size_t end = line.find_first_of(",}", i);
  return line.substr(i, end - i);
}

}  // namespace

LoggedEvent ParseEventLine(const std::string& line) {
  LoggedEvent event;
  event.id = std::atoi(Field(line, "id").c_str());
  event.type = Field(line, "type");
  event.source = Field(line, "source");
  size_t at = line.find("\"strings\":[");
  if (at != std::string::npos) {
    size_t i = at + 11;
    while (i < line.size() && line[i] == '"') {
      event.strings.push_back(JsonString(line, &i));
      if (i < line.size() && line[i] == ',') ++i;
    }
  }
  return event;
}

std::vector<LoggedEvent> ReadEvents(const std::string& path) {
  std::vector<LoggedEvent> events;
  for (const std::string& line : ReadLines(path)) events.push_back(ParseEventLine(line));
  return events;
}

EventLogCapture::EventLogCapture(const std::string& prefix)
    : dir_(prefix), path_(dir_.File("events.jsonl")), env_("KAVELO_EVENTLOG", path_) {}

std::string EventLogCapture::All() const { return ReadFile(path_); }

std::vector<std::string> EventLogCapture::Lines() const { return ReadLines(path_); }

std::vector<LoggedEvent> EventLogCapture::Events() const { return ReadEvents(path_); }

std::vector<int> EventLogCapture::Ids() const {
  std::vector<int> ids;
  for (const LoggedEvent& event : Events()) ids.push_back(event.id);
  return ids;
}

bool EventLogCapture::WaitFor(int id, int timeoutMs) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::vector<int> ids = Ids();
    if (std::find(ids.begin(), ids.end(), id) != ids.end()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace kavelo::testsupport
