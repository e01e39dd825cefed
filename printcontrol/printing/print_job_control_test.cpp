#include "printcontrol/printing/print_job_control.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "printcontrol/printing/spool_job_list.h"
#include "printcontrol/render/string_list.h"
#include "printcontrol/test/fake_spooler.h"

namespace kavelo::printcontrol {
namespace {

using platform::JobCommand;
using platform::PrinterAccess;
using testsupport::FakeJob;
using testsupport::FakeSpooler;
using testsupport::FakeSpoolerState;

class PrintJobControlTest : public ::testing::Test {
 protected:
  PrintJobControlTest() : state_(std::make_shared<FakeSpoolerState>()), spooler_(state_) {}
  std::shared_ptr<FakeSpoolerState> state_;
  FakeSpooler spooler_;
};

TEST_F(PrintJobControlTest, ResolvePrinterNameKeepsSpellingAndMapsPorts) {
  state_->AddPrinter("Office-Laser", "ipp://10.0.0.7/ipp/print");
  state_->AddPrinter("Raw", "file:///dev/null");
  state_->AddPrinter("Raw-Second", "file:///dev/null");
  state_->AddPrinter("", "usb://nameless");
  state_->AddPrinter("Blank; Name \"q\" \\", "socket://h:9100");
  struct Case {
    const char* given;
    const char* expected;
  } cases[] = {
      {"Office-Laser", "Office-Laser"},
      {"office-LASER", "office-LASER"},  // case differs: the given spelling stays
      {"IPP://10.0.0.7/ipp/print", "Office-Laser"},
      {"file:///dev/null", "Raw"},  // the first printer on that port
      {"blank; name \"Q\" \\", "blank; name \"Q\" \\"},
      {"socket://h:9100", "Blank; Name \"q\" \\"},
      {"usb://nameless", ""},  // a port whose printer has no name
      {"Office", ""},          // a prefix is not the name
      {"Nowhere", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    char result[512] = "stale";
    ResolvePrinterName(spooler_, c.given, result, sizeof result);
    EXPECT_STREQ(c.expected, result) << "given: " << c.given;
  }
}

TEST_F(PrintJobControlTest, ResolvePrinterNameNeverOverflowsItsResult) {
  std::string longName(600, 'P');
  state_->AddPrinter(longName, "lpd://long");
  char small[16];
  std::memset(small, 'x', sizeof small);
  ResolvePrinterName(spooler_, "lpd://long", small, sizeof small);
  EXPECT_STREQ("", small);  // a cut name would be another printer
  char big[1024];
  ResolvePrinterName(spooler_, "lpd://long", big, sizeof big);
  EXPECT_EQ(longName, big);
  char guard[4] = {'a', 'b', 'c', 'd'};
  ResolvePrinterName(spooler_, longName.c_str(), guard, 3);
  EXPECT_STREQ("", guard);
  EXPECT_EQ('d', guard[3]);

  state_->listPrintersStatus = platform::kSpoolerUnavailable;
  ResolvePrinterName(spooler_, longName.c_str(), big, sizeof big);
  EXPECT_STREQ("", big);
}

SpoolJobInfo MakeJob(const char* user, const char* document) {
  SpoolJobInfo job;
  std::snprintf(job.userName, sizeof job.userName, "%s", user);
  std::snprintf(job.documentName, sizeof job.documentName, "%s", document);
  return job;
}

TEST(JobMatchesFileTest, MatchesOwnJobsByFileNameEnding) {
  struct Case {
    const char* user;
    const char* document;
    const char* path;
    bool expected;
  } cases[] = {
      {"alice", "/opt/kavelo/spool/093015.html", "/opt/kavelo/spool/093015.html", true},
      {"ALICE", "093015.HTML", "/opt/kavelo/spool/093015.html", true},        // case ignored
      {"alice", "Microsoft Word - 093015.html", "/spool/093015.html", true},  // title ending
      {"bob", "/spool/093015.html", "/spool/093015.html", false},             // another user
      {"alice", "/spool/093015.html.pdf", "/spool/093015.html", false},
      {"alice", "5.html", "/spool/093015.html", false},  // shorter than the file name
      {"alice", "093015.html", "093015.html", false},    // path without "/"
      {"alice", "anything", "/spool/", false},           // no file name at all
      {"alice", "", "/spool/a", false},
      {"", "/spool/a", "/spool/a", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, JobMatchesFile("alice", MakeJob(c.user, c.document), c.path))
        << c.user << " | " << c.document << " | " << c.path;
  }
}

TEST_F(PrintJobControlTest, SnapshotCopiesLongTextsBoundedInSpoolerOrder) {
  state_->AddPrinter("P", "file:///dev/null");
  std::string longTitle(700, 'd');
  state_->queues["P"] = {{12, "alice", longTitle, platform::kJobStatusPrinting},
                         {3, "bob", "/spool/b.html", platform::kJobStatusPaused}};
  SpoolJobList jobs;
  ASSERT_EQ(0, SnapshotJobs(spooler_, "P", &jobs, PrinterAccess::kUse));
  ASSERT_EQ(2, jobs.Count());
  EXPECT_EQ(3, jobs.Item(0)->jobId);  // ascending ids, as the spooler lists them
  EXPECT_EQ(2, jobs.Item(0)->position);
  EXPECT_EQ(12, jobs.Item(1)->jobId);
  EXPECT_EQ(std::string(511, 'd'), jobs.Item(1)->documentName);
  EXPECT_EQ(static_cast<int32_t>(platform::kJobStatusPrinting), jobs.Item(1)->status);
  EXPECT_EQ(nullptr, jobs.Item(2));
  EXPECT_EQ(nullptr, jobs.Item(-1));

  state_->fullAccess = false;
  EXPECT_EQ(-1, SnapshotJobs(spooler_, "P", &jobs, PrinterAccess::kFull));
  EXPECT_EQ(0, jobs.Count());
  EXPECT_EQ(-1, SnapshotJobs(spooler_, "Missing", &jobs, PrinterAccess::kUse));
}

TEST(SpoolJobListTest, GrowsInStepsAndKeepsEveryRecord) {
  SpoolJobList list;
  SpoolJobInfo info;
  for (int i = 0; i < 51; ++i) {
    info.jobId = i;
    EXPECT_EQ(i + 1, list.Add(info));
  }
  EXPECT_EQ(100, list.Capacity());
  for (int i = 0; i < 51; ++i) EXPECT_EQ(i, list.Item(i)->jobId);
  list.Clear();
  EXPECT_EQ(0, list.Count());
  EXPECT_EQ(0, list.Capacity());
}

TEST_F(PrintJobControlTest, FindJobOfFileTakesTheFirstOwnMatch) {
  state_->AddPrinter("P", "file:///dev/null");
  state_->queues["P"] = {{4, "bob", "/spool/a.html", 0},
                         {9, "alice", "/spool/a.html", 0},
                         {7, "Alice", "title a.html", 0}};
  EXPECT_EQ(7, FindJobOfFile(spooler_, "P", "alice", "/spool/a.html"));
  EXPECT_EQ(-1, FindJobOfFile(spooler_, "P", "alice", "/spool/b.html"));
  EXPECT_EQ(-1, FindJobOfFile(spooler_, "Missing", "alice", "/spool/a.html"));
}

TEST_F(PrintJobControlTest, OwnJobCommandsNeedNoFullAccess) {
  state_->AddPrinter("P", "file:///dev/null");
  state_->queues["P"] = {{5, "alice", "a", 0}};
  state_->fullAccess = false;
  EXPECT_EQ(0, CanHoldOwnJobs(spooler_, "P"));
  EXPECT_EQ(-1, CanHoldOwnJobs(spooler_, "Missing"));
  EXPECT_EQ(0, ControlJob(spooler_, "P", 5, JobCommand::kPause));
  EXPECT_EQ(-1, ResumePrinter(spooler_, "P"));  // the administrator's
  EXPECT_EQ(-1, ControlJob(spooler_, "P", 6, JobCommand::kPause));  // no such job
  EXPECT_EQ(0, ControlJob(spooler_, "P", 5, JobCommand::kCancel));
  EXPECT_TRUE(state_->queues["P"].empty());
  EXPECT_EQ((std::vector<std::string>{"pause 5", "resume-printer", "pause 6", "cancel 5"}),
            state_->calls);
}

class ReleaseHeldJobsTest : public PrintJobControlTest {
 protected:
  // A queue of twelve waiting jobs, ids 101 .. 112 at positions 1 .. 12,
  // the held ones paused.
  void SetUp() override { Fill({107, 109, 112}); }
  void Fill(const std::vector<int32_t>& held) {
    state_->printers.clear();
    state_->queues.clear();
    state_->calls.clear();
    state_->AddPrinter("P", "file:///dev/null");
    for (int32_t id = 101; id <= 112; ++id) {
      bool own = std::find(held.begin(), held.end(), id) != held.end();
      state_->queues["P"].push_back({id, own ? "alice" : "bob", "doc",
                                     own ? platform::kJobStatusPaused : 0u});
    }
  }
  std::string Release(const std::vector<std::string>& held, int* result = nullptr) {
    StringList list("string2");
    for (const std::string& id : held) list.Push(id.c_str());
    std::string error = "stale";
    int rc = ReleaseHeldJobs(spooler_, "P", list, &error);
    if (result != nullptr) *result = rc;
    return error;
  }
  int Count(const std::string& prefix) {
    int n = 0;
    for (const std::string& call : state_->calls) n += call.rfind(prefix, 0) == 0;
    return n;
  }
};

// Raising their own priority keeps the held jobs together without the
// administrator; moving other users' jobs is only tried, and only when
// that is not enough.
TEST_F(ReleaseHeldJobsTest, KeepsHeldJobsTogetherAndReleasesThem) {
  struct Case {
    const char* name;
    std::vector<int32_t> held;
    bool fullAccess;
    int priorityStatus;
    std::vector<int32_t> expectedPositions;
    int expectedRaises;
    int expectedMoves;
  } cases[] = {
      {"others between: raised past them", {107, 109, 112}, false, 0, {1, 2, 3}, 3, 0},
      {"already together", {107, 108, 109}, false, 0, {7, 8, 9}, 0, 0},
      {"one job", {105}, false, 0, {5}, 0, 0},
      {"priority refused, moved by the administrator", {107, 109, 112}, true,
       platform::kSpoolerAccessDenied, {7, 8, 9}, 3, 2},
      {"priority refused, moving refused", {107, 109, 112}, false, platform::kSpoolerAccessDenied,
       {7, 9, 12}, 3, 1},
      // Chunk order against id order: raised together, then moved.
      {"chunk order against id order", {110, 102}, true, 0, {1, 2}, 2, 2},
  };
  for (const Case& c : cases) {
    Fill(c.held);
    state_->fullAccess = c.fullAccess;
    state_->setPriorityStatus = c.priorityStatus;
    std::vector<std::string> held;
    for (int32_t id : c.held) held.push_back(std::to_string(id));
    int result = -2;
    Release(held, &result);
    EXPECT_EQ(0, result) << c.name;
    EXPECT_EQ(c.expectedPositions, state_->Positions("P", c.held)) << c.name;
    EXPECT_EQ(c.expectedRaises, Count("priority ")) << c.name;
    EXPECT_EQ(c.expectedMoves, Count("position ")) << c.name;
    EXPECT_EQ(static_cast<int>(held.size()), Count("resume ")) << c.name;
    for (const FakeJob& job : state_->queues["P"]) {
      EXPECT_EQ(0u, job.status & platform::kJobStatusPaused) << c.name << " " << job.id;
      // Other users' jobs keep their priority.
      if (job.user == "bob") {
        EXPECT_EQ(50, job.priority) << c.name << " " << job.id;
      }
    }
  }
}

TEST_F(ReleaseHeldJobsTest, EmptyListDoesNothing) {
  EXPECT_EQ("", Release({}));
  EXPECT_TRUE(state_->calls.empty());
}

TEST_F(ReleaseHeldJobsTest, ErrorsEndTheAttemptsButEveryJobIsResumed) {
  state_->setPriorityStatus = platform::kSpoolerAccessDenied;  // so that moves are tried
  state_->getJobStatus[109] = platform::kSpoolerUnavailable;
  EXPECT_EQ("Can't get printer job position.", Release({"107", "109", "112"}));
  EXPECT_EQ(0, Count("position "));
  EXPECT_EQ(3, Count("resume "));
  state_->getJobStatus.clear();

  SetUp();
  EXPECT_EQ("Can't get printer job position.", Release({"107", "abc"}));
  EXPECT_EQ(1, Count("resume "));  // "abc" names no job to resume

  SetUp();
  state_->setPositionStatus = platform::kSpoolerFailed;
  EXPECT_EQ("Error:SetJob, errorcode:31", Release({"107", "109", "112"}));
  EXPECT_EQ(1, Count("position "));  // the first error ends the reordering
  EXPECT_EQ(3, Count("resume "));
  state_->setPositionStatus = platform::kSpoolerOk;

  // The order test reads 107, 109, 112; the reordering then fails on 109.
  SetUp();
  int reads = 0;
  state_->getJobHook = [&reads](int32_t id) {
    return ++reads == 5 && id == 109 ? platform::kSpoolerUnavailable : platform::kSpoolerOk;
  };
  EXPECT_EQ("Error:GetJob, errorcode:1722", Release({"107", "109", "112"}));
  EXPECT_EQ(0, Count("position "));
  EXPECT_EQ(3, Count("resume "));
  state_->getJobHook = nullptr;

  // A release that is refused leaves the job held: the caller must know.
  SetUp();
  state_->resumeJobStatus = platform::kSpoolerAccessDenied;
  int result = 0;
  Release({"107"}, &result);
  EXPECT_EQ(-1, result);
}

TEST_F(ReleaseHeldJobsTest, GivesUpAfterTwentyAttempts) {
  state_->ignorePositions = true;
  state_->setPriorityStatus = platform::kSpoolerAccessDenied;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ("", Release({"107", "109", "112"}));
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(2 * kReleaseAttempts, Count("position "));
  EXPECT_EQ(3, Count("resume "));
  EXPECT_GE(elapsed, std::chrono::milliseconds(kReleaseAttempts * kReleaseAttemptPauseMs));
}

}  // namespace
}  // namespace kavelo::printcontrol
