#include "printcontrol/printing/job_watcher.h"

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "printcontrol/test/fake_spooler.h"

namespace kavelo::printcontrol {
namespace {

using platform::kJobStatusPaused;
using platform::kJobStatusPrinting;
using platform::kJobStatusSpooling;
using testsupport::FakeJob;
using testsupport::FakeSpooler;
using testsupport::FakeSpoolerState;

// What the queue holds from a given look on (1 is the first look).
struct Step {
  int fromLook;
  std::vector<FakeJob> jobs;
  int listStatus;
};

struct WatcherCase {
  const char* name;
  int copies;
  std::vector<Step> steps;
  int endsAtLook;  // 0: never ends by itself
};

const char kHtml[] = "/spool/093015.html";

FakeJob Own(int32_t id, uint32_t status) { return {id, "alice", kHtml, status}; }

std::shared_ptr<FakeSpoolerState> ScriptedState(const std::vector<Step>& steps) {
  auto state = std::make_shared<FakeSpoolerState>();
  state->AddPrinter("P", "file:///dev/null");
  state->beforeListJobs = [steps](FakeSpoolerState& s) {
    for (const Step& step : steps) {
      if (s.listJobsCalls >= step.fromLook) {
        s.queues["P"] = step.jobs;
        s.listJobsStatus = step.listStatus;
      }
    }
  };
  return state;
}

TEST(JobWatcherTest, EndsWhenTheLastCopyHasLeftTheActiveStates) {
  const int ok = platform::kSpoolerOk;
  const WatcherCase cases[] = {
      {"two copies, one after the other",
       2,
       {{1, {}, ok},
        {3, {Own(1, kJobStatusPrinting)}, ok},
        {6, {}, ok},
        {7, {Own(2, kJobStatusSpooling)}, ok},
        {10, {Own(2, kJobStatusPrinting)}, ok},
        {11, {}, ok}},
       11},
      {"one copy held after printing",
       1,
       {{1, {Own(5, kJobStatusPrinting)}, ok}, {4, {Own(5, kJobStatusPaused)}, ok}},
       4},
      {"another user's job does not count",
       1,
       {{1, {{3, "bob", kHtml, kJobStatusPrinting}}, ok},
        {3, {}, ok},
        {5, {Own(4, kJobStatusPrinting)}, ok},
        {7, {}, ok}},
       7},
      {"a failed look is not taken for done",
       1,
       {{1, {Own(1, kJobStatusPrinting)}, ok},
        {3, {}, platform::kSpoolerUnavailable},
        {6, {Own(1, kJobStatusPrinting)}, ok},
        {7, {}, ok}},
       7},
      {"two copies, both queued, the newest printed last",
       2,
       {{1, {Own(8, kJobStatusPrinting), Own(9, kJobStatusSpooling)}, ok},
        {4, {Own(9, kJobStatusPrinting)}, ok},
        {5, {}, ok}},
       5},
      {"two copies but only one job ever",
       2,
       {{1, {Own(1, kJobStatusPrinting)}, ok}, {3, {}, ok}},
       0},
  };
  for (const WatcherCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto state = ScriptedState(c.steps);
    SetWatcherValues(c.copies, kHtml, "P");
    WatcherThread watcher;
    ASSERT_EQ(0, watcher.Start([state] { return std::make_unique<FakeSpooler>(state); }, "ALICE"));
    bool ended = watcher.WaitEnded(c.endsAtLook == 0 ? 800 : 10000);
    StopWatcherThread(&watcher);
    EXPECT_FALSE(watcher.Exists());
    std::lock_guard<std::mutex> lock(state->mu);
    if (c.endsAtLook == 0) {
      EXPECT_FALSE(ended);
    } else {
      EXPECT_TRUE(ended);
      EXPECT_EQ(c.endsAtLook, state->listJobsCalls);
    }
  }
}

TEST(JobWatcherTest, StopEndsAWatcherPromptlyAndStopIsSafeWithoutOne) {
  auto state = ScriptedState({{1, {Own(1, kJobStatusPrinting)}, platform::kSpoolerOk}});
  SetWatcherValues(1, kHtml, "P");
  WatcherThread watcher;
  StopWatcherThread(&watcher);  // none yet: nothing happens
  ASSERT_EQ(0, watcher.Start([state] { return std::make_unique<FakeSpooler>(state); }, "alice"));
  EXPECT_EQ(-1, watcher.Start([state] { return std::make_unique<FakeSpooler>(state); }, "alice"));
  EXPECT_FALSE(watcher.WaitEnded(5));
  auto start = std::chrono::steady_clock::now();
  StopWatcherThread(&watcher);
  // The grace period, then at most one poll pause: far below the stop limit.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_FALSE(watcher.Exists());
  StopWatcherThread(&watcher);
}

TEST(JobWatcherTest, WithoutASpoolerWaitsForItsStop) {
  SetWatcherValues(1, kHtml, "P");
  WatcherThread watcher;
  ASSERT_EQ(0, watcher.Start([] { return std::unique_ptr<platform::Spooler>(); }, "alice"));
  EXPECT_FALSE(watcher.WaitEnded(200));  // no claim that the jobs are done
  StopWatcherThread(&watcher);
  EXPECT_FALSE(watcher.Exists());
}

TEST(JobWatcherTest, ValuesAreCutToTheirFields) {
  std::string longPath(700, 'x');
  SetWatcherValues(3, longPath.c_str(), nullptr);
  EXPECT_EQ(3, GetWatcherValues().copies);
  EXPECT_EQ(std::string(511, 'x'), GetWatcherValues().htmlPath);
  EXPECT_STREQ("", GetWatcherValues().printerName);
}

}  // namespace
}  // namespace kavelo::printcontrol
