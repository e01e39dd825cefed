#include "common/registry_access.h"

#include <gtest/gtest.h>

#include "common/exceptions.h"
#include "testsupport/temp_registry.h"

namespace kavelo {
namespace {

using platform::Hive;
using platform::REG_BINARY;
using platform::REG_DWORD;
using platform::REG_EXPAND_SZ;
using platform::REG_SZ;
using testsupport::Dword;
using testsupport::KeyOnly;
using testsupport::Sz;
using testsupport::WriteRaw;

class RegistryAccessTest : public ::testing::Test {
 protected:
  testsupport::TempRegistry registry_;
};

TEST_F(RegistryAccessTest, ConstructionAndPaths) {
  EXPECT_THROW(RegistryAccess(Hive::kLocalMachine, static_cast<const char*>(nullptr)),
               NullPointerException);
  EXPECT_THROW(RegistryAccess(Hive::kLocalMachine, ""), IllegalArgumentException);
  RegistryAccess access(Hive::kLocalMachine, "Base");
  struct Case {
    const char* subkey;
    const char* name;
    const char* path;
  } cases[] = {
      {nullptr, nullptr, "Base"},       {"", "", "Base"},
      {"Sub", nullptr, "Base\\Sub"},    {"\\Sub", nullptr, "Base\\Sub"},
      {"Sub", "N", "Base\\Sub\\N"},     {"", "N", "Base\\N"},
      {"A\\B", "\\C", "Base\\A\\B\\C"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(access.FullPath(c.subkey, c.name), c.path)
        << (c.subkey ? c.subkey : "null") << " " << (c.name ? c.name : "null");
  }
}

TEST_F(RegistryAccessTest, ReadsMatchNameExactlyAndType) {
  ASSERT_EQ(WriteRaw({{"Base\\K", "Port", REG_DWORD, Dword(7)},
                      {"Base\\K", "", REG_DWORD, Dword(9)},
                      {"Base\\K", "Text", REG_EXPAND_SZ, Sz("%PATH%")},
                      {"Base\\K", "Short", REG_DWORD, std::string("\x05", 1)},
                      {"Base\\K", std::string(256, 'L'), REG_DWORD, Dword(1)},
                      {"Base\\K", "Big", REG_DWORD, Dword(1) + Dword(2)}}),
            platform::kErrorSuccess);
  RegistryAccess access(Hive::kLocalMachine, "Base");
  struct DwordCase {
    const char* subkey;
    const char* name;
    int32_t expected;
  } dwords[] = {
      {"K", "Port", 7},  {"K", "PORT", -1},       {"K", nullptr, 9}, {"K", "", 9},
      {"K", "Text", -1}, {"Missing", "Port", -1}, {"K", "Short", 5}, {"K", "Big", -1},
  };
  for (const DwordCase& c : dwords) {
    EXPECT_EQ(access.ReadDword(c.subkey, c.name, -1), c.expected) << (c.name ? c.name : "null");
  }
  EXPECT_EQ(access.ReadString("K", "Text", "d"), "%PATH%");
  EXPECT_EQ(access.ReadString("K", "text", "d"), "d");
  EXPECT_EQ(access.ReadString("K", "Port", "d"), "d");
  EXPECT_EQ(access.ReadString("K", "Port", nullptr), "");
  // A key that does not open gives the empty text, not the default.
  EXPECT_EQ(access.ReadString("Missing", "Text", "d"), "");
  EXPECT_TRUE(access.KeyExists("k"));
  EXPECT_TRUE(access.KeyExists(nullptr));
  EXPECT_FALSE(access.KeyExists("Missing"));
}

TEST_F(RegistryAccessTest, WritesCreateKeysAndStoreExactBytes) {
  RegistryAccess access(Hive::kLocalMachine, "Base");
  ASSERT_EQ(access.WriteDword("New\\Deep", "D", -2), platform::kErrorSuccess);
  ASSERT_EQ(access.WriteString("New\\Deep", "S", "text"), platform::kErrorSuccess);
  ASSERT_EQ(access.WriteString("New\\Deep", "S", "replaced"), platform::kErrorSuccess);
  platform::RegKey key;
  ASSERT_EQ(platform::RegOpenKey(Hive::kLocalMachine, "Base\\New\\Deep", platform::KEY_READ, &key),
            platform::kErrorSuccess);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(platform::RegQueryValue(key, "D", &type, &data), platform::kErrorSuccess);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(std::string(data.begin(), data.end()), Dword(0xfffffffeu));
  ASSERT_EQ(platform::RegQueryValue(key, "S", &type, &data), platform::kErrorSuccess);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(std::string(data.begin(), data.end()), Sz("replaced"));
  EXPECT_EQ(access.ReadDword("New\\Deep", "D", 0), -2);

  EXPECT_EQ(access.DeleteValue("New\\Deep", "S"), platform::kErrorSuccess);
  EXPECT_EQ(access.DeleteValue("New\\Deep", "S"), platform::kErrorFileNotFound);
  EXPECT_EQ(access.DeleteValue("Nowhere", "S"), platform::kErrorFileNotFound);
  EXPECT_EQ(access.ReadString("New\\Deep", "S", "gone"), "gone");
}

TEST_F(RegistryAccessTest, ReadStringValuesListsNonEmptyValuesOfTheType) {
  ASSERT_EQ(WriteRaw({{"Base\\Q", "one", REG_SZ, Sz("first")},
                      {"Base\\Q", "empty", REG_SZ, Sz("")},
                      {"Base\\Q", "expand", REG_EXPAND_SZ, Sz("x")},
                      {"Base\\Q", "bin", REG_BINARY, "abc"},
                      {"Base\\Q", "two", REG_SZ, "second"},
                      {"Base\\Q", "huge", REG_SZ, Sz(std::string(8172, 'h'))},
                      {"Base\\Q", "fits", REG_SZ, Sz(std::string(8171, 'f'))},
                      KeyOnly("Base\\Empty")}),
            platform::kErrorSuccess);
  RegistryAccess access(Hive::kLocalMachine, "Base");
  std::vector<std::string> names{"stale"}, data{"stale"};
  access.ReadStringValues(&names, &data, "Q", REG_SZ);
  EXPECT_EQ(names, (std::vector<std::string>{"one", "two", "fits"}));
  ASSERT_EQ(data.size(), 3u);
  EXPECT_EQ(data[0], "first");
  EXPECT_EQ(data[1], "second");
  EXPECT_EQ(data[2], std::string(8171, 'f'));

  access.ReadStringValues(&names, &data, "Q", REG_EXPAND_SZ);
  EXPECT_EQ(names, (std::vector<std::string>{"expand"}));
  access.ReadStringValues(&names, &data, "Empty", REG_SZ);
  EXPECT_TRUE(names.empty() && data.empty());
  // A key that does not open leaves the lists as they are.
  names = {"kept"};
  access.ReadStringValues(&names, &data, "Missing", REG_SZ);
  EXPECT_EQ(names, (std::vector<std::string>{"kept"}));
}

}  // namespace
}  // namespace kavelo
