#include "platform/registry.h"

#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "platform/internal/registry_store.h"
#include "testsupport/files.h"
#include "testsupport/temp_registry.h"

namespace kavelo::platform {
namespace {

struct Value {
  std::string name;
  uint32_t type;
  std::string data;
};

std::vector<Value> Enumerate(const RegKey& key) {
  std::vector<Value> values;
  for (uint32_t i = 0;; ++i) {
    char name[256];
    uint8_t data[1024];
    uint32_t nameLength = sizeof(name), dataLength = sizeof(data), type = 0;
    long status = RegEnumValue(key, i, name, &nameLength, &type, data, &dataLength);
    if (status == kErrorNoMoreItems) break;
    EXPECT_EQ(status, kErrorSuccess);
    if (status != kErrorSuccess) break;
    values.push_back({std::string(name, nameLength), type,
                      std::string(reinterpret_cast<char*>(data), dataLength)});
  }
  return values;
}

long SetText(const RegKey& key, const std::string& name, const std::string& text,
             uint32_t type = REG_SZ) {
  return RegSetValue(key, name, type, text.data(), static_cast<uint32_t>(text.size()));
}

using testsupport::FileExists;
using testsupport::ReadFile;

class RegistryTest : public ::testing::Test {
 protected:
  testsupport::TempRegistry registry_;
};

TEST_F(RegistryTest, EmptyRegistryHasOnlyTheRootAndCreatesNoFile) {
  RegKey key;
  EXPECT_EQ(RegOpenKey(Hive::kLocalMachine, "SOFTWARE\\KAVELO", KEY_READ, &key),
            kErrorFileNotFound);
  EXPECT_FALSE(key.IsOpen());
  ASSERT_EQ(RegOpenKey(Hive::kLocalMachine, "", KEY_READ, &key), kErrorSuccess);
  std::string sub;
  EXPECT_EQ(RegEnumKey(key, 0, &sub), kErrorNoMoreItems);
  EXPECT_TRUE(Enumerate(key).empty());
  std::vector<uint8_t> data;
  EXPECT_EQ(RegQueryValue(key, "Port", nullptr, &data), kErrorFileNotFound);
  EXPECT_EQ(RegDeleteKeyValue(Hive::kLocalMachine, "A", "B"), kErrorFileNotFound);
  EXPECT_FALSE(FileExists(registry_.MachineHive()));
}

TEST_F(RegistryTest, KeyNamesIgnoreCaseAndKeepTheirSpelling) {
  RegKey key;
  bool created = false;
  ASSERT_EQ(
      RegCreateKey(Hive::kLocalMachine, "SYSTEM\\Services\\Brelvane", KEY_WRITE, &key, &created),
      kErrorSuccess);
  EXPECT_TRUE(created);
  ASSERT_EQ(
      RegCreateKey(Hive::kLocalMachine, "system\\SERVICES\\brelvane\\", KEY_WRITE, &key, &created),
      kErrorSuccess);
  EXPECT_FALSE(created);
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "system\\services\\Ostrevo", KEY_WRITE, &key),
            kErrorSuccess);

  RegKey services;
  ASSERT_EQ(RegOpenKey(Hive::kLocalMachine, "SyStEm\\services", KEY_READ, &services),
            kErrorSuccess);
  std::vector<std::string> names;
  std::string name;
  for (uint32_t i = 0; RegEnumKey(services, i, &name) == kErrorSuccess; ++i) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"Brelvane", "Ostrevo"}));
  EXPECT_FALSE(services.writable());
  EXPECT_TRUE(FileExists(registry_.MachineHive()));
}

TEST_F(RegistryTest, ValuesKeepExactBytesPlaceAndSpelling) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "K", KEY_ALL_ACCESS, &key), kErrorSuccess);
  const uint8_t dword[4] = {0xa0, 0x0f, 0, 0};
  ASSERT_EQ(RegSetValue(key, "Port", REG_DWORD, dword, 4), kErrorSuccess);
  ASSERT_EQ(SetText(key, "PrinterApplication", std::string("/opt/a\0", 7)), kErrorSuccess);
  ASSERT_EQ(SetText(key, "", "default"), kErrorSuccess);
  ASSERT_EQ(SetText(key, "Empty", ""), kErrorSuccess);
  ASSERT_EQ(SetText(key, "Bin", std::string("\0\xff\0", 3), REG_BINARY), kErrorSuccess);
  // Overwriting in another letter case keeps the first spelling and place.
  ASSERT_EQ(SetText(key, "PORT", "5000"), kErrorSuccess);

  std::vector<Value> values = Enumerate(key);
  ASSERT_EQ(values.size(), 5u);
  struct Expected {
    const char* name;
    uint32_t type;
    std::string data;
  } expected[] = {
      {"Port", REG_SZ, "5000"},
      {"PrinterApplication", REG_SZ, std::string("/opt/a\0", 7)},
      {"", REG_SZ, "default"},
      {"Empty", REG_SZ, ""},
      {"Bin", REG_BINARY, std::string("\0\xff\0", 3)},
  };
  for (size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(values[i].name, expected[i].name);
    EXPECT_EQ(values[i].type, expected[i].type);
    EXPECT_EQ(values[i].data, expected[i].data);
  }

  // Reading all values at once gives the same list.
  std::vector<RegValue> all;
  ASSERT_EQ(RegQueryValues(key, &all), kErrorSuccess);
  ASSERT_EQ(all.size(), values.size());
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].name, values[i].name);
    EXPECT_EQ(all[i].type, values[i].type);
    EXPECT_EQ(std::string(all[i].data.begin(), all[i].data.end()), values[i].data);
  }

  uint32_t type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(RegQueryValue(key, "printerapplication", &type, &data), kErrorSuccess);
  EXPECT_EQ(std::string(data.begin(), data.end()), std::string("/opt/a\0", 7));
  ASSERT_EQ(RegQueryValue(key, "", &type, &data), kErrorSuccess);
  EXPECT_EQ(std::string(data.begin(), data.end()), "default");

  EXPECT_EQ(RegDeleteValue(key, "pOrT"), kErrorSuccess);
  EXPECT_EQ(RegDeleteValue(key, "Port"), kErrorFileNotFound);
  // A value made again after its deletion goes to the end.
  ASSERT_EQ(SetText(key, "port", "1"), kErrorSuccess);
  values = Enumerate(key);
  ASSERT_EQ(values.size(), 5u);
  EXPECT_EQ(values.back().name, "port");
  EXPECT_EQ(values.front().name, "PrinterApplication");
}

TEST_F(RegistryTest, DwordsAreFourBytesLeastSignificantFirst) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "K", KEY_ALL_ACCESS, &key), kErrorSuccess);
  ASSERT_EQ(RegSetDword(key, "Port", 0x12345678u), kErrorSuccess);
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;
  ASSERT_EQ(RegQueryValue(key, "Port", &type, &data), kErrorSuccess);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(data, (std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12}));
  struct Case {
    std::vector<uint8_t> bytes;
    uint32_t value;
  } cases[] = {{{}, 0},
               {{0xa0}, 0xa0},
               {{0xa0, 0x0f}, 0x0fa0},
               {{0x78, 0x56, 0x34, 0x12}, 0x12345678u},
               {{0xff, 0xff, 0xff, 0xff, 0x01}, 0xffffffffu}};  // a fifth byte does not count
  for (const Case& c : cases) EXPECT_EQ(DwordFromBytes(c.bytes.data(), c.bytes.size()), c.value);
}

TEST_F(RegistryTest, EnumerationReportsBufferSizes) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "K", KEY_WRITE, &key), kErrorSuccess);
  ASSERT_EQ(SetText(key, "Name", "0123456789"), kErrorSuccess);  // 4-byte name, 10-byte data

  struct Case {
    uint32_t nameBuffer;
    uint32_t dataBuffer;
    bool withData;
    uint32_t index;
    long status;
    uint32_t nameLength;  // on return
    uint32_t dataLength;  // on return
  } cases[] = {
      {5, 10, true, 0, kErrorSuccess, 4, 10},
      {256, 256, true, 0, kErrorSuccess, 4, 10},
      {4, 10, true, 0, kErrorMoreData, 5, 10},  // no room for the NUL
      {0, 10, true, 0, kErrorMoreData, 5, 10},
      {5, 9, true, 0, kErrorMoreData, 5, 10},  // data one byte short
      {5, 0, false, 0, kErrorSuccess, 4, 10},  // size only
      {256, 256, true, 1, kErrorNoMoreItems, 256, 256},
      {0, 0, true, 7, kErrorNoMoreItems, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.nameBuffer << "/" << c.dataBuffer << " @" << c.index);
    char name[256];
    uint8_t data[256];
    memset(name, 'x', sizeof(name));
    uint32_t nameLength = c.nameBuffer, dataLength = c.dataBuffer, type = 0;
    long status = RegEnumValue(key, c.index, name, &nameLength, &type, c.withData ? data : nullptr,
                               &dataLength);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(nameLength, c.nameLength);
    EXPECT_EQ(dataLength, c.dataLength);
    if (status == kErrorSuccess) {
      EXPECT_STREQ(name, "Name");
      EXPECT_EQ(type, REG_SZ);
    }
    if (status == kErrorMoreData) {
      EXPECT_EQ(name[0], 'x');  // nothing copied
    }
  }
  uint32_t nameLength = 8;
  EXPECT_EQ(RegEnumValue(key, 0, nullptr, &nameLength, nullptr, nullptr, nullptr),
            kErrorInvalidParameter);
}

TEST_F(RegistryTest, HandlesReportAccessAndDeletion) {
  RegKey writable, readOnly, child, closed;
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "A\\B\\C", KEY_WRITE, &child), kErrorSuccess);
  ASSERT_EQ(SetText(child, "v", "1"), kErrorSuccess);
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "A\\Sibling", KEY_WRITE, &writable), kErrorSuccess);
  ASSERT_EQ(RegOpenKey(Hive::kLocalMachine, "A", KEY_READ, &readOnly), kErrorSuccess);

  EXPECT_EQ(SetText(readOnly, "v", "1"), kErrorAccessDenied);
  EXPECT_EQ(RegDeleteTree(readOnly, "B"), kErrorAccessDenied);
  EXPECT_EQ(SetText(closed, "v", "1"), kErrorInvalidHandle);
  char name[16];
  uint32_t nameLength = sizeof(name);
  EXPECT_EQ(RegEnumValue(closed, 0, name, &nameLength, nullptr, nullptr, nullptr),
            kErrorInvalidHandle);

  RegKey a;
  ASSERT_EQ(RegOpenKey(Hive::kLocalMachine, "a", KEY_ALL_ACCESS, &a), kErrorSuccess);
  EXPECT_EQ(RegDeleteTree(a, "missing"), kErrorFileNotFound);
  ASSERT_EQ(RegDeleteTree(a, "b"), kErrorSuccess);
  RegKey probe;
  EXPECT_EQ(RegOpenKey(Hive::kLocalMachine, "A\\B", KEY_READ, &probe), kErrorFileNotFound);
  EXPECT_EQ(RegOpenKey(Hive::kLocalMachine, "A\\Sibling", KEY_READ, &probe), kErrorSuccess);

  // The deleted key's handle stays deleted even when the path is made again.
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "A\\B\\C", KEY_WRITE, &probe), kErrorSuccess);
  nameLength = sizeof(name);
  EXPECT_EQ(RegEnumValue(child, 0, name, &nameLength, nullptr, nullptr, nullptr), kErrorKeyDeleted);
  EXPECT_EQ(SetText(child, "v", "2"), kErrorKeyDeleted);
  std::vector<RegValue> all;
  EXPECT_EQ(RegQueryValues(child, &all), kErrorKeyDeleted);
  EXPECT_EQ(RegQueryValues(closed, &all), kErrorInvalidHandle);
  EXPECT_EQ(Enumerate(probe).size(), 0u);

  RegKey root;
  ASSERT_EQ(RegOpenKey(Hive::kLocalMachine, "", KEY_ALL_ACCESS, &root), kErrorSuccess);
  EXPECT_EQ(RegDeleteTree(root, ""), kErrorAccessDenied);
  ASSERT_EQ(RegDeleteTree(writable, ""), kErrorSuccess);
  EXPECT_EQ(RegDeleteTree(writable, ""), kErrorKeyDeleted);
}

TEST_F(RegistryTest, MalformedPathsAndNamesGiveStatusCodes) {
  struct Case {
    std::string path;
    long status;
  } cases[] = {
      {"\\A", kErrorBadPathname},
      {"A\\\\B", kErrorBadPathname},
      {"\\", kErrorBadPathname},
      {"A\\", kErrorSuccess},
      {std::string(255, 'k'), kErrorSuccess},
      {std::string(256, 'k'), kErrorInvalidParameter},
      {std::string("A\0B", 3), kErrorInvalidParameter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    RegKey key;
    EXPECT_EQ(RegCreateKey(Hive::kLocalMachine, c.path, KEY_WRITE, &key), c.status);
    EXPECT_EQ(key.IsOpen(), c.status == kErrorSuccess);
  }
  RegKey key;
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "K", KEY_WRITE, &key), kErrorSuccess);
  EXPECT_EQ(SetText(key, std::string("a\0b", 3), "x"), kErrorInvalidParameter);
  EXPECT_EQ(SetText(key, std::string(16384, 'n'), "x"), kErrorInvalidParameter);
  EXPECT_EQ(RegSetValue(key, "n", REG_SZ, nullptr, 4), kErrorInvalidParameter);
  EXPECT_EQ(RegSetValue(key, "n", REG_SZ, nullptr, 0), kErrorSuccess);
}

TEST_F(RegistryTest, CorruptHiveGivesInvalidDataAndStaysUntouched) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "K", KEY_WRITE, &key), kErrorSuccess);
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(SetText(key, "v" + std::to_string(i), std::string(200, 'd')), kErrorSuccess);
  }
  // Move everything from the write-ahead log into the database file.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(registry_.MachineHive().c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  std::string good = ReadFile(registry_.MachineHive());
  ASSERT_GT(good.size(), 8192u);

  std::string garbage(4096, '\x5a');
  std::string damagedPage = good;  // a valid header over damaged tables
  for (size_t i = 4096; i < damagedPage.size() && i < 4096 * 3; ++i) damagedPage[i] = '\x7f';

  struct Case {
    const char* what;
    std::string content;
  } cases[] = {
      {"garbage", garbage},
      {"truncated header", good.substr(0, 50)},
      {"damaged pages", damagedPage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Replace the hive (and drop its log) as a crash or a bad copy would.
    unlink((registry_.MachineHive() + "-wal").c_str());
    unlink((registry_.MachineHive() + "-shm").c_str());
    unlink(registry_.MachineHive().c_str());
    {
      std::ofstream out(registry_.MachineHive(), std::ios::binary);
      out << c.content;
    }
    RegKey probe;
    long open = RegOpenKey(Hive::kLocalMachine, "K", KEY_READ, &probe);
    long create = RegCreateKey(Hive::kLocalMachine, "K\\New", KEY_WRITE, &probe);
    EXPECT_EQ(create, kErrorInvalidData);
    EXPECT_TRUE(open == kErrorInvalidData || open == kErrorSuccess) << open;
    if (open == kErrorSuccess) {
      // Damage below the key table surfaces when the values are read.
      RegOpenKey(Hive::kLocalMachine, "K", KEY_WRITE, &probe);
      uint32_t nameLength = 256;
      char name[256];
      long status = kErrorSuccess;
      for (uint32_t i = 0; status == kErrorSuccess; ++i) {
        nameLength = sizeof(name);
        status = RegEnumValue(probe, i, name, &nameLength, nullptr, nullptr, nullptr);
      }
      EXPECT_EQ(status, kErrorInvalidData);
      EXPECT_EQ(SetText(probe, "v1", "new"), kErrorInvalidData);
    }
    EXPECT_EQ(ReadFile(registry_.MachineHive()), c.content);
  }
}

TEST_F(RegistryTest, ReplacedHiveKeepsTheNewFilesLog) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "Old", KEY_WRITE, &key), kErrorSuccess);
  ASSERT_EQ(SetText(key, "v", "old"), kErrorSuccess);  // this thread now holds the old file
  for (const char* suffix : {"", "-wal", "-shm"})
    unlink((registry_.MachineHive() + suffix).c_str());

  // Another thread makes a new hive at the same path and keeps using it; its
  // committed values sit in the new file's write-ahead log.
  std::mutex lock;
  std::condition_variable changed;
  int stage = 0;
  long written = -1;
  std::thread user([&] {
    RegKey fresh;
    long status = RegCreateKey(Hive::kLocalMachine, "New", KEY_WRITE, &fresh);
    if (status == kErrorSuccess) status = SetText(fresh, "v", "new");
    std::unique_lock<std::mutex> guard(lock);
    written = status;
    stage = 1;
    changed.notify_all();
    changed.wait(guard, [&] { return stage == 2; });
  });
  {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return stage == 1; });
  }
  ASSERT_EQ(written, kErrorSuccess);
  // This thread notices the replacement and drops its old connection; that
  // must not take the new hive's log with it.
  RegKey probe;
  EXPECT_EQ(RegOpenKey(Hive::kLocalMachine, "Old", KEY_READ, &probe), kErrorFileNotFound);
  ASSERT_EQ(RegOpenKey(Hive::kLocalMachine, "New", KEY_READ, &probe), kErrorSuccess);
  std::vector<uint8_t> data;
  EXPECT_EQ(RegQueryValue(probe, "v", nullptr, &data), kErrorSuccess);
  EXPECT_EQ(std::string(data.begin(), data.end()), "new");
  EXPECT_TRUE(FileExists(registry_.MachineHive() + "-wal"));
  {
    std::lock_guard<std::mutex> guard(lock);
    stage = 2;
  }
  changed.notify_all();
  user.join();
}

TEST_F(RegistryTest, FolderIsCreatedOnFirstWriteOrTheWriteIsRefused) {
  std::string nested = registry_.dir() + "/a/b/registry";
  setenv("KAVELO_REGISTRY_DIR", nested.c_str(), 1);
  RegKey key;
  EXPECT_EQ(RegOpenKey(Hive::kLocalMachine, "K", KEY_READ, &key), kErrorFileNotFound);
  EXPECT_FALSE(FileExists(nested));
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "K", KEY_WRITE, &key), kErrorSuccess);
  EXPECT_TRUE(FileExists(nested + "/HKEY_LOCAL_MACHINE.db"));

  // A folder below a plain file can never be made.
  std::string file = registry_.dir() + "/plain";
  std::ofstream(file) << "x";
  std::string blocked = file + "/registry";
  setenv("KAVELO_REGISTRY_DIR", blocked.c_str(), 1);
  EXPECT_EQ(RegCreateKey(Hive::kLocalMachine, "K", KEY_WRITE, &key), kErrorAccessDenied);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(RegOpenKey(Hive::kLocalMachine, "K", KEY_READ, &key), kErrorFileNotFound);
  EXPECT_EQ(ReadFile(file), "x");
}

TEST_F(RegistryTest, HivesAreSeparateFiles) {
  RegKey machine, user;
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "Software\\K", KEY_WRITE, &machine), kErrorSuccess);
  ASSERT_EQ(SetText(machine, "v", "machine"), kErrorSuccess);
  ASSERT_EQ(RegCreateKey(Hive::kCurrentUser, "Software\\K", KEY_WRITE, &user), kErrorSuccess);
  ASSERT_EQ(SetText(user, "v", "user"), kErrorSuccess);
  std::vector<uint8_t> data;
  ASSERT_EQ(RegQueryValue(machine, "v", nullptr, &data), kErrorSuccess);
  EXPECT_EQ(std::string(data.begin(), data.end()), "machine");
  ASSERT_EQ(RegQueryValue(user, "v", nullptr, &data), kErrorSuccess);
  EXPECT_EQ(std::string(data.begin(), data.end()), "user");
  EXPECT_EQ(user.hive(), Hive::kCurrentUser);
  EXPECT_EQ(user.path(), "Software\\K");
  // The user's hive is named after the effective user ("root" here as anywhere
  // the tests run as root; another user gets a file of that name).
  bool found = false;
  for (const auto& entry : std::filesystem::directory_iterator(registry_.dir())) {
    std::string name = entry.path().filename().string();
    if (name.rfind("HKEY_CURRENT_USER.", 0) == 0 && name.size() > 21 &&
        name.compare(name.size() - 3, 3, ".db") == 0) {
      found = true;
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(RegistryTest, ThreadsWritingAtOnceLoseNothing) {
  constexpr int kThreads = 8;
  constexpr int kValuesEach = 40;
  std::vector<std::thread> threads;
  std::vector<long> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      RegKey key;
      if (RegCreateKey(Hive::kLocalMachine, "Shared\\Queue", KEY_ALL_ACCESS, &key) != 0) {
        ++failures[t];
        return;
      }
      for (int i = 0; i < kValuesEach; ++i) {
        std::string name = "t" + std::to_string(t) + "." + std::to_string(i);
        if (SetText(key, name, name) != kErrorSuccess) ++failures[t];
        std::vector<uint8_t> data;
        if (RegQueryValue(key, name, nullptr, &data) != kErrorSuccess ||
            std::string(data.begin(), data.end()) != name) {
          ++failures[t];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  RegKey key;
  ASSERT_EQ(RegOpenKey(Hive::kLocalMachine, "Shared\\Queue", KEY_READ, &key), kErrorSuccess);
  std::vector<Value> values = Enumerate(key);
  EXPECT_EQ(values.size(), static_cast<size_t>(kThreads * kValuesEach));
  // Each thread's values keep that thread's order.
  std::vector<int> next(kThreads, 0);
  for (const Value& v : values) {
    int t = std::stoi(v.name.substr(1));
    int i = std::stoi(v.name.substr(v.name.find('.') + 1));
    EXPECT_EQ(i, next[t]) << v.name;
    next[t] = i + 1;
  }
}

// Each client connection of the service runs on a thread of its own; the
// connection of an ended thread goes to the next one.  It must see every
// earlier write, never the file it was opened on once that is replaced,
// and the threads must not open a connection each.
TEST_F(RegistryTest, ThreadsOneAfterAnotherShareConnectionsAndSeeTheLatestFile) {
  auto onThread = [](auto&& work) {
    std::thread thread(work);
    thread.join();
  };
  RegKey main;
  ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, "Pool", KEY_ALL_ACCESS, &main), kErrorSuccess);
  ASSERT_EQ(SetText(main, "seed", "0"), kErrorSuccess);

  constexpr int kThreads = 30;
  uint64_t openedBefore = registry_store::ConnectionsOpened();
  for (int t = 0; t < kThreads; ++t) {
    size_t seen = 0;
    long written = -1;
    onThread([&] {
      RegKey key;
      if (RegOpenKey(Hive::kLocalMachine, "Pool", KEY_ALL_ACCESS, &key) != kErrorSuccess) return;
      seen = Enumerate(key).size();
      written = SetText(key, "v" + std::to_string(t), std::to_string(t));
    });
    EXPECT_EQ(seen, static_cast<size_t>(t + 1)) << "thread " << t;
    EXPECT_EQ(written, kErrorSuccess) << "thread " << t;
  }
  EXPECT_LE(registry_store::ConnectionsOpened() - openedBefore, 2u);

  // The hive is replaced while its connections sit idle.
  for (const char* suffix : {"", "-wal", "-shm"})
    unlink((registry_.MachineHive() + suffix).c_str());
  long reopened = -1;
  onThread([&] {
    RegKey key;
    reopened = RegOpenKey(Hive::kLocalMachine, "Pool", KEY_READ, &key);
  });
  EXPECT_EQ(reopened, kErrorFileNotFound);
  onThread([&] {
    RegKey key;
    if (RegCreateKey(Hive::kLocalMachine, "Pool", KEY_WRITE, &key) == kErrorSuccess) {
      SetText(key, "fresh", "1");
    }
  });
  std::vector<Value> values;
  onThread([&] {
    RegKey key;
    if (RegOpenKey(Hive::kLocalMachine, "Pool", KEY_READ, &key) == kErrorSuccess) {
      values = Enumerate(key);
    }
  });
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, "fresh");
}

TEST(RegistryTypeNames, RoundTripAndUnknown) {
  struct Case {
    const char* text;
    bool known;
    uint32_t type;
  } cases[] = {
      {"REG_SZ", true, REG_SZ},
      {"reg_expand_sz", true, REG_EXPAND_SZ},
      {"REG_BINARY", true, REG_BINARY},
      {"REG_DWORD", true, REG_DWORD},
      {"REG_MULTI_SZ", true, REG_MULTI_SZ},
      {"REG_QWORD", true, REG_QWORD},
      {"REG_NONE", true, REG_NONE},
      {"REG_LINK", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint32_t type = 99;
    EXPECT_EQ(ParseRegTypeName(c.text, &type), c.known);
    if (c.known) {
      EXPECT_EQ(type, c.type);
    }
  }
  EXPECT_STREQ(RegTypeName(REG_DWORD), "REG_DWORD");
  EXPECT_STREQ(RegTypeName(42), "REG_NONE");
}

}  // namespace
}  // namespace kavelo::platform
