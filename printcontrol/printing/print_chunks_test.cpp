// Chunk printing on the in-memory spooler: a stand-in for the chunk printer
// spools one job per call, held when asked, as SubmitChunkPdf does.
#include "printcontrol/printing/print_chunks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sysinfo.h"
#include "printcontrol/job/report_job.h"
#include "printcontrol/render/string_list.h"
#include "printcontrol/test/fake_spooler.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace kavelo::printcontrol {
namespace {

using testsupport::FakeJob;
using testsupport::FakeSpooler;
using testsupport::FakeSpoolerState;
using testsupport::FileExists;
using testsupport::TempDir;
using testsupport::WriteFile;

struct Printed {
  int chunk;
  std::string name;
  bool hold;
};

class PrintChunksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_ = std::make_shared<FakeSpoolerState>();
    nextId_ = 1;
    state_->AddPrinter("Office", "file:/dev/null");
    spooler_ = std::make_unique<FakeSpooler>(state_);
    std::strcpy(job_.workDirectory, folder_.path().c_str());
    std::strcpy(job_.reportName, "120000");
    std::strcpy(job_.title, "Big");
    job_.settings.SetPrinterName("Office");
    job_.copies = 2;
    for (int i = 0; i < 2; ++i) {
      std::string path = folder_.File("120000" + std::to_string(i) + ".html");
      WriteFile(path, "<html/>");
      files_.Push(path.c_str());
    }
    // Spools one job per call, as the spooler would.
    print_ = [this](int chunk, const std::string& name, bool hold, int32_t* jobId,
                    std::string* error) {
      printed_.push_back({chunk, name, hold});
      if (static_cast<int>(printed_.size()) == failAt_) {
        *error = failure_;
        return false;
      }
      std::lock_guard<std::mutex> lock_(state_->mu);
      FakeJob job;
      job.id = nextId_++;
      job.user = platform::UserName();
      job.document = name;
      job.status = hold ? platform::kJobStatusPaused : 0;
      state_->queues["Office"].push_back(job);
      // A spooler that gives no id leaves the job to be found by its name.
      *jobId = givesIds_ ? job.id : 0;
      return true;
    };
  }

  void HeldCopiesAreReleasedInOrder();

  bool Called(const std::string& call) const {
    return std::find(state_->calls.begin(), state_->calls.end(), call) != state_->calls.end();
  }

  TempDir folder_;
  std::shared_ptr<FakeSpoolerState> state_;
  std::unique_ptr<FakeSpooler> spooler_;
  ReportJob job_;
  StringList files_{"string2"};
  ChunkPrinter print_;
  std::vector<Printed> printed_;
  int failAt_ = 0;
  std::string failure_ = "Error in orlendi(load html file). Report Title:Big";
  int nextId_ = 1;
  bool givesIds_ = true;
};

// Copy after copy, every chunk in order; the second copy's spooler jobs have
// names of their own (the chunk files stay as they are), every job is
// submitted held, recorded in the held-jobs file (its name before, its id
// after the submission) and released at the end in consecutive places,
// whether the spooler gives the job's id or it is found by its name.
TEST_F(PrintChunksTest, HeldCopiesGetNamesOfTheirOwnAndAreReleasedInOrder) {
  for (bool givesIds : {true, false}) {
    SCOPED_TRACE(givesIds ? "ids given" : "ids found");
    files_.Clear();
    printed_.clear();
    SetUp();  // a fresh spooler and job numbers
    std::remove(folder_.File("held-jobs").c_str());
    givesIds_ = givesIds;
    HeldCopiesAreReleasedInOrder();
  }
}

void PrintChunksTest::HeldCopiesAreReleasedInOrder() {
  std::string error;
  EXPECT_TRUE(PrintChunksHeld(job_, *spooler_, print_, files_, &error));
  EXPECT_EQ(error, "");
  ASSERT_EQ(printed_.size(), 4u);
  for (size_t i = 0; i < printed_.size(); ++i) {
    EXPECT_EQ(printed_[i].chunk, int(i % 2)) << i;
    EXPECT_TRUE(printed_[i].hold) << i;
  }
  EXPECT_EQ(printed_[0].name, folder_.File("1200000.html"));
  EXPECT_EQ(printed_[1].name, folder_.File("1200001.html"));
  EXPECT_EQ(printed_[2].name.rfind(folder_.path() + "/", 0), 0u) << printed_[2].name;
  EXPECT_NE(printed_[2].name.find("c1-0.html"), std::string::npos) << printed_[2].name;
  EXPECT_NE(printed_[3].name.find("c1-1.html"), std::string::npos) << printed_[3].name;
  for (int i = 0; i < files_.Count(); ++i) EXPECT_TRUE(FileExists(files_.Item(i))) << i;
  std::string record = testsupport::ReadFileOrMissing(folder_.File("held-jobs"));
  for (int id = 1; id <= 4; ++id) {
    const std::string file = "file\tOffice\t" + printed_[id - 1].name + "\n";
    const std::string line = "job\tOffice\t" + std::to_string(id) + "\n";
    EXPECT_LT(record.find(file), record.find(line)) << record;
    EXPECT_NE(record.find(line), std::string::npos) << record;
    EXPECT_TRUE(Called("resume " + std::to_string(id))) << id;
    EXPECT_FALSE(Called("cancel " + std::to_string(id))) << id;
  }
  EXPECT_EQ(state_->Positions("Office", {1, 2, 3, 4}), (std::vector<int32_t>{1, 2, 3, 4}));
  for (const FakeJob& job : state_->queues["Office"]) {
    EXPECT_EQ(job.status & platform::kJobStatusPaused, 0u) << job.id;
  }
}

// A chunk that fails stops the printing: held, every job held so far is
// cancelled and the printer resumed; the failure's text (empty when it was
// reported already) reaches the caller unchanged.  A release the spooler
// refuses fails the printing the same way.
TEST_F(PrintChunksTest, FailureStopsThePrintingAndCancelsEveryHeldJob) {
  struct Case {
    const char* name;
    bool held;
    int failAt;  // the print call that fails, 0 for none
    int resumeJobStatus;
    const char* failure;
    size_t printed;
    const char* error;
    std::vector<std::string> cancels;
  } cases[] = {
      {"held, first chunk", true, 1, platform::kSpoolerOk, "", 1, "", {}},
      {"held, second copy", true, 3, platform::kSpoolerOk, "Error in orlendi. Report Title:Big", 3,
       "Error in orlendi. Report Title:Big", {"cancel 1", "cancel 2"}},
      {"held, the release is refused", true, 0, platform::kSpoolerAccessDenied, "", 2,
       "Error:The spooler did not release the held jobs on Office, Report Title:Big",
       {"cancel 1", "cancel 2"}},
      {"plain, second chunk", false, 2, platform::kSpoolerOk, "", 2, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files_.Clear();
    SetUp();  // a fresh spooler and job numbers
    failAt_ = c.failAt;
    failure_ = c.failure;
    state_->resumeJobStatus = c.resumeJobStatus;
    printed_.clear();
    std::string error = "stale";
    EXPECT_FALSE(c.held ? PrintChunksHeld(job_, *spooler_, print_, files_, &error)
                        : PrintChunksPlain(job_, files_, print_, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(printed_.size(), c.printed);
    std::vector<std::string> cancels;
    for (const std::string& call : state_->calls) {
      if (call.rfind("cancel", 0) == 0) cancels.push_back(call);
    }
    EXPECT_EQ(cancels, c.cancels);
    EXPECT_EQ(Called("resume-printer"), c.held);
    // Nothing is left held.
    if (c.held) {
      EXPECT_TRUE(state_->queues["Office"].empty());
    }
    for (int i = 0; i < files_.Count(); ++i) EXPECT_TRUE(FileExists(files_.Item(i))) << i;
  }
}

// Plain printing spools copy after copy, every chunk in order, one copy each,
// and never touches the queue.
TEST_F(PrintChunksTest, PlainCopiesRepeatTheChunksInOrder) {
  std::string error;
  EXPECT_TRUE(PrintChunksPlain(job_, files_, print_, &error));
  ASSERT_EQ(printed_.size(), 4u);
  for (size_t i = 0; i < printed_.size(); ++i) EXPECT_EQ(printed_[i].chunk, int(i % 2)) << i;
  EXPECT_EQ(printed_[1].name, files_.Item(1));
  EXPECT_NE(printed_[3].name.find("c1-1.html"), std::string::npos) << printed_[3].name;
  EXPECT_TRUE(state_->calls.empty());
}

}  // namespace
}  // namespace kavelo::printcontrol
