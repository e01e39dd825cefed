#include "printcontrol/job/spool_files.h"

#include <unistd.h>

#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace kavelo::printcontrol {
namespace {

using testsupport::FileExists;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(SpoolFilesTest, OnlyRegularJobFilesOfThisUserAreRemoved) {
  TempDir folder;
  const std::string dir = folder.path();
  ASSERT_EQ(0, mkdir((dir + "/folder.xml").c_str(), 0700));
  WriteFile(dir + "/target.txt", "t");
  ASSERT_EQ(0, symlink((dir + "/target.txt").c_str(), (dir + "/link.xml").c_str()));
  struct Case {
    std::string path;  // written as a file first unless it exists
    const char* extension;
    bool removed;
  } cases[] = {
      {dir + "/00000001.xml", ".xml", true},
      {dir + "/00000001st.xsl", ".xsl", true},
      {dir + "/00000001.xsl", ".xml", false},  // the other kind
      {dir + "/00000001.XML", ".xml", false},
      {dir + "/.xml", ".xml", false},
      {dir + "/folder.xml", ".xml", false},
      {dir + "/link.xml", ".xml", false},
      {dir + "/./00000002.xml", ".xml", false},
      {dir + "/folder.xml/../00000003.xml", ".xml", false},
      {"00000004.xml", ".xml", false},  // relative: would depend on the working folder
      {dir + "/owned-by-nobody.xml", ".xml", false},
  };
  char home[4096];
  ASSERT_NE(nullptr, getcwd(home, sizeof(home)));
  ASSERT_EQ(0, chdir(dir.c_str()));
  for (const Case& c : cases) {
    if (!FileExists(c.path)) WriteFile(c.path, "x");
    if (c.path.find("nobody") != std::string::npos) {
      // Root may give the file away; other users cannot make this case.
      if (geteuid() != 0 || chown(c.path.c_str(), 65534, 65534) != 0) continue;
    }
    EXPECT_EQ(c.removed, RemoveSpoolFile(c.path, c.extension)) << c.path;
    struct stat info;
    EXPECT_EQ(c.removed, lstat(c.path.c_str(), &info) != 0) << c.path;
  }
  EXPECT_TRUE(FileExists(dir + "/target.txt"));
  ASSERT_EQ(0, chdir(home));
}

}  // namespace
}  // namespace kavelo::printcontrol
