#include "tools/jobs_command.h"

#include <gtest/gtest.h>

#include <sstream>

#include "jobs/job_history.h"
#include "testsupport/temp_registry.h"

namespace kavelo {
namespace {

TEST(JobsCommandTest, DurationsReadWithTheirUnitAndNothingElse) {
  struct Row {
    const char* text;
    bool ok;
    int64_t ms;
  };
  const Row rows[] = {{"90", true, 90000},   {"90s", true, 90000},  {"15m", true, 900000},
                      {"2h", true, 7200000}, {"7d", true, 604800000}, {"", false, 0},
                      {"h", false, 0},       {"2x", false, 0},      {"2hh", false, 0},
                      {"-2h", false, 0},     {"1234567890d", false, 0}};
  for (const Row& row : rows) {
    int64_t ms = -1;
    EXPECT_EQ(ParseDuration(row.text, &ms), row.ok) << row.text;
    if (row.ok) {
      EXPECT_EQ(ms, row.ms) << row.text;
    }
  }
}

// A client's title never spreads over lines or reaches the terminal as
// control characters.
TEST(JobsCommandTest, AJobLineIsOneLineWhateverTheClientSent) {
  jobs::JobRecord job;
  job.number = 42;
  job.state = jobs::JobState::kQueued;
  job.receivedMs = 1000000;
  job.printer = "Office";
  job.copies = 2;
  job.fromPage = 1;
  job.toPage = 3;
  job.xmlBytes = 20000;
  job.title = "Sales\n\x1b[2Jreport";
  job.clientAddress = "10.0.0.5";
  job.clientPort = 51000;
  std::string line = FormatJobLine(job, 1000000 + 3 * 3600000);
  EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
  EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
  for (const char* part : {"42", "queued", "3h", "Office", "1-3", "19K", "Sales??[2Jreport",
                           "10.0.0.5:51000"}) {
    EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
  }
}

TEST(JobsCommandTest, UsageErrorsAndAMissingHistoryHaveTheirExitStatus) {
  testsupport::TempRegistry registry;  // no history in it
  struct Row {
    std::vector<std::string> args;
    int exitCode;
  };
  const Row rows[] = {
      {{"--help"}, kJobsExitOk},          {{"--bogus"}, kJobsExitUsage},
      {{"show"}, kJobsExitUsage},         {{"show", "x"}, kJobsExitUsage},
      {{"show", "0"}, kJobsExitUsage},    {{"cancel", "1", "2"}, kJobsExitUsage},
      {{"--failed"}, kJobsExitUsage},     {{"hold", "1", "--json"}, kJobsExitUsage},
      {{}, kJobsExitUnreachable},         {{"show", "1"}, kJobsExitUnreachable},
      {{"cancel", "1"}, kJobsExitUnreachable},
  };
  for (const Row& row : rows) {
    std::ostringstream out, err;
    EXPECT_EQ(RunJobsCommand(row.args, out, err), row.exitCode)
        << ::testing::PrintToString(row.args) << err.str();
  }
}

}  // namespace
}  // namespace kavelo
