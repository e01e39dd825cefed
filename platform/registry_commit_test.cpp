#include "platform/internal/registry_commit.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "platform/registry.h"
#include "testsupport/temp_registry.h"

namespace kavelo::platform {
namespace {

// Bytes that differ per writer and per value, NULs and high bytes included.
std::string DataFor(int thread, int index) {
  std::string data(1 + (thread * 7 + index * 13) % 300, '\0');
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<char>((thread * 31 + index * 17 + i * 5) & 0xff);
  }
  return data;
}

long Set(const RegKey& key, const std::string& name, const std::string& data) {
  return RegSetValue(key, name, REG_BINARY, data.data(), static_cast<uint32_t>(data.size()));
}

std::string Read(const RegKey& key, const std::string& name, long* status) {
  std::vector<uint8_t> data;
  *status = RegQueryValue(key, name, nullptr, &data);
  return std::string(data.begin(), data.end());
}

class RegistryGroupCommitTest : public ::testing::Test {
 protected:
  testsupport::TempRegistry registry_;
};

TEST_F(RegistryGroupCommitTest, ManyThreadsWritingAtOnceKeepEveryValueExactly) {
  constexpr int kThreads = 16;
  constexpr int kValuesEach = 25;
  // The hive file exists before the writers start.
  RegKey jobs;
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "Jobs", KEY_ALL_ACCESS, &jobs), kErrorSuccess);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &ready, &failures] {
      // Half the threads share one key, the others write a key of their own.
      std::string path = t % 2 ? "Jobs\\Own" + std::to_string(t) : "Jobs\\Shared";
      RegKey key;
      long created = RegCreateKey(Hive::kLocalMachine, path, KEY_ALL_ACCESS, &key);
      // Every thread reaches the start line, even one that failed.
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      if (created != kErrorSuccess) {
        ++failures[t];
        return;
      }
      for (int i = 0; i < kValuesEach; ++i) {
        std::string name = "t" + std::to_string(t) + "." + std::to_string(i);
        if (Set(key, name, DataFor(t, i)) != kErrorSuccess) ++failures[t];
      }
      // An overwrite differing only in letter case keeps the value's place
      // and spelling.
      std::string first = "T" + std::to_string(t) + ".0";
      if (Set(key, first, DataFor(t, 1000)) != kErrorSuccess) ++failures[t];
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) ASSERT_EQ(failures[t], 0) << "thread " << t;

  for (int t = 0; t < kThreads; ++t) {
    std::string path = t % 2 ? "Jobs\\Own" + std::to_string(t) : "Jobs\\Shared";
    RegKey key;
    ASSERT_EQ(RegOpenKey(Hive::kLocalMachine, path, KEY_READ, &key), kErrorSuccess);
    for (int i = 0; i < kValuesEach; ++i) {
      std::string name = "t" + std::to_string(t) + "." + std::to_string(i);
      long status = kErrorSuccess;
      std::string data = Read(key, name, &status);
      ASSERT_EQ(status, kErrorSuccess) << name;
      EXPECT_EQ(data, DataFor(t, i == 0 ? 1000 : i)) << name;
    }
  }
  // Each writer's values keep its order of creation, and the overwritten
  // value keeps its first spelling.
  RegKey shared;
  ASSERT_EQ(RegOpenKey(Hive::kLocalMachine, "Jobs\\Shared", KEY_READ, &shared), kErrorSuccess);
  std::vector<RegValue> values;
  ASSERT_EQ(RegQueryValues(shared, &values), kErrorSuccess);
  EXPECT_EQ(values.size(), static_cast<size_t>(kThreads / 2 * kValuesEach));
  std::vector<int> next(kThreads, 0);
  for (const RegValue& value : values) {
    ASSERT_EQ(value.name[0], 't') << value.name;
    int t = std::stoi(value.name.substr(1));
    int i = std::stoi(value.name.substr(value.name.find('.') + 1));
    EXPECT_EQ(i, next[t]) << value.name;
    next[t] = i + 1;
  }
}

// Holds the hive's write lock from a connection of its own, as another
// process would, so that writers queue up behind it.
class WriteLockHolder {
 public:
  explicit WriteLockHolder(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) == SQLITE_OK) {
      held_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
  }
  ~WriteLockHolder() {
    Release();
    sqlite3_close(db_);
  }
  bool held() const { return held_; }
  void Release() {
    if (held_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    held_ = false;
  }

 private:
  sqlite3* db_ = nullptr;
  bool held_ = false;
};

TEST_F(RegistryGroupCommitTest, FailingWriteInABatchFailsAloneWithItsOwnStatus) {
  RegKey live, gone, first;
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "Live", KEY_ALL_ACCESS, &live), kErrorSuccess);
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "Gone", KEY_ALL_ACCESS, &gone), kErrorSuccess);
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "First", KEY_ALL_ACCESS, &first), kErrorSuccess);
  ASSERT_EQ(Set(live, "Doomed", "x"), kErrorSuccess);
  RegKey root;
  ASSERT_EQ(RegOpenKey(Hive::kLocalMachine, "", KEY_ALL_ACCESS, &root), kErrorSuccess);
  ASSERT_EQ(RegDeleteTree(root, "Gone"), kErrorSuccess);

  WriteLockHolder lock(registry_.MachineHive());
  ASSERT_TRUE(lock.held());
  uint64_t batchesBefore = registry_commit::BatchesRun();

  // The first writer leads a batch of its own and waits for the lock; the
  // writers after it queue up and go together in the next batch.
  long firstStatus = -1;
  std::thread leader([&] { firstStatus = Set(first, "Lead", "lead"); });
  while (registry_commit::BatchesRun() == batchesBefore) std::this_thread::yield();

  struct Case {
    const char* what;
    const RegKey* key;
    std::string name;
    bool erase;
    long want;
  };
  std::vector<Case> cases = {
      {"set on a live key", &live, "A", false, kErrorSuccess},
      {"set on a deleted key", &gone, "Lost", false, kErrorKeyDeleted},
      {"set after the failure", &live, "B", false, kErrorSuccess},
      {"delete of a missing value", &live, "Absent", true, kErrorFileNotFound},
      {"delete of a value", &live, "DOOMED", true, kErrorSuccess},
      {"delete on a deleted key", &gone, "Lost", true, kErrorKeyDeleted},
      {"set differing only in case", &live, "a", false, kErrorSuccess},
  };
  std::vector<long> got(cases.size(), -1);
  std::vector<std::thread> writers;
  for (size_t i = 0; i < cases.size(); ++i) {
    writers.emplace_back([&, i] {
      const Case& c = cases[i];
      got[i] = c.erase ? RegDeleteValue(*c.key, c.name)
                       : Set(*c.key, c.name, c.name + std::to_string(i));
    });
  }
  // Give every writer time to queue behind the leader.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  lock.Release();
  leader.join();
  for (auto& writer : writers) writer.join();

  EXPECT_EQ(firstStatus, kErrorSuccess);
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(got[i], cases[i].want) << cases[i].what;
  // The leader's batch and one batch for all the writers queued behind it.
  EXPECT_EQ(registry_commit::BatchesRun() - batchesBefore, 2u);

  long status = kErrorSuccess;
  std::string a = Read(live, "A", &status);
  EXPECT_EQ(status, kErrorSuccess);
  EXPECT_TRUE(a == "A0" || a == "a6") << a;  // the two writes raced; one wins
  EXPECT_EQ(Read(live, "B", &status), "B2");
  EXPECT_EQ(status, kErrorSuccess);
  Read(live, "Doomed", &status);
  EXPECT_EQ(status, kErrorFileNotFound);
  EXPECT_EQ(Read(first, "Lead", &status), "lead");
  std::vector<RegValue> values;
  ASSERT_EQ(RegQueryValues(live, &values), kErrorSuccess);
  ASSERT_EQ(values.size(), 2u);
  for (const RegValue& value : values) {
    EXPECT_TRUE(value.name == "A" || value.name == "a" || value.name == "B") << value.name;
  }
}

}  // namespace
}  // namespace kavelo::platform
