// The print job control against the private CUPS scheduler of the test
// command (scripts/cups-test-server.sh: stopped queues kavelo-raw and
// kavelo-pdf, so submitted jobs stay active).  Skipped without it.
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/spooler.h"
#include "printcontrol/layout/printer_metrics.h"
#include "printcontrol/printing/job_watcher.h"
#include "printcontrol/printing/print_job_control.h"
#include "printcontrol/render/string_list.h"

namespace kavelo::printcontrol {
namespace {

constexpr char kRawQueue[] = "kavelo-raw";
// A second stopped queue, for a test whose job order must not be disturbed
// by another test reordering jobs on kavelo-raw at the same time.
constexpr char kPdfQueue[] = "kavelo-pdf";

std::string OwnUserName() {
  struct passwd* entry = getpwuid(geteuid());
  return entry != nullptr ? entry->pw_name : "";
}

class JobControlCupsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("KAVELO_TEST_CUPS") == nullptr) GTEST_SKIP() << "KAVELO_TEST_CUPS is not set";
    spooler_ = platform::MakeCupsSpooler();
    ASSERT_NE(nullptr, spooler_);
    char name[] = "/tmp/kavelo-jc-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(2, write(fd, "x\n", 2));
    close(fd);
    file_ = name;
  }
  void TearDown() override {
    for (int32_t id : submitted_) {
      spooler_->ControlJob(queue_, id, platform::JobCommand::kCancel);
    }
    if (!file_.empty()) unlink(file_.c_str());
  }
  int32_t Submit(const std::string& documentName) {
    platform::SubmitOptions options;
    options.documentName = documentName;
    int32_t id = 0;
    EXPECT_EQ(platform::kSpoolerOk, spooler_->SubmitDocument(queue_, file_, options, &id));
    if (id > 0) submitted_.push_back(id);
    return id;
  }
  int32_t Position(int32_t id) {
    platform::SpoolerJob job;
    EXPECT_EQ(platform::kSpoolerOk, spooler_->GetJob(queue_, id, &job)) << id;
    return job.position;
  }

  std::unique_ptr<platform::Spooler> spooler_;
  std::string queue_ = kRawQueue;  // where Submit puts jobs
  std::string file_;
  std::vector<int32_t> submitted_;
};

TEST_F(JobControlCupsTest, ResolvesDeviceUrisAndKeepsCaseDifferentNames) {
  std::vector<platform::PrinterEntry> printers;
  ASSERT_EQ(platform::kSpoolerOk, spooler_->ListPrinters(&printers));
  std::string port, firstOnPort;
  for (const platform::PrinterEntry& p : printers) {
    if (p.printerName == kRawQueue) port = p.portName;
  }
  ASSERT_FALSE(port.empty());
  for (const platform::PrinterEntry& p : printers) {
    if (firstOnPort.empty() && p.portName == port) firstOnPort = p.printerName;
  }
  char result[512];
  ResolvePrinterName(*spooler_, port.c_str(), result, sizeof result);
  EXPECT_EQ(firstOnPort, result);
  ResolvePrinterName(*spooler_, "KAVELO-Raw", result, sizeof result);
  EXPECT_STREQ("KAVELO-Raw", result);
  EXPECT_EQ(0, CanHoldOwnJobs(*spooler_, "KAVELO-Raw"));  // and it works as given
  ResolvePrinterName(*spooler_, "kavelo-nowhere", result, sizeof result);
  EXPECT_STREQ("", result);
}

TEST_F(JobControlCupsTest, MetricsOfTheA4QueueInDeviceUnits) {
  PrinterMetrics metrics;
  ASSERT_EQ(0, GetPrinterMetrics(*spooler_, "KAVELO-PDF", &metrics));
  EXPECT_EQ(600, metrics.resolutionX);
  EXPECT_EQ(600, metrics.resolutionY);
  EXPECT_NEAR(4958, metrics.physicalWidth, 3);                       // 595 pt at 600 dpi
  EXPECT_NEAR(7017, metrics.physicalHeight, 3);                      // 842 pt
  EXPECT_NEAR(150, metrics.offsetX, 2);                              // 18 pt
  EXPECT_NEAR(300, metrics.offsetY, 2);                              // 36 pt
  EXPECT_EQ(-1, GetPrinterMetrics(*spooler_, kRawQueue, &metrics));  // a raw queue has none
}

TEST_F(JobControlCupsTest, HeldJobsAreMovedTogetherAndReleased) {
  std::vector<int32_t> ids;
  for (int i = 0; i < 12; ++i) ids.push_back(Submit("/tmp/kavelo-jc/chunk" + std::to_string(i)));
  ASSERT_EQ(12u, submitted_.size());
  const int32_t heldIds[] = {ids[6], ids[8], ids[11]};
  StringList held("string2");
  for (int32_t id : heldIds) {
    ASSERT_EQ(0, ControlJob(*spooler_, kRawQueue, id, platform::JobCommand::kPause));
    held.Push(std::to_string(id).c_str());
  }
  int32_t first = Position(heldIds[0]);
  ASSERT_NE(first + 1, Position(heldIds[1]));  // not yet consecutive

  std::string error = "stale";
  ReleaseHeldJobs(*spooler_, kRawQueue, held, &error);
  EXPECT_EQ(error, "");
  int32_t position = Position(heldIds[0]);
  for (int32_t id : heldIds) {
    platform::SpoolerJob job;
    ASSERT_EQ(platform::kSpoolerOk, spooler_->GetJob(kRawQueue, id, &job));
    EXPECT_EQ(position++, job.position) << id;
    EXPECT_EQ(0u, job.status & platform::kJobStatusPaused) << id;
  }
}

TEST_F(JobControlCupsTest, WatcherWaitsForAsManyJobsAsCopies) {
  std::string html = "/tmp/kavelo-jc/" + std::to_string(getpid()) + "-watch.html";
  queue_ = kPdfQueue;
  SetWatcherValues(2, html.c_str(), kPdfQueue);
  WatcherThread watcher;
  ASSERT_EQ(0, watcher.Start([] { return platform::MakeCupsSpooler(); }, OwnUserName().c_str()));
  Submit(html);
  // One job of two: pending in a stopped queue, but the second is missing.
  EXPECT_FALSE(watcher.WaitEnded(700));
  int32_t second = Submit("Title - " + html.substr(html.rfind('/') + 1));
  EXPECT_TRUE(watcher.WaitEnded(10000));
  StopWatcherThread(&watcher);
  EXPECT_EQ(submitted_.front(),
            FindJobOfFile(*spooler_, kPdfQueue, OwnUserName().c_str(), html.c_str()));
  EXPECT_NE(second, submitted_.front());
}

}  // namespace
}  // namespace kavelo::printcontrol
