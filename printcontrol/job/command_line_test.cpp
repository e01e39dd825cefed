#include "printcontrol/job/command_line.h"

#include <gtest/gtest.h>

namespace kavelo::printcontrol {
namespace {

TEST(CommandLineTest, UtilityDirectory) {
  struct Case {
    const char* programPath;
    const char* commandLine;
    bool found;
    const char* directory;
  } cases[] = {
      {"/opt/kavelo/PrintService/Ostrevo", "", true, "/opt/kavelo/PrintService"},
      {"/Ostrevo", "", false, ""},
      {"", "/opt/k/ostrevo /opt/k/Ostrevo xml=a", true, "/opt/k"},  // any letter case
      {"", "/opt/k/OSTREVO", true, "/opt/k"},
      {"", "Ostrevo xml=a", false, ""},
      {"", "/opt/k/orlendi xml=a", false, ""},
      {"", "/opt/k//Ostrevo", true, "/opt/k/"},  // one trailing "/" removed
  };
  for (const Case& c : cases) {
    char directory[kValueSize] = "junk";
    EXPECT_EQ(c.found,
              FindUtilityDirectory(c.programPath, c.commandLine, directory, sizeof(directory)))
        << c.programPath << " | " << c.commandLine;
    EXPECT_STREQ(c.directory, directory) << c.programPath << " | " << c.commandLine;
  }
}

}  // namespace
}  // namespace kavelo::printcontrol
