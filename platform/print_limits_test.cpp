#include "platform/print_limits.h"

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/registry.h"
#include "testsupport/temp_dir.h"
#include "testsupport/temp_registry.h"

namespace kavelo::platform {
namespace {

constexpr int64_t kMiB = 1048576;

// The values read (defaults for missing, 0 or mistyped values) and the
// limits derived from them.
TEST(PrintLimitsTest, ValuesAndTheLimitsDerivedFromThem) {
  struct Case {
    const char* name;
    uint32_t type;  // of every value written; REG_NONE: none written
    uint32_t value;
    uint32_t timeout, memory, perMiB, factor;
    int workers;  // 0: the processors online
    uint32_t printThreads;
  };
  const Case cases[] = {
      {"no values", REG_NONE, 0, 7200000, 4096, 5000, 8, 0, 1},
      {"zero values", REG_DWORD, 0, 7200000, 4096, 5000, 8, 0, 1},
      {"strings", REG_SZ, 7, 7200000, 4096, 5000, 8, 0, 1},
      {"set", REG_DWORD, 3, 3, 3, 3, 3, 3, 3},
      {"huge", REG_DWORD, 100000, 100000, 100000, 100000, 100000, 64, 16},
  };
  const int processors = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
  for (const Case& c : cases) {
    testsupport::TempRegistry registry;
    RegKey key;
    ASSERT_EQ(RegCreateKey(Hive::kLocalMachine, kPrintLimitsKey, KEY_WRITE, &key), 0);
    for (const char* name : {"PrintControlTimeout", "PrintControlMemoryLimit", "TransformTimePerMB",
                             "HtmlSizeFactor", "RenderWorkers", "PrintThreads"}) {
      if (c.type != REG_NONE) RegSetValue(key, name, c.type, &c.value, sizeof c.value);
    }
    PrintLimits limits = ReadPrintLimits();
    EXPECT_EQ(limits.printControlTimeoutMs, c.timeout) << c.name;
    EXPECT_EQ(limits.memoryMiB, c.memory) << c.name;
    EXPECT_EQ(limits.transformTimePerMiBMs, c.perMiB) << c.name;
    EXPECT_EQ(limits.htmlSizeFactor, c.factor) << c.name;
    EXPECT_EQ(limits.RenderWorkerCount(), c.workers != 0 ? c.workers : processors) << c.name;
    EXPECT_EQ(limits.printThreads, c.printThreads) << c.name;
  }
  PrintLimits limits;
  EXPECT_EQ(limits.TransformTimeMs(0), 60000);               // the floor
  EXPECT_EQ(limits.TransformTimeMs(12 * kMiB), 60000);       // still the floor
  EXPECT_EQ(limits.TransformTimeMs(57 * kMiB + 1), 290000);  // every started MiB counts
  EXPECT_EQ(limits.HtmlSizeBytes(0), 64 * kMiB);
  EXPECT_EQ(limits.HtmlSizeBytes(57 * kMiB), (8 * 57 + 64) * kMiB);
  EXPECT_EQ(limits.AddressSpaceBytes(), kAddressSpaceLimitApplies ? 4096 * kMiB : 0);
}

// Everything of a job that the print control could leave, found from the
// job command line alone; other jobs' files stay.
TEST(PrintLimitsTest, RemoveJobFilesLeavesNothingOfTheJob) {
  testsupport::TempDir folder("kavelo-jobfiles");
  const std::string dir = folder.path();
  const std::vector<std::string> job = {"00000007.xml", "00000007.xsl", "00000007st.xsl",
                                        "000000070.xml", "000000071.xml"};
  const std::vector<std::string> others = {"00000008.xml", "00000008.xsl", "000000073.xml"};
  for (const auto& n : job) std::ofstream(dir + "/" + n) << "x";
  for (const auto& n : others) std::ofstream(dir + "/" + n) << "x";
  mkdir((dir + "/00000007.xml.work").c_str(), 0700);
  mkdir((dir + "/00000007.xml.work/orlendi-x").c_str(), 0700);
  std::ofstream(dir + "/00000007.xml.work/orlendi-x/page.pdf") << "x";
  RemoveJobFiles("\"/opt/Ostrevo\" \"/opt/Ostrevo\" xml=" + dir + "/00000007.xml;xsl=" + dir +
                 "/00000007.xsl;fromPage=1;toPage=2;printerName=p;copy=1;orien=0");
  for (const auto& n : job) EXPECT_NE(access((dir + "/" + n).c_str(), F_OK), 0) << n;
  EXPECT_NE(access((dir + "/00000007.xml.work").c_str(), F_OK), 0);
  // Chunk 2 is missing, so chunk 3 is not the job's (a split numbers from 0
  // without gaps).
  for (const auto& n : others) EXPECT_EQ(access((dir + "/" + n).c_str(), F_OK), 0) << n;
}

// A work folder is made locked, and counts as abandoned only once its
// maker has let go; a folder that holds something is never taken over.
TEST(PrintLimitsTest, AWorkFolderIsAbandonedOnlyWhenNoOneHoldsItsLock) {
  testsupport::TempDir folder("kavelo-workfolder");
  const std::string work = folder.path() + "/00000007.xml.work";
  EXPECT_FALSE(JobWorkFolderAbandoned(work));  // none yet
  int lock = MakeLockedJobWorkFolder(work);
  ASSERT_GE(lock, 0);
  std::ofstream(work + "/held-jobs") << "x";
  EXPECT_FALSE(JobWorkFolderAbandoned(work));
  EXPECT_LT(MakeLockedJobWorkFolder(work), 0);
  EXPECT_NE(access((work + ".new").c_str(), F_OK), 0);
  close(lock);
  EXPECT_TRUE(JobWorkFolderAbandoned(work));
}

}  // namespace
}  // namespace kavelo::platform
