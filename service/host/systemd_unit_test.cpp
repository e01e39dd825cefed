#include "service/host/systemd_unit.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "testsupport/files.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"

namespace kavelo::service {
namespace {

TEST(SystemdUnitTest, TextQuotesWhatSystemdWouldOtherwiseExpand) {
  SystemdUnitSettings settings;
  settings.description = "KAVELO - Brelvane 100%";
  settings.programPath = "/opt/ka velo/Brel\"vane";
  settings.account = "printsvc";
  settings.environment = {"KAVELO_REGISTRY_DIR=/var/lib/%h\\x"};
  std::string text = SystemdUnitText(settings);
  for (const char* line : {"Description=KAVELO - Brelvane 100%%\n", "Type=notify\n",
                           "ExecStart=\"/opt/ka velo/Brel\\\"vane\"\n", "User=printsvc\n",
                           "Environment=\"KAVELO_REGISTRY_DIR=/var/lib/%%h\\\\x\"\n",
                           "KillMode=mixed\n", "WantedBy=multi-user.target\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
  // The system account runs as root: systemd's default, no User line.
  for (const char* account : {"", "LocalSystem", "localSYSTEM"}) {
    settings.account = account;
    EXPECT_EQ(SystemdUnitText(settings).find("User="), std::string::npos) << account;
  }
  EXPECT_EQ(SystemdUnitName("Brelvane"), "brelvane.service");
}

TEST(SystemdUnitTest, WriteReplacesAndRemoveToleratesAMissingUnit) {
  testsupport::TempDir folder("unit_test");
  const std::string dir = folder.path();
  testsupport::ScopedEnv unitDir("KAVELO_SYSTEMD_UNIT_DIR", dir);
  EXPECT_EQ(SystemdUnitDirectory(), dir);
  ASSERT_EQ(WriteSystemdUnit(dir, "brelvane.service", "first\n"), 0);
  ASSERT_EQ(WriteSystemdUnit(dir, "brelvane.service", "second\n"), 0);
  EXPECT_EQ(testsupport::ReadFile(dir + "/brelvane.service"), "second\n");
  EXPECT_FALSE(std::filesystem::exists(dir + "/brelvane.service.tmp"));
  EXPECT_EQ(RemoveSystemdUnit(dir, "brelvane.service"), 0);
  EXPECT_EQ(RemoveSystemdUnit(dir, "brelvane.service"), 0);
  EXPECT_EQ(WriteSystemdUnit(dir + "/missing", "brelvane.service", "x"), ENOENT);
}

TEST(SystemdUnitTest, PackagedUnitIsTheFirstFolderHoldingAFileOfThatName) {
  testsupport::TempDir folder("unit_test");
  const std::string dir = folder.path();
  for (const char* sub : {"/lib", "/usr", "/usr/brelvane.service"})
    std::filesystem::create_directories(dir + sub);
  std::ofstream(dir + "/lib/brelvane.service") << "[Unit]\n";
  struct Case {
    std::vector<std::string> folders;
    std::string unit;
    std::string expected;
  } cases[] = {
      {{dir + "/lib", dir + "/usr"}, "brelvane.service", dir + "/lib/brelvane.service"},
      {{dir + "/none", dir + "/lib"}, "brelvane.service", dir + "/lib/brelvane.service"},
      {{dir + "/usr"}, "brelvane.service", ""},  // a folder of that name is no unit
      {{dir + "/lib"}, "other.service", ""},
      {{}, "brelvane.service", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PackagedSystemdUnit(c.unit, c.folders), c.expected) << c.unit;
  }
}

}  // namespace
}  // namespace kavelo::service
