// The registry used by several real processes at once, and killed writers.
// The test binary starts copies of itself; a copy whose environment names a
// child role plays that role before any test runs and exits.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "platform/registry.h"
#include "testsupport/child_process.h"
#include "testsupport/temp_registry.h"

namespace kavelo::platform {
namespace {

const char kRoleVariable[] = "KAVELO_REGISTRY_CHILD";
const char kSharedKey[] = "Shared\\Writers";

std::string ValueText(const RegKey& key, const std::string& name) {
  std::vector<uint8_t> data;
  if (RegQueryValue(key, name, nullptr, &data) != kErrorSuccess) return "<missing>";
  return std::string(data.begin(), data.end());
}

// Role "writer:ID:COUNT": writes COUNT values into the shared key, reading
// each back and checking now and then that none of its own went missing.
int RunWriter(int id, int count) {
  RegKey key;
  if (RegCreateKey(Hive::kLocalMachine, kSharedKey, KEY_ALL_ACCESS, &key) != kErrorSuccess) {
    return 2;
  }
  for (int i = 0; i < count; ++i) {
    std::string name = "w" + std::to_string(id) + "." + std::to_string(i);
    if (RegSetValue(key, name, REG_SZ, name.data(), static_cast<uint32_t>(name.size())) !=
        kErrorSuccess) {
      return 3;
    }
    if (ValueText(key, name) != name) return 4;
    if (i % 25 == 24) {
      for (int j = 0; j <= i; ++j) {
        std::string earlier = "w" + std::to_string(id) + "." + std::to_string(j);
        if (ValueText(key, earlier) != earlier) return 5;
      }
    }
    // Keys are made concurrently too.
    RegKey sub;
    if (RegCreateKey(Hive::kLocalMachine, std::string(kSharedKey) + "\\k" + std::to_string(i % 7),
                     KEY_WRITE, &sub) != kErrorSuccess) {
      return 6;
    }
  }
  return 0;
}

// Role "acker": writes v0, v1, ... for ever and prints each index once its
// write has returned.
int RunAcker() {
  RegKey key;
  if (RegCreateKey(Hive::kLocalMachine, "Acked", KEY_ALL_ACCESS, &key) != kErrorSuccess) return 2;
  for (long i = 0;; ++i) {
    std::string text = std::to_string(i);
    if (RegSetValue(key, "v" + text, REG_SZ, text.data(), static_cast<uint32_t>(text.size())) !=
        kErrorSuccess) {
      return 3;
    }
    printf("%ld\n", i);
    fflush(stdout);
  }
}

// Role "reader:NAME": prints the text of value NAME of the shared key, then
// closes the hive as a short-lived program (the print control) does.
int RunReader(const std::string& name) {
  RegKey key;
  if (RegOpenKey(Hive::kLocalMachine, kSharedKey, KEY_READ, &key) != kErrorSuccess) return 2;
  printf("%s\n", ValueText(key, name).c_str());
  fflush(stdout);
  return 0;
}

int RunRole(const std::string& role) {
  if (role == "acker") return RunAcker();
  if (role.rfind("reader:", 0) == 0) return RunReader(role.substr(7));
  int id = 0, count = 0;
  if (sscanf(role.c_str(), "writer:%d:%d", &id, &count) == 2) return RunWriter(id, count);
  return 9;
}

// Plays the child role, if any, before the tests run.
const bool kIsChild = [] {
  const char* role = getenv(kRoleVariable);
  if (role) _exit(RunRole(role));
  return false;
}();

std::string SelfPath() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

TEST(RegistryProcesses, WritersInSeveralProcessesLoseNothing) {
  ASSERT_FALSE(kIsChild);
  testsupport::TempRegistry registry;
  constexpr int kWriters = 3;
  constexpr int kCount = 120;
  testsupport::ChildProcess children[kWriters];
  for (int w = 0; w < kWriters; ++w) {
    ASSERT_TRUE(children[w].Start(
        {SelfPath()}, {std::string(kRoleVariable) + "=writer:" + std::to_string(w) + ":" +
                       std::to_string(kCount)}));
  }
  for (int w = 0; w < kWriters; ++w) {
    int status = children[w].Wait();
    ASSERT_TRUE(WIFEXITED(status)) << "writer " << w;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "writer " << w;
  }

  RegKey key;
  ASSERT_EQ(RegOpenKey(Hive::kLocalMachine, kSharedKey, KEY_READ, &key), kErrorSuccess);
  int found = 0;
  for (uint32_t i = 0;; ++i) {
    char name[64];
    uint8_t data[64];
    uint32_t nameLength = sizeof(name), dataLength = sizeof(data);
    long status = RegEnumValue(key, i, name, &nameLength, nullptr, data, &dataLength);
    if (status == kErrorNoMoreItems) break;
    ASSERT_EQ(status, kErrorSuccess);
    EXPECT_EQ(std::string(name), std::string(reinterpret_cast<char*>(data), dataLength));
    ++found;
  }
  EXPECT_EQ(found, kWriters * kCount);
  std::string subkey;
  EXPECT_EQ(RegEnumKey(key, 6, &subkey), kErrorSuccess);
  EXPECT_EQ(RegEnumKey(key, 7, &subkey), kErrorNoMoreItems);
}

std::string ReadInChild(const std::string& name) {
  std::string out, err;
  int rc = testsupport::RunProgram({"/usr/bin/env", std::string(kRoleVariable) + "=reader:" + name,
                           SelfPath()},
                          "", &out, &err);
  return out + err + (rc == 0 ? "" : "exit " + std::to_string(rc));
}

// Whether this process holds a POSIX lock on the file (SQLite holds a
// shared one on the hive while a connection of the process is open).
bool HoldsLockOn(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  std::ifstream locks("/proc/locks");
  const std::string own = " " + std::to_string(getpid()) + " ";
  const std::string inode = ":" + std::to_string(info.st_ino) + " ";
  for (std::string line; std::getline(locks, line);) {
    if (line.find("POSIX") != std::string::npos && line.find(own) != std::string::npos &&
        line.find(inode) != std::string::npos) {
      return true;
    }
  }
  return false;
}

// A thread's first write opens a new connection while other connections of
// this process hold SQLite's locks on the hive.  Those locks must stay: were
// they dropped, the next program to close the hive would think itself its
// last user, fold the log into the file and delete it under this process,
// whose later writes would then go to a deleted log and be lost.
TEST(RegistryProcesses, ANewConnectionKeepsTheLocksOfTheOthers) {
  ASSERT_FALSE(kIsChild);
  testsupport::TempRegistry registry;
  RegKey key;
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, kSharedKey, KEY_ALL_ACCESS, &key), kErrorSuccess);
  ASSERT_EQ(RegSetValue(key, "first", REG_SZ, "1", 1), kErrorSuccess);
  ASSERT_TRUE(HoldsLockOn(RegistryHiveFile(Hive::kLocalMachine)));
  // The thread's first use of the hive is a write.
  std::thread([&key] { EXPECT_EQ(RegSetValue(key, "second", REG_SZ, "2", 1), kErrorSuccess); })
      .join();
  EXPECT_TRUE(HoldsLockOn(RegistryHiveFile(Hive::kLocalMachine)));
  EXPECT_EQ(ReadInChild("second"), "2\n");
  ASSERT_EQ(RegSetValue(key, "third", REG_SZ, "3", 1), kErrorSuccess);
  EXPECT_EQ(ValueText(key, "third"), "3");
  EXPECT_EQ(ReadInChild("third"), "3\n");
}

TEST(RegistryProcesses, AcknowledgedWriteSurvivesKillOfTheWriter) {
  ASSERT_FALSE(kIsChild);
  testsupport::TempRegistry registry;
  for (int threshold : {1, 12, 40}) {
    SCOPED_TRACE(threshold);
    testsupport::ChildProcess acker;
    ASSERT_TRUE(acker.Start({SelfPath()}, {std::string(kRoleVariable) + "=acker"}));
    std::string line;
    long last = -1;
    while (acker.ReadLine(&line)) {
      last = std::stol(line);
      if (last >= threshold) break;
    }
    acker.Kill();  // right after the acknowledgement, likely inside a later write
    int status = acker.Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    // Acknowledgements already in the pipe count as well.
    while (acker.ReadLine(&line)) last = std::stol(line);
    ASSERT_GE(last, threshold);

    RegKey key;
    ASSERT_EQ(RegOpenKey(Hive::kLocalMachine, "Acked", KEY_ALL_ACCESS, &key), kErrorSuccess);
    for (long i = 0; i <= last; ++i) {
      ASSERT_EQ(ValueText(key, "v" + std::to_string(i)), std::to_string(i)) << "value " << i;
    }
    // The hive is whole and writable after the kill.
    ASSERT_EQ(RegDeleteTree(key, ""), kErrorSuccess);
  }
}

}  // namespace
}  // namespace kavelo::platform
