// Held chunk printing against the private CUPS scheduler, the print
// control's part run as the unprivileged test account (neither root nor a
// spooler administrator), each chunk spooled by SubmitChunkPdf as the print
// control spools its rendered PDF.  The queue kavelo-held is stopped, so
// every job stays active and its place can be read.  Skipped without the scheduler, and without
// root (needed to become the account).
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <cups/cups.h>
#include <gtest/gtest.h>

#include "platform/spooler.h"
#include "printcontrol/job/report_job.h"
#include "printcontrol/printing/print_chunks.h"
#include "printcontrol/render/string_list.h"
#include "testsupport/as_account.h"
#include "testsupport/files.h"

namespace kavelo::printcontrol {
namespace {

constexpr char kQueue[] = "kavelo-held";
constexpr int kChunks = 3;
constexpr char kOtherJob[] = "another user's job";

// Prints a report of kChunks chunks with the copies as the account would;
// the print call number failAt fails, and after the second call the child
// asks (askFd) for another user's job and waits until it is sent (doneFd).
// 0 when the report printed, 1 when it failed, 2 when it could not start.
int PrintReport(int copies, int failAt, int askFd, int doneFd) {
  cupsSetUser(nullptr);  // libcups keeps the name it found before the switch
  char dir[] = "/tmp/kavelo-held-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 2;
  ReportJob job;
  std::strcpy(job.workDirectory, dir);
  std::strcpy(job.reportName, "120000");
  std::strcpy(job.title, "Big");
  job.settings.SetPrinterName(kQueue);
  job.copies = copies;
  StringList files("string2");
  for (int i = 0; i < kChunks; ++i) {
    std::string path = std::string(dir) + "/120000" + std::to_string(i) + ".html";
    testsupport::WriteFile(path, "<html/>");
    files.Push(path.c_str());
  }
  std::unique_ptr<platform::Spooler> spooler = platform::MakeCupsSpooler();
  int calls = 0;
  // Each chunk's rendered PDF (its HTML file here) is spooled as the print
  // control spools it.
  ChunkPrinter print = [&](int chunk, const std::string& name, bool hold, int32_t* jobId,
                           std::string* error) {
    if (++calls == failAt) {
      *error = "Error in orlendi. Report Title:Big";
      return false;
    }
    if (!SubmitChunkPdf(job, *spooler, files.Item(chunk), name, hold, jobId, error)) return false;
    char answer = 0;
    if (calls == 2 && askFd >= 0 && write(askFd, "?", 1) == 1) (void)!read(doneFd, &answer, 1);
    return true;
  };
  std::string error;
  const bool printed = PrintChunksHeld(job, *spooler, print, files, &error);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return printed ? 0 : 1;
}

class HeldPrintingCupsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("KAVELO_TEST_CUPS") == nullptr) GTEST_SKIP() << "KAVELO_TEST_CUPS is not set";
    if (geteuid() != 0) GTEST_SKIP() << "becoming the test account needs root";
    spooler_ = platform::MakeCupsSpooler();
  }
  void TearDown() override {
    if (spooler_ != nullptr) CancelAll();
  }
  void CancelAll() {
    for (const platform::SpoolerJob& job : Jobs()) {
      spooler_->ControlJob(kQueue, job.jobId, platform::JobCommand::kCancel);
    }
  }
  // The queue's active jobs of this test in print order (other tests share
  // the queue), and their positions among all.
  std::vector<platform::SpoolerJob> Jobs() {
    std::vector<platform::SpoolerJob> jobs;
    EXPECT_EQ(platform::kSpoolerOk, spooler_->ListJobs(kQueue, &jobs));
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                              [](const platform::SpoolerJob& job) {
                                return job.documentName.rfind("/tmp/kavelo-held-", 0) != 0 &&
                                       job.documentName != kOtherJob;
                              }),
               jobs.end());
    return jobs;
  }

  std::unique_ptr<platform::Spooler> spooler_;
};

TEST_F(HeldPrintingCupsTest, ChunksAreHeldReleasedTogetherAndCancelledOnAFailure) {
  struct Case {
    const char* name;
    int copies;
    int failAt;
    int result;
    size_t ownLeft;  // active jobs of the account afterwards
  } cases[] = {
      {"one copy, another user's job sent after the second chunk", 1, 0, 0, kChunks},
      {"two copies, another user's job sent after the second chunk", 2, 0, 0, 2 * kChunks},
      {"the second copy's second chunk fails", 2, kChunks + 2, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CancelAll();
    int ask[2], done[2];
    ASSERT_EQ(0, pipe(ask));
    ASSERT_EQ(0, pipe(done));
    // Another user (root here) sends a job while the report prints, and
    // looks at the account's jobs at that moment.
    int32_t otherId = 0;
    size_t ownAtAsk = 0, heldAtAsk = 0;
    std::thread other([&] {
      char byte;
      if (read(ask[0], &byte, 1) != 1) return;
      for (const platform::SpoolerJob& job : Jobs()) {
        if (job.userName != testsupport::kTestAccount) continue;
        ++ownAtAsk;
        heldAtAsk += (job.status & platform::kJobStatusPaused) != 0;
      }
      platform::SubmitOptions options;
      options.documentName = kOtherJob;
      EXPECT_EQ(platform::kSpoolerOk,
                spooler_->SubmitDocument(kQueue, "/etc/hostname", options, &otherId));
      EXPECT_EQ(1, write(done[1], "!", 1));
    });
    int result = testsupport::RunAsAccount(testsupport::kTestAccount,
                                           [&] { return PrintReport(c.copies, c.failAt, ask[1], done[0]); });
    close(ask[1]);
    other.join();
    for (int fd : {ask[0], done[0], done[1]}) close(fd);
    EXPECT_EQ(c.result, result);
    EXPECT_EQ(2u, ownAtAsk);  // every chunk was held from its submission
    EXPECT_EQ(2u, heldAtAsk);
    ASSERT_GT(otherId, 0);

    // The account's jobs in print order: none held, chunk after chunk, copy
    // after copy, and nobody else's job between them.
    std::vector<std::string> names;
    int first = 0, last = 0, otherAt = 0;
    std::vector<platform::SpoolerJob> jobs = Jobs();
    for (const platform::SpoolerJob& job : jobs) {
      if (job.jobId == otherId) otherAt = job.position;
      if (job.userName != testsupport::kTestAccount) continue;
      EXPECT_EQ(0u, job.status & platform::kJobStatusPaused) << job.jobId;
      names.push_back(job.documentName.substr(job.documentName.rfind('/') + 1));
      if (first == 0) first = job.position;
      last = job.position;
    }
    ASSERT_EQ(c.ownLeft, names.size());
    if (names.empty()) continue;
    for (size_t i = 0; i < names.size(); ++i) {
      std::string chunk = std::to_string(i % kChunks) + ".html";
      // A further copy's files are named by a time stamp and the copy.
      std::string name = i < kChunks ? "120000" + chunk : "c1-" + chunk;
      EXPECT_EQ(names[i].substr(names[i].size() - std::min(name.size(), names[i].size())), name);
    }
    EXPECT_EQ(last - first + 1, static_cast<int>(names.size()));
    EXPECT_TRUE(otherAt < first || otherAt > last) << otherAt << " in " << first << ".." << last;
  }
}

}  // namespace
}  // namespace kavelo::printcontrol
