#include "service/test/brelvane_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include "platform/account.h"

extern char** environ;

namespace kavelo::testsupport {

namespace fs = std::filesystem;

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  int port = ntohs(address.sin_port);
  close(fd);
  return port;
}

namespace {

constexpr const char* kServiceKey = "SYSTEM\\CurrentControlSet\\Services\\Brelvane";

}  // namespace

BrelvaneWorld::BrelvaneWorld()
    : dir_("brelvane_test"),
      registryEnv_("KAVELO_REGISTRY_DIR", registryDir()),
      eventLogEnv_("KAVELO_EVENTLOG", eventLogPath()),
      spoolerEnv_("KAVELO_SPOOLER", "dir:" + spoolerDir()),
      unitDirEnv_("KAVELO_SYSTEMD_UNIT_DIR", unitDir()) {
  fs::create_directories(registryDir());
  fs::create_directories(spoolerDir() + "/TestPrinter");
  WriteFile(spoolerDir() + "/default", "TestPrinter");
  fs::create_directories(spoolDir());
  fs::create_directories(unitDir());
  WriteFile(printControl(),
            "#!/bin/sh\n"
            "echo \"start $*\" >> '" +
                printLog() +
                "'\n"
                "grep -E '^(Uid|Gid|Groups):' /proc/$$/status >> '" +
                printLog() +
                "'\n"
                "sleep \"${FAKE_PRINT_SECONDS:-0}\"\n"
                "echo end >> '" +
                printLog() + "'\n");
  chmod(printControl().c_str(), 0755);
}

std::vector<std::string> BrelvaneWorld::Environment(bool withNotify) const {
  GiveToAccount();  // what the test made since is the account's too
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    std::string pair = *entry;
    if (pair.rfind("NOTIFY_SOCKET=", 0) == 0) continue;
    environment.push_back(pair);
  }
  if (withNotify) environment.push_back("NOTIFY_SOCKET=" + notifySocket());
  return environment;
}

void BrelvaneWorld::InstallConfigured(int port, const std::string& account) {
  RunBrelvane(*this, {"-RegServer"});
  if (!account.empty()) WriteTextValue(kServiceKey, "ObjectName", account);
  std::string parameters = std::string(kServiceKey) + "\\Parameters";
  WriteDwordValue(parameters, "Port", static_cast<uint32_t>(port));
  WriteTextValue(parameters, "PrinterApplication", printControl());
  WriteTextValue(parameters, "SpoolerDirectory", spoolDir());
  WriteDwordValue(parameters, "UseDefaultPrinter", 1);
  // A service started by root runs as its account, which must reach this
  // world: it is the test's own, so it becomes the account's.
  platform::Account owner;
  if (platform::RunsAsRoot() && platform::LookUpAccount(account, &owner) && owner.uid != 0) {
    ownerUid_ = static_cast<int64_t>(owner.uid);
    ownerGid_ = static_cast<int64_t>(owner.gid);
    GiveToAccount();
  }
}

void BrelvaneWorld::GiveToAccount() const {
  if (ownerUid_ < 0) return;
  std::error_code ignored;
  for (fs::recursive_directory_iterator it(root_, ignored), end; it != end; it.increment(ignored)) {
    lchown(it->path().c_str(), static_cast<uid_t>(ownerUid_), static_cast<gid_t>(ownerGid_));
  }
  lchown(root_.c_str(), static_cast<uid_t>(ownerUid_), static_cast<gid_t>(ownerGid_));
}

std::vector<LoggedEvent> BrelvaneWorld::Events() const { return ReadEvents(eventLogPath()); }

std::vector<int> BrelvaneWorld::EventIds() const {
  std::vector<int> ids;
  for (const LoggedEvent& event : Events()) ids.push_back(event.id);
  return ids;
}

Child::~Child() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (outFd_ >= 0) close(outFd_);
}

bool Child::Start(const std::string& program, const std::vector<std::string>& args,
                  const std::vector<std::string>& environment) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  // The child starts with the stop signals unblocked and at their defaults,
  // as a service manager starts a service.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGINT);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& pair : environment) envp.push_back(const_cast<char*>(pair.c_str()));
  envp.push_back(nullptr);
  int result = posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(pipeFds[1]);
  outFd_ = pipeFds[0];
  fcntl(outFd_, F_SETFL, O_NONBLOCK);
  if (result != 0) pid_ = -1;
  return result == 0;
}

void Child::ReadAvailable() {
  if (outFd_ < 0) return;
  char buffer[4096];
  ssize_t n;
  while ((n = read(outFd_, buffer, sizeof buffer)) > 0) output_.append(buffer, n);
}

bool Child::Wait(int timeoutMs, int* exitCode) {
  if (pid_ <= 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    ReadAvailable();
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      ReadAvailable();
      if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    pollfd fd{outFd_, POLLIN, 0};
    poll(&fd, 1, 20);
  }
}

void Child::Signal(int signal) {
  if (pid_ > 0 && !reaped_) kill(pid_, signal);
}

const std::string& Child::output() {
  ReadAvailable();
  return output_;
}

RunResult RunBrelvane(const BrelvaneWorld& world, const std::vector<std::string>& args) {
  RunResult result;
  std::vector<std::string> argv = {"Brelvane"};
  argv.insert(argv.end(), args.begin(), args.end());
  Child child;
  if (!child.Start(BinPath("Brelvane"), argv, world.Environment(false))) return result;
  if (!child.Wait(20000, &result.exitCode)) result.exitCode = -2;
  result.output = child.output();
  return result;
}

std::string BinPath(const std::string& program) {
  const char* dir = getenv("KAVELO_BIN_DIR");
  return std::string(dir && *dir ? dir : KAVELO_BIN_DIR) + "/" + program;
}

NotifyReceiver::NotifyReceiver(const std::string& path) {
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  unlink(path.c_str());
  bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  // As systemd's own socket: any user may send, the service's account too.
  chmod(path.c_str(), 0666);
}

NotifyReceiver::~NotifyReceiver() {
  if (fd_ >= 0) close(fd_);
}

std::string NotifyReceiver::Next(int timeoutMs) {
  pollfd fd{fd_, POLLIN, 0};
  if (poll(&fd, 1, timeoutMs) <= 0) return "";
  char buffer[1024];
  ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
  return n <= 0 ? "" : std::string(buffer, n);
}

}  // namespace kavelo::testsupport
