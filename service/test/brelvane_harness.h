// Runs the real Brelvane program as a child process against a private
// registry folder, event-log file and folder spooler, and reads back what it
// left there.
#ifndef KAVELO_SERVICE_TEST_BRELVANE_HARNESS_H_
#define KAVELO_SERVICE_TEST_BRELVANE_HARNESS_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

#include "testsupport/event_log_capture.h"
#include "testsupport/files.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"
#include "testsupport/temp_registry.h"
#include "testsupport/wait.h"

namespace kavelo::testsupport {

// A TCP port on 127.0.0.1 that was free a moment ago, for a service under test.
int FreePort();

// A private world for one test: a temporary folder holding the registry,
// the event log, a folder spooler with one default printer, a spool
// directory and a fake print control.  The test process itself uses the
// same registry (KAVELO_REGISTRY_DIR is set in it too).
class BrelvaneWorld {
 public:
  BrelvaneWorld();
  BrelvaneWorld(const BrelvaneWorld&) = delete;
  BrelvaneWorld& operator=(const BrelvaneWorld&) = delete;

  const std::string& root() const { return root_; }
  std::string registryDir() const { return root_ + "/registry"; }
  std::string eventLogPath() const { return root_ + "/events.jsonl"; }
  std::string spoolerDir() const { return root_ + "/printers"; }
  std::string spoolDir() const { return root_ + "/spool"; }
  std::string unitDir() const { return root_ + "/units"; }
  // The fake print control: records its arguments in printLog() ("start
  // ARGS"), then the Uid, Gid and Groups lines of its /proc status, sleeps
  // FAKE_PRINT_SECONDS, then writes "end".
  std::string printControl() const { return root_ + "/fake-print-control"; }
  std::string printLog() const { return root_ + "/print.log"; }
  std::string notifySocket() const { return root_ + "/notify"; }

  // The environment the child gets: the test's own plus the KAVELO_*
  // settings of this world (and NOTIFY_SOCKET when given).  After
  // InstallConfigured by root it first gives the world to the account
  // again, so that what a test made since (a spool folder, a job's files)
  // is reachable by a service that switches to it; modes stay as they are.
  std::vector<std::string> Environment(bool withNotify) const;

  // Installs the service with -RegServer and gives it an account and the
  // parameters of this world (printer folder, spool folder, fake print
  // control, UseDefaultPrinter 1, the port).  Run by root, it makes the
  // world's folder and everything in it the account's.
  void InstallConfigured(int port, const std::string& account);

  // Event ids reported so far, in order.
  std::vector<LoggedEvent> Events() const;
  std::vector<int> EventIds() const;

 private:
  // Makes the world the account's, once InstallConfigured named one.
  void GiveToAccount() const;

  TempDir dir_;
  const std::string root_ = dir_.path();
  // The test reads and writes the same registry, event log, spooler and
  // unit folder as the child.
  ScopedEnv registryEnv_, eventLogEnv_, spoolerEnv_, unitDirEnv_;
  int64_t ownerUid_ = -1;  // the account's ids when root installed the world
  int64_t ownerGid_ = -1;
};

// A child process with its standard output captured.
class Child {
 public:
  Child() = default;
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Starts program with args (args[0] is the program name) and environment.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::vector<std::string>& environment);
  // Waits at most timeoutMs; true when it ended (*exitCode: its status, or
  // 128 + signal).  Reads the output meanwhile.
  bool Wait(int timeoutMs, int* exitCode);
  void Signal(int signal);
  pid_t pid() const { return pid_; }
  // Everything the child wrote to standard output so far.
  const std::string& output();

 private:
  void ReadAvailable();
  pid_t pid_ = -1;
  int outFd_ = -1;
  std::string output_;
  bool reaped_ = false;
};

// Runs Brelvane with the arguments to its end (at most 20 seconds).
struct RunResult {
  int exitCode = -1;
  std::string output;
};
RunResult RunBrelvane(const BrelvaneWorld& world, const std::vector<std::string>& args);

// The path of a built program.
std::string BinPath(const std::string& program);

// A unix datagram socket that receives sd_notify messages.
class NotifyReceiver {
 public:
  explicit NotifyReceiver(const std::string& path);
  ~NotifyReceiver();
  // The next message, waiting at most timeoutMs; "" when none came.
  std::string Next(int timeoutMs);

 private:
  int fd_ = -1;
};

}  // namespace kavelo::testsupport

#endif  // KAVELO_SERVICE_TEST_BRELVANE_HARNESS_H_
