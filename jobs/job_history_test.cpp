#include "jobs/job_history.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "jobs/job_json.h"
#include "jobs/job_settings.h"
#include "testsupport/temp_dir.h"
#include "testsupport/temp_registry.h"

namespace kavelo::jobs {
namespace {

constexpr int64_t kDay = 86400000;
constexpr int64_t kNow = 1800000000000;  // 2027-01-15

JobRecord Job(int64_t number, JobState state, int64_t endedMs = 0, int64_t order = 0) {
  JobRecord job;
  job.number = number;
  job.state = state;
  job.receivedMs = kNow - 10 * kDay;
  job.endedMs = endedMs;
  job.queueOrder = order;
  job.commandLine = "line " + std::to_string(number);
  return job;
}

std::vector<int64_t> Numbers(const std::vector<JobRecord>& jobs) {
  std::vector<int64_t> numbers;
  for (const JobRecord& job : jobs) numbers.push_back(job.number);
  return numbers;
}

class JobHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(history_.Open(dir_.File("jobs.db"), JobHistory::Mode::kReadWrite))
        << history_.lastError();
  }
  testsupport::TempDir dir_{"kavelo-jobs"};
  JobHistory history_;
};

TEST_F(JobHistoryTest, ListsPrintingThenWaitingInPrintOrderAndEndedNewestFirst) {
  for (const JobRecord& job :
       {Job(1, JobState::kPrinted, kNow - 3 * kDay), Job(2, JobState::kFailed, kNow - kDay),
        Job(3, JobState::kQueued, 0, 30), Job(4, JobState::kHeld, 0, 10),
        Job(5, JobState::kQueued, 0, 20), Job(6, JobState::kCancelled, kNow - 2 * kDay),
        Job(7, JobState::kQueued, 0, 40)}) {
    ASSERT_TRUE(history_.Add(job)) << history_.lastError();
  }
  ASSERT_TRUE(history_.MarkStarted(7, kNow));
  struct Row {
    const char* what;
    bool current;
    HistoryFilter filter;
    std::vector<int64_t> expected;
  };
  const Row rows[] = {
      {"current", true, {}, {7, 4, 5, 3}},
      {"history", false, {}, {2, 6, 1}},
      {"since two days", false, {kNow - 2 * kDay, false}, {2, 6}},
      {"failed only", false, {0, true}, {2}},
  };
  for (const Row& row : rows) {
    std::vector<JobRecord> jobs;
    ASSERT_TRUE(row.current ? history_.ListCurrent(&jobs) : history_.ListHistory(row.filter, &jobs));
    EXPECT_EQ(Numbers(jobs), row.expected) << row.what;
  }
  JobRecord started;
  ASSERT_TRUE(history_.Find(7, &started));
  EXPECT_EQ(started.state, JobState::kPrinting);
  EXPECT_DOUBLE_EQ(started.waitSeconds, 10 * 86400.0);
}

TEST_F(JobHistoryTest, AnEndIsAFailureWhenTheExitOrARecordedTextSaysSo) {
  struct Row {
    const char* what;
    int32_t exitStatus;
    std::string recorded;  // by the print control
    std::string serviceText;
    bool keep;
    JobState expected;
    std::string failure;
    bool filesKept;
  };
  const Row rows[] = {
      {"clean end", 0, "", "", true, JobState::kPrinted, "", false},
      {"print control failure", 0, "Ostrevo: Error:printer off", "", true, JobState::kFailed,
       "Ostrevo: Error:printer off", true},
      {"killed", 137, "", "killed by signal 9", false, JobState::kFailed, "killed by signal 9",
       false},
      {"first text stays", 137, "Ostrevo: first", "second", true, JobState::kFailed,
       "Ostrevo: first", true},
  };
  int64_t number = 100;
  for (const Row& row : rows) {
    ++number;
    ASSERT_TRUE(history_.Add(Job(number, JobState::kPrinting)));
    if (!row.recorded.empty()) {
      ASSERT_TRUE(history_.RecordFailure(number, kNow, row.recorded));
    }
    JobState state;
    ASSERT_TRUE(history_.MarkEnded(number, kNow, row.exitStatus, row.serviceText, row.keep, &state));
    JobRecord job;
    std::vector<JobEvent> events;
    ASSERT_TRUE(history_.Find(number, &job, &events));
    EXPECT_EQ(state, row.expected) << row.what;
    EXPECT_EQ(job.state, row.expected) << row.what;
    EXPECT_EQ(job.failure, row.failure) << row.what;
    EXPECT_EQ(job.filesKept, row.filesKept) << row.what;
    EXPECT_EQ(job.exitStatus, row.exitStatus) << row.what;
    // The recorded failure is the text of the job's event.
    if (!row.recorded.empty()) {
      ASSERT_EQ(events.size(), 1u) << row.what;
      EXPECT_EQ(events[0].text, row.recorded);
    }
  }
  EXPECT_FALSE(history_.MarkStarted(999, kNow)) << "an unknown job is no success";
}

TEST_F(JobHistoryTest, RetentionPrunesByAgeThenByCountAndKeepsCurrentAndKeptJobs) {
  struct Row {
    const char* what;
    int32_t days;
    int64_t maxJobs;
    std::vector<int64_t> left;  // ended jobs left, newest first
  };
  const Row rows[] = {
      {"nothing old", 30, 100, {5, 4, 3, 2, 1}},
      {"older than 3 days", 3, 100, {5, 4, 3, 1}},
      {"at most two", 30, 2, {5, 4, 1}},
      {"both", 1, 1, {5, 1}},
  };
  for (const Row& row : rows) {
    testsupport::TempDir dir("kavelo-jobs");
    JobHistory history;
    ASSERT_TRUE(history.Open(dir.File("jobs.db"), JobHistory::Mode::kReadWrite));
    // Job 1 is failed with its files kept: it waits for its files' end.
    for (int64_t n = 1; n <= 5; ++n) {
      ASSERT_TRUE(history.Add(Job(n, n == 1 ? JobState::kFailed : JobState::kPrinted,
                                  kNow - (6 - n) * kDay + 1000)));
      ASSERT_TRUE(history.AddEvent(n, kNow, "information", "event"));
    }
    ASSERT_TRUE(history.SetFilesKept(1, true));
    ASSERT_TRUE(history.Add(Job(6, JobState::kQueued)));
    ASSERT_TRUE(history.Prune(kNow, row.days, row.maxJobs));
    std::vector<JobRecord> ended, current;
    ASSERT_TRUE(history.ListHistory({}, &ended));
    ASSERT_TRUE(history.ListCurrent(&current));
    EXPECT_EQ(Numbers(ended), row.left) << row.what;
    EXPECT_EQ(Numbers(current), std::vector<int64_t>{6}) << row.what;
    JobRecord gone;
    std::vector<JobEvent> events;
    if (row.left.size() < 5) {
      EXPECT_FALSE(history.Find(2, &gone, &events)) << row.what;
    }
  }
}

TEST_F(JobHistoryTest, TheJsonFormCarriesEveryFieldAndSurvivesHostileTexts) {
  JobRecord job = Job(42, JobState::kFailed, kNow + 250);
  job.title = std::string("Quarterly \"report\"\n\xff\xfe");
  job.clientAddress = "127.0.0.1";
  job.clientPort = 51000;
  job.exitStatus = 0;
  job.failure = "Ostrevo: Error:printer off";
  job.retryOf = 41;
  std::string text = JobDetailJson(job, {{42, kNow, "error", "Ostrevo: Error:printer off"}});
  nlohmann::json parsed = nlohmann::json::parse(text);
  const nlohmann::json& object = parsed.at("job");
  for (const char* field :
       {"number", "state", "received", "started", "ended", "client_address", "client_port",
        "title", "printer", "copies", "from_page", "to_page", "orientation", "xml_bytes",
        "xsl_bytes", "documents", "wait_seconds", "transform_seconds", "render_seconds",
        "spool_seconds", "exit_status", "failure", "settings_group", "retry_of", "retried_as",
        "files_kept", "events"}) {
    EXPECT_TRUE(object.contains(field)) << field;
  }
  EXPECT_FALSE(object.contains("command_line"));
  EXPECT_EQ(object.at("state"), "failed");
  EXPECT_EQ(object.at("ended"), "2027-01-15T08:00:00.250Z");
  EXPECT_TRUE(object.at("started").is_null());
  EXPECT_EQ(object.at("retry_of"), 41);
  EXPECT_EQ(object.at("events").at(0).at("text"), object.at("failure"));
  // The list, a job at a time, is the document the library makes at once.
  nlohmann::ordered_json whole = {{"jobs", {nlohmann::ordered_json::parse(text).at("job"),
                                            nlohmann::ordered_json::parse(text).at("job")}}};
  whole["jobs"][0].erase("events");
  whole["jobs"][1].erase("events");
  EXPECT_EQ(JobListJson({job, job}), whole.dump(-1, ' ', false,
                                                 nlohmann::json::error_handler_t::replace) +
                                         "\n");
}

TEST(JobNumbersTest, NumbersAreNeverGivenTwiceOverRestarts) {
  testsupport::TempRegistry registry;
  std::vector<int64_t> given;
  // Three runs; each ends at once after a few numbers, as a crash would.
  for (int run = 0; run < 3; ++run) {
    JobNumbers numbers;
    ASSERT_TRUE(numbers.Start("Brelvane", run == 2 ? 100000 : 0));
    for (int i = 0; i < 3; ++i) {
      bool failed = true;
      given.push_back(numbers.Next(&failed));
      EXPECT_FALSE(failed);
    }
  }
  for (size_t i = 1; i < given.size(); ++i) EXPECT_GT(given[i], given[i - 1]) << i;
  EXPECT_GT(given.back(), 100000) << "a history that holds higher numbers raises the floor";
}

}  // namespace
}  // namespace kavelo::jobs
