#include "platform/scm.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include "platform/registry.h"
#include "testsupport/temp_registry.h"

namespace kavelo::platform {
namespace {

constexpr const char* kServicesPath = "SYSTEM\\CurrentControlSet\\Services";

class ScmTest : public ::testing::Test {
 protected:
  std::string Value(const std::string& name, const std::string& valueName, uint32_t* type) {
    RegKey key;
    if (RegOpenKey(Hive::kLocalMachine, std::string(kServicesPath) + "\\" + name, KEY_READ, &key) !=
        kErrorSuccess) {
      return "<no key>";
    }
    std::vector<uint8_t> data;
    if (RegQueryValue(key, valueName, type, &data) != kErrorSuccess) return "<no value>";
    return std::string(data.begin(), data.end());
  }

  testsupport::TempRegistry registry_;
  const std::string dir_ = registry_.dir();
};

TEST_F(ScmTest, CreateWritesTheServiceKeyAsTheDatabaseHoldsIt) {
  ScManager manager;
  ASSERT_EQ(OpenSCManager(kScManagerAllAccess, &manager), kScmOk);
  ServiceHandle service;
  ASSERT_EQ(CreateService(manager, "Brelvane", "KAVELO - Brelvane", kServiceAllAccess,
                          kServiceWin32OwnProcess, kServiceDemandStart, kServiceErrorNormal,
                          "/opt/kavelo/Brelvane", {}, "", &service),
            kScmOk);
  struct Expected {
    const char* name;
    uint32_t type;
    std::string data;
  } rows[] = {
      {"Type", REG_DWORD, std::string("\x10\0\0\0", 4)},
      {"Start", REG_DWORD, std::string("\x03\0\0\0", 4)},
      {"ErrorControl", REG_DWORD, std::string("\x01\0\0\0", 4)},
      {"ImagePath", REG_EXPAND_SZ, std::string("/opt/kavelo/Brelvane\0", 21)},
      {"DisplayName", REG_SZ, std::string("KAVELO - Brelvane\0", 18)},
      {"ObjectName", REG_SZ, std::string("LocalSystem\0", 12)},
  };
  for (const Expected& row : rows) {
    uint32_t type = 0;
    EXPECT_EQ(Value("Brelvane", row.name, &type), row.data) << row.name;
    EXPECT_EQ(type, row.type) << row.name;
  }
  uint32_t type = 0;
  EXPECT_EQ(Value("Brelvane", "DependOnService", &type), "<no value>");

  // A second creation is refused, in any letter case of the name.
  ServiceHandle again;
  EXPECT_EQ(CreateService(manager, "BRELVANE", "", kServiceAllAccess, kServiceWin32OwnProcess,
                          kServiceDemandStart, kServiceErrorNormal, "/x", {}, "", &again),
            kScmServiceExists);
  EXPECT_EQ(LastError(), kScmServiceExists);
  EXPECT_FALSE(again.IsOpen());
}

TEST_F(ScmTest, KeyWithoutImagePathIsNotAServiceUntilCreated) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, std::string(kServicesPath) + "\\Brelvane\\Parameters",
                         KEY_ALL_ACCESS, &key),
            kErrorSuccess);
  ScManager manager;
  ASSERT_EQ(OpenSCManager(kScManagerAllAccess, &manager), kScmOk);
  ServiceHandle service;
  EXPECT_EQ(OpenService(manager, "Brelvane", kServiceQueryConfig, &service),
            kScmServiceDoesNotExist);
  ASSERT_EQ(CreateService(manager, "Brelvane", "", kServiceAllAccess, kServiceWin32OwnProcess,
                          kServiceDemandStart, kServiceErrorNormal, "/bin/true", {"RPCSS"},
                          "printsvc", &service),
            kScmOk);
  ServiceConfig config;
  ASSERT_EQ(QueryServiceConfig(service, &config), kScmOk);
  EXPECT_EQ(config.displayName, "Brelvane");  // no display name: the service name
  EXPECT_EQ(config.serviceStartName, "printsvc");
  EXPECT_EQ(config.dependencies, std::vector<std::string>{"RPCSS"});
  EXPECT_EQ(RegOpenKey(Hive::kLocalMachine, std::string(kServicesPath) + "\\Brelvane\\Parameters",
                       KEY_READ, &key),
            kErrorSuccess);
}

TEST_F(ScmTest, ChangeQueryAndDelete) {
  ScManager manager;
  ASSERT_EQ(OpenSCManager(kScManagerAllAccess, &manager), kScmOk);
  ServiceHandle service;
  ASSERT_EQ(CreateService(manager, "Svc", "Shown", kServiceAllAccess, kServiceWin32OwnProcess,
                          kServiceDemandStart, kServiceErrorNormal, "/bin/true", {"A", "B"}, "",
                          &service),
            kScmOk);
  uint32_t type = 0;
  EXPECT_EQ(Value("Svc", "DependOnService", &type), std::string("A\0B\0\0", 5));
  EXPECT_EQ(type, REG_MULTI_SZ);

  // Only what is given changes.
  std::vector<std::string> deps = {"C"};
  std::string account = "printsvc";
  ASSERT_EQ(ChangeServiceConfig(service, kServiceNoChange, kServiceAutoStart, kServiceNoChange,
                                nullptr, &deps, &account, nullptr),
            kScmOk);
  ServiceConfig config;
  ASSERT_EQ(QueryServiceConfig(service, &config), kScmOk);
  EXPECT_EQ(config.serviceType, kServiceWin32OwnProcess);
  EXPECT_EQ(config.startType, kServiceAutoStart);
  EXPECT_EQ(config.errorControl, kServiceErrorNormal);
  EXPECT_EQ(config.binaryPathName, "/bin/true");
  EXPECT_EQ(config.dependencies, std::vector<std::string>{"C"});
  EXPECT_EQ(config.serviceStartName, "printsvc");
  EXPECT_EQ(config.displayName, "Shown");

  // An empty list removes every dependency.
  deps.clear();
  ASSERT_EQ(ChangeServiceConfig(service, kServiceNoChange, kServiceNoChange, kServiceNoChange,
                                nullptr, &deps, nullptr, nullptr),
            kScmOk);
  EXPECT_EQ(Value("Svc", "DependOnService", &type), "<no value>");

  // Rights are those the handle was opened with.
  ServiceHandle queryOnly;
  ASSERT_EQ(OpenService(manager, "svc", kServiceQueryConfig, &queryOnly), kScmOk);
  EXPECT_EQ(DeleteService(queryOnly), kScmAccessDenied);
  EXPECT_EQ(ChangeServiceConfig(queryOnly, kServiceDisabled, kServiceNoChange, kServiceNoChange,
                                nullptr, nullptr, nullptr, nullptr),
            kScmAccessDenied);

  // Deleting removes the key with its subkeys.
  RegKey sub;
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, std::string(kServicesPath) + "\\Svc\\PrintQueue",
                         KEY_ALL_ACCESS, &sub),
            kErrorSuccess);
  ServiceHandle deletable;
  ASSERT_EQ(OpenService(manager, "Svc", kServiceDelete, &deletable), kScmOk);
  ASSERT_EQ(DeleteService(deletable), kScmOk);
  EXPECT_EQ(Value("Svc", "ImagePath", &type), "<no key>");
  EXPECT_EQ(QueryServiceConfig(service, &config), kScmServiceDoesNotExist);
  EXPECT_EQ(OpenService(manager, "Svc", kServiceQueryConfig, &queryOnly), kScmServiceDoesNotExist);
  EXPECT_EQ(LastError(), kScmServiceDoesNotExist);
}

TEST_F(ScmTest, BadNamesAndClosedHandles) {
  ScManager closed;
  ServiceHandle service;
  EXPECT_EQ(OpenService(closed, "Brelvane", kServiceQueryConfig, &service), kScmInvalidHandle);
  ScManager manager;
  ASSERT_EQ(OpenSCManager(kScManagerAllAccess, &manager), kScmOk);
  for (const char* name : {"", "a\\b", "a/b"}) {
    EXPECT_EQ(
        CreateService(manager, name, "", kServiceAllAccess, kServiceWin32OwnProcess,
                      kServiceDemandStart, kServiceErrorNormal, "/bin/true", {}, "", &service),
        kScmInvalidName)
        << name;
  }
  ServiceConfig config;
  EXPECT_EQ(QueryServiceConfig(service, &config), kScmInvalidHandle);

  // A manager opened to connect only cannot create.
  ScManager reader;
  ASSERT_EQ(OpenSCManager(kScManagerConnect, &reader), kScmOk);
  EXPECT_EQ(CreateService(reader, "X", "", kServiceAllAccess, kServiceWin32OwnProcess,
                          kServiceDemandStart, kServiceErrorNormal, "/bin/true", {}, "", &service),
            kScmAccessDenied);
}

TEST_F(ScmTest, DatabaseLockIsExclusiveUntilReleased) {
  ScManager manager;
  ASSERT_EQ(OpenSCManager(kScManagerAllAccess, &manager), kScmOk);
  ScLock first;
  ASSERT_EQ(LockServiceDatabase(manager, &first), kScmOk);
  EXPECT_TRUE(first.IsHeld());
  ScLock second;
  EXPECT_EQ(LockServiceDatabase(manager, &second), kScmDatabaseLocked);
  EXPECT_FALSE(second.IsHeld());

  // Another process is refused as well.
  pid_t child = fork();
  if (child == 0) {
    ScManager m;
    ScLock l;
    _exit(OpenSCManager(kScManagerAllAccess, &m) == kScmOk &&
                  LockServiceDatabase(m, &l) == kScmDatabaseLocked
              ? 0
              : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0);

  EXPECT_EQ(UnlockServiceDatabase(&first), kScmOk);
  EXPECT_EQ(UnlockServiceDatabase(&first), kScmInvalidHandle);
  EXPECT_EQ(LockServiceDatabase(manager, &second), kScmOk);
}

TEST(ScmNotifyTest, TextPerState) {
  struct Row {
    uint32_t state;
    uint32_t waitHint;
    const char* text;
  } rows[] = {
      {kServiceStartPending, 30000, "STATUS=Starting\nEXTEND_TIMEOUT_USEC=30000000"},
      {kServiceStartPending, 90000, "STATUS=Starting\nEXTEND_TIMEOUT_USEC=90000000"},
      {kServiceStartPending, 0, "STATUS=Starting"},
      {kServiceRunning, 0, "READY=1"},
      {kServiceStopPending, 4294967295u, "STOPPING=1\nEXTEND_TIMEOUT_USEC=4294967295000"},
      {kServiceStopped, 0, "STATUS=Stopped"},
      {7, 0, ""},  // paused: the service never reports it
  };
  for (const Row& row : rows) {
    ServiceStatus status;
    status.currentState = row.state;
    status.waitHint = row.waitHint;
    EXPECT_EQ(NotifyText(status), row.text) << row.state << " " << row.waitHint;
  }
}

// Receives what sd_notify sends on a socket the test binds.
class NotifyListener {
 public:
  explicit NotifyListener(const std::string& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    timeval limit{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  ~NotifyListener() { close(fd_); }
  std::string Next() {
    char buffer[512];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    return n < 0 ? "<nothing>" : std::string(buffer, n);
  }

 private:
  std::string path_;
  int fd_;
};

TEST_F(ScmTest, DispatcherTurnsSigtermIntoTheStopControlAndReportsToSystemd) {
  std::string socketPath = dir_ + "/notify";
  NotifyListener listener(socketPath);
  setenv("NOTIFY_SOCKET", socketPath.c_str(), 1);

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<uint32_t> controls;
  std::thread::id handlerThread;
  std::thread::id serviceThread;
  int argc = 0;
  std::string argv0;
  ServiceStatusHandle wrongName = 1;

  long result = StartServiceCtrlDispatcher("Brelvane", [&](int count, char** args) {
    serviceThread = std::this_thread::get_id();
    argc = count;
    argv0 = args[0];
    wrongName = RegisterServiceCtrlHandler("Other", [](uint32_t) {});
    ServiceStatusHandle handle = RegisterServiceCtrlHandler("brelvane", [&](uint32_t code) {
      std::lock_guard<std::mutex> lock(mutex);
      controls.push_back(code);
      handlerThread = std::this_thread::get_id();
      changed.notify_all();
    });
    ServiceStatus status;
    status.currentState = kServiceRunning;
    SetServiceStatus(handle, status);
    kill(getpid(), SIGTERM);
    kill(getpid(), SIGINT);
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait_for(lock, std::chrono::seconds(5), [&] { return !controls.empty(); });
    }
    status.currentState = kServiceStopped;
    SetServiceStatus(handle, status);
  });
  unsetenv("NOTIFY_SOCKET");

  EXPECT_EQ(result, kScmOk);
  EXPECT_EQ(argc, 1);
  EXPECT_EQ(argv0, "Brelvane");
  EXPECT_EQ(wrongName, 0u);
  ASSERT_FALSE(controls.empty());
  EXPECT_EQ(controls[0], kServiceControlStop);
  EXPECT_EQ(handlerThread, std::this_thread::get_id());  // the dispatcher's thread
  EXPECT_NE(serviceThread, std::this_thread::get_id());
  EXPECT_EQ(listener.Next(), "READY=1");
  EXPECT_EQ(listener.Next(), "STATUS=Stopped");

  // Outside the dispatcher there is no service to register for, and the
  // stop signals are no longer blocked.
  EXPECT_EQ(RegisterServiceCtrlHandler("Brelvane", [](uint32_t) {}), 0u);
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  EXPECT_FALSE(sigismember(&mask, SIGTERM));
}

}  // namespace
}  // namespace kavelo::platform
