#include "protocol/held_jobs_file.h"

#include <gtest/gtest.h>

namespace kavelo::protocol {
namespace {

TEST(HeldJobsFileTest, LinesReadBackAndWhatCannotBeReadIsNeitherWrittenNorRead) {
  std::string text = FormatHeldFileLine("P 1", "/w/a b.html") + FormatHeldJobLine("P 1", 17);
  for (const std::string& bad :
       {FormatHeldFileLine("P\t1", "/w/a.html"), FormatHeldFileLine("P", "/w/a\n.html"),
        FormatHeldFileLine("", "/w/a.html"), FormatHeldJobLine("P", 0),
        FormatHeldJobLine("P", -3)}) {
    EXPECT_EQ(bad, "");
  }
  text += "job\tP\t12x\nfile\tP\n\njob\tP\t99999999999\nother\tP\t3\njob\tP\t5";
  std::vector<HeldJobEntry> entries = ParseHeldJobs(text);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].printer, "P 1");
  EXPECT_EQ(entries[0].htmlPath, "/w/a b.html");
  EXPECT_EQ(entries[0].jobId, 0);
  EXPECT_EQ(entries[1].printer, "P 1");
  EXPECT_EQ(entries[1].jobId, 17);
  EXPECT_EQ(entries[1].htmlPath, "");
}

}  // namespace
}  // namespace kavelo::protocol
