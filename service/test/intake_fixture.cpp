#include "service/test/intake_fixture.h"

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>

#include "protocol/intake_wire.h"

namespace kavelo::testing {

TempDir::TempDir() {
  char name[] = "/tmp/kavelo-intake-XXXXXX";
  if (mkdtemp(name) != nullptr) path_ = name;
}

TempDir::~TempDir() {
  for (const std::string& file : Files()) unlink((path_ + "/" + file).c_str());
  rmdir(path_.c_str());
}

std::vector<std::string> TempDir::Files() const {
  std::vector<std::string> names;
  DIR* dir = opendir(path_.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

EventLogFile::EventLogFile() {
  path_ = dir_.path() + "/events.jsonl";
  setenv("KAVELO_EVENTLOG", path_.c_str(), 1);
}

EventLogFile::~EventLogFile() { unsetenv("KAVELO_EVENTLOG"); }

namespace {

// Reads the JSON string that starts at text[*i] (on its opening quote).
std::string JsonString(const std::string& text, size_t* i) {
  std::string out;
  for (++*i; *i < text.size() && text[*i] != '"'; ++*i) {
    char c = text[*i];
    if (c != '\\') {
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

Event ParseEvent(const std::string& line) {
  Event event;
  size_t at = line.find("\"id\":");
  if (at != std::string::npos) event.id = std::atoi(line.c_str() + at + 5);
  at = line.find("\"type\":");
  if (at != std::string::npos) {
    size_t i = at + 7;
    event.type = JsonString(line, &i);
  }
  at = line.find("\"strings\":[");
  if (at != std::string::npos) {
    size_t i = at + 11;
    while (i < line.size() && line[i] == '"') {
      event.strings.push_back(JsonString(line, &i));
      if (i < line.size() && line[i] == ',') ++i;
    }
  }
  return event;
}

}  // namespace

std::vector<Event> EventLogFile::Events() const {
  std::vector<Event> events;
  std::ifstream in(path_, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) events.push_back(ParseEvent(line));
  return events;
}

std::vector<int> EventLogFile::Ids() const {
  std::vector<int> ids;
  for (const Event& event : Events()) ids.push_back(event.id);
  return ids;
}

bool EventLogFile::WaitFor(int id, int timeoutMs) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::vector<int> ids = Ids();
    if (std::find(ids.begin(), ids.end(), id) != ids.end()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string U16(uint16_t value) { return protocol::EncodeU16(value); }

std::string U32(uint32_t value) { return protocol::EncodeU32(value); }

std::string Counted(const std::string& text) {
  return U16(static_cast<uint16_t>(text.size())) + text;
}

std::string CountedFile(const std::string& data) { return protocol::EncodeCountedFile(data); }

std::string Magic() { return U32(protocol::kIntakeMagic); }

RawClient::~RawClient() { Close(); }

bool RawClient::Connect(int port, int timeoutMs) {
  Close();
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool RawClient::Send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t sent = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

std::string RawClient::Read(size_t n) {
  std::string out;
  char buffer[4096];
  while (out.size() < n) {
    size_t want = std::min(sizeof buffer, n - out.size());
    ssize_t got = recv(fd_, buffer, want, 0);
    if (got <= 0) break;
    out.append(buffer, static_cast<size_t>(got));
  }
  return out;
}

std::string RawClient::ReadToEnd() {
  std::string out;
  char buffer[4096];
  for (;;) {
    ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    out.append(buffer, static_cast<size_t>(got));
  }
  return out;
}

void RawClient::ShutdownWrite() { shutdown(fd_, SHUT_WR); }

void RawClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

LoopbackPair::LoopbackPair() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(listener_, 16);
  socklen_t length = sizeof address;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

LoopbackPair::~LoopbackPair() { close(listener_); }

int LoopbackPair::Connect(RawClient* client) {
  if (!client->Connect(port_)) return -1;
  return accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

}  // namespace kavelo::testing
