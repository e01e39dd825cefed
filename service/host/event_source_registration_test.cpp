#include "service/host/event_source_registration.h"

#include <stdlib.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "testsupport/temp_registry.h"

namespace kavelo::service {
namespace {

using platform::Hive;
using platform::RegKey;
using testsupport::KeyExists;

TEST(EventSourceRegistrationTest, AddWritesTheMessageFileAndTypes) {
  testsupport::TempRegistry registry;
  const std::string program = "/opt/kavelo/PrintService/Brelvane";
  ASSERT_TRUE(AddEventSource(program, "Brelvane", kEventTypesSupported));

  RegKey key;
  ASSERT_EQ(platform::RegOpenKey(Hive::kLocalMachine,
                                 "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
                                 "Brelvane",
                                 platform::KEY_READ, &key),
            platform::kErrorSuccess);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(platform::RegQueryValue(key, "EventMessageFile", &type, &data),
            platform::kErrorSuccess);
  EXPECT_EQ(type, platform::REG_EXPAND_SZ);
  std::string expected = program + '\0';
  EXPECT_EQ(std::string(data.begin(), data.end()), expected);
  ASSERT_EQ(platform::RegQueryValue(key, "TypesSupported", &type, &data), platform::kErrorSuccess);
  EXPECT_EQ(type, platform::REG_DWORD);
  EXPECT_EQ(data, (std::vector<uint8_t>{7, 0, 0, 0}));

  // Adding again opens the key and writes the new program.
  ASSERT_TRUE(AddEventSource("/usr/local/bin/Brelvane", "Brelvane", 4));
  ASSERT_EQ(platform::RegQueryValue(key, "EventMessageFile", &type, &data),
            platform::kErrorSuccess);
  EXPECT_STREQ(reinterpret_cast<const char*>(data.data()), "/usr/local/bin/Brelvane");
  ASSERT_EQ(platform::RegQueryValue(key, "TypesSupported", &type, &data), platform::kErrorSuccess);
  EXPECT_EQ(data, (std::vector<uint8_t>{4, 0, 0, 0}));
}

TEST(EventSourceRegistrationTest, RemoveDeletesOnlyThatSource) {
  testsupport::TempRegistry registry;
  ASSERT_TRUE(AddEventSource("/opt/kavelo/PrintService/Brelvane", "Brelvane", 7));
  ASSERT_TRUE(AddEventSource("/opt/kavelo/PrintService/Ostrevo", "Ostrevo", 7));
  EXPECT_TRUE(RemoveEventSource("brelvane"));  // key names ignore case
  EXPECT_FALSE(KeyExists(EventSourceKeyPath("Brelvane")));
  EXPECT_TRUE(KeyExists(EventSourceKeyPath("Ostrevo")));
  EXPECT_FALSE(RemoveEventSource("Brelvane"));
}

TEST(EventSourceRegistrationTest, NamesThatAreNotOneKeyAreRefused) {
  testsupport::TempRegistry registry;
  for (const char* name : {"", "Brelvane\\Sub", "\\"}) {
    EXPECT_FALSE(AddEventSource("/opt/kavelo/x", name, 7)) << name;
    EXPECT_FALSE(RemoveEventSource(name)) << name;
  }
  // Nothing was written below the Application log, not even its own values.
  EXPECT_FALSE(KeyExists("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application"));
}

TEST(EventSourceRegistrationTest, UnwritableRegistryFails) {
  testsupport::TempRegistry registry;
  const std::string notAFolder = registry.dir() + "/file";
  std::ofstream(notAFolder) << "x";
  setenv("KAVELO_REGISTRY_DIR", notAFolder.c_str(), 1);
  EXPECT_FALSE(AddEventSource("/opt/kavelo/x", "Brelvane", 7));
  EXPECT_FALSE(RemoveEventSource("Brelvane"));
}

}  // namespace
}  // namespace kavelo::service
