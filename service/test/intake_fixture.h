// Shared helpers of the intake tests: a temporary folder, the event-log file
// read back as events, and a raw loopback client that speaks bytes.
#ifndef KAVELO_SERVICE_TEST_INTAKE_FIXTURE_H_
#define KAVELO_SERVICE_TEST_INTAKE_FIXTURE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace kavelo::testing {

// A fresh folder below /tmp, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // The names of the files in the folder, sorted.
  std::vector<std::string> Files() const;

 private:
  std::string path_;
};

struct Event {
  int id = 0;
  std::string type;
  std::vector<std::string> strings;
};

// Points KAVELO_EVENTLOG at a file of its own for its lifetime.
class EventLogFile {
 public:
  EventLogFile();
  ~EventLogFile();
  std::vector<Event> Events() const;
  // The ids of the events in order.
  std::vector<int> Ids() const;
  // Waits up to timeoutMs until an event of id has been written.
  bool WaitFor(int id, int timeoutMs) const;
  const std::string& path() const { return path_; }

 private:
  TempDir dir_;
  std::string path_;
};

// Wire pieces.
std::string U16(uint16_t value);
std::string U32(uint32_t value);
std::string Counted(const std::string& text);      // 2-byte length + text
std::string CountedFile(const std::string& data);  // 4-byte length + data
std::string Magic();

// A blocking loopback client; every read waits at most its time-out.
class RawClient {
 public:
  RawClient() = default;
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connect(int port, int timeoutMs = 10000);
  bool Send(const std::string& bytes);
  // Reads exactly n bytes; what arrived when it fails.
  std::string Read(size_t n);
  // Reads until the service closes (or the time-out): everything it sent.
  std::string ReadToEnd();
  void ShutdownWrite();
  void Close();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// A loopback listening socket on an ephemeral port, for tests that need a
// connected pair: Accept gives the service side.
class LoopbackPair {
 public:
  LoopbackPair();
  ~LoopbackPair();
  // Connects client to the listener and returns the accepted socket.
  int Connect(RawClient* client);
  int listener() const { return listener_; }
  int port() const { return port_; }

 private:
  int listener_ = -1;
  int port_ = 0;
};

std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace kavelo::testing

#endif  // KAVELO_SERVICE_TEST_INTAKE_FIXTURE_H_
