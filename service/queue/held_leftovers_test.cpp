// Cancelling what an ended print control left held, as the service's
// unprivileged account against the private CUPS scheduler's stopped queue
// kavelo-held.  Skipped without the scheduler, and without root (needed to
// become the account).
#include "service/queue/held_leftovers.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <cups/cups.h>
#include <gtest/gtest.h>

#include "protocol/held_jobs_file.h"
#include "testsupport/as_account.h"
#include "testsupport/files.h"

namespace kavelo::service {
namespace {

constexpr char kQueue[] = "kavelo-held";

// As the account: submits five jobs, lists some in a held-jobs file and
// cancels the leftovers; returns how many were cancelled (100 on a failure).
int LeaveJobsAndCancelThem() {
  cupsSetUser(nullptr);  // libcups keeps the name it found before the switch
  char dir[] = "/tmp/kavelo-leftovers-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 100;
  std::unique_ptr<platform::Spooler> spooler = platform::MakeCupsSpooler();
  // a: held, listed by id; b: held, listed by its file only; c: released,
  // listed by id; d: held, not listed.
  std::string record;
  for (const char* name : {"a", "b", "c", "d"}) {
    platform::SubmitOptions options;
    options.documentName = std::string(dir) + "/" + name + ".html";
    options.hold = *name != 'c';
    int32_t id = 0;
    if (spooler->SubmitDocument(kQueue, "/etc/hostname", options, &id) != 0) return 100;
    if (*name == 'a' || *name == 'c') record += protocol::FormatHeldJobLine(kQueue, id);
    if (*name == 'b') record += protocol::FormatHeldFileLine(kQueue, options.documentName);
  }
  // What an ended writer may leave: a line without its end.
  testsupport::WriteFile(std::string(dir) + "/" + protocol::kHeldJobsFileName,
                         record + "job\tkavelo-held\t99");
  int cancelled = CancelHeldLeftovers(*spooler, dir, testsupport::kTestAccount);
  std::filesystem::remove_all(dir);
  return cancelled;
}

TEST(HeldLeftoversTest, CancelsTheListedJobsThatAreStillHeldAndNothingElse) {
  if (std::getenv("KAVELO_TEST_CUPS") == nullptr) GTEST_SKIP() << "KAVELO_TEST_CUPS is not set";
  if (geteuid() != 0) GTEST_SKIP() << "becoming the test account needs root";
  std::unique_ptr<platform::Spooler> spooler = platform::MakeCupsSpooler();
  // Another user's held job stays.
  platform::SubmitOptions options;
  options.documentName = "/elsewhere/b.html";
  options.hold = true;
  int32_t other = 0;
  ASSERT_EQ(platform::kSpoolerOk, spooler->SubmitDocument(kQueue, "/etc/hostname", options, &other));

  EXPECT_EQ(2, testsupport::RunAsAccount(testsupport::kTestAccount, LeaveJobsAndCancelThem));
  std::vector<std::string> left;
  std::vector<platform::SpoolerJob> jobs;
  ASSERT_EQ(platform::kSpoolerOk, spooler->ListJobs(kQueue, &jobs));
  for (const platform::SpoolerJob& job : jobs) {
    // Other tests share the queue.
    const std::string& name = job.documentName;
    if (name.rfind("/tmp/kavelo-leftovers-", 0) != 0 && job.jobId != other) continue;
    left.push_back(name.substr(name.rfind('/') + 1));
    spooler->ControlJob(kQueue, job.jobId, platform::JobCommand::kCancel);
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"b.html", "c.html", "d.html"}));
}

}  // namespace
}  // namespace kavelo::service
