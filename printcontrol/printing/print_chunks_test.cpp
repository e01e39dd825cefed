// Chunk printing on the in-memory spooler: a stand-in for PrintHtmlFile
// spools one job per printed file, as orlendi does.
#include "printcontrol/printing/print_chunks.h"

#include <algorithm>
#include <cstring>
#include <memory>
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
  std::string path;
  int copies;
  int lock;
};

class PrintChunksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_ = std::make_shared<FakeSpoolerState>();
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
    print_ = [this](const char* htmlPath, int copies, int lock, char* error) {
      printed_.push_back({htmlPath, copies, lock});
      if (static_cast<int>(printed_.size()) == failAt_) {
        std::strcpy(error, "Error in orlendi. Report Title:Big");
        return;
      }
      std::lock_guard<std::mutex> lock_(state_->mu);
      FakeJob job;
      job.id = nextId_++;
      job.user = platform::UserName();
      job.document = htmlPath;
      job.status = lock == 1 ? platform::kJobStatusPaused : 0;  // orlendi submits it held
      state_->queues["Office"].push_back(job);
    };
  }

  bool Called(const std::string& call) const {
    return std::find(state_->calls.begin(), state_->calls.end(), call) != state_->calls.end();
  }

  TempDir folder_;
  std::shared_ptr<FakeSpoolerState> state_;
  std::unique_ptr<FakeSpooler> spooler_;
  ReportJob job_;
  StringList files_{"string2"};
  HtmlPrinter print_;
  std::vector<Printed> printed_;
  int failAt_ = 0;
  int nextId_ = 1;
};

TEST_F(PrintChunksTest, HeldCopiesGetNamesOfTheirOwnAndAreReleasedInOrder) {
  char error[1024] = "";
  PrintChunksHeld(job_, *spooler_, print_, &files_, error);
  EXPECT_STREQ(error, "");
  ASSERT_EQ(printed_.size(), 4u);
  for (size_t i = 0; i < printed_.size(); ++i) {
    EXPECT_EQ(printed_[i].copies, 1) << i;
    EXPECT_EQ(printed_[i].lock, 1) << i;
  }
  EXPECT_EQ(printed_[0].path, folder_.File("1200000.html"));
  EXPECT_EQ(printed_[1].path, folder_.File("1200001.html"));
  // The second copy prints the same chunks in the same order under new names.
  ASSERT_EQ(files_.Count(), 2);
  EXPECT_EQ(printed_[2].path, files_.Item(0));
  EXPECT_EQ(printed_[3].path, files_.Item(1));
  EXPECT_NE(printed_[2].path.find("c1-0.html"), std::string::npos) << printed_[2].path;
  EXPECT_NE(printed_[3].path.find("c1-1.html"), std::string::npos) << printed_[3].path;
  EXPECT_TRUE(FileExists(files_.Item(0)));
  EXPECT_FALSE(FileExists(printed_[0].path));
  // Each job was submitted held; at the end they are all released, in
  // consecutive places, and the held-jobs file names each file before its
  // job and each job.
  std::string record = testsupport::ReadFileOrMissing(folder_.File("held-jobs"));
  for (int id = 1; id <= 4; ++id) {
    const std::string file = "file\tOffice\t" + printed_[id - 1].path + "\n";
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

TEST_F(PrintChunksTest, FailureCancelsEveryHeldJob) {
  struct Case {
    const char* name;
    int failAt;  // the print call that fails, 0 for none
    int resumeJobStatus;
    size_t printed;
    const char* error;
  } cases[] = {
      {"the second copy's first chunk fails", 3, platform::kSpoolerOk, 3,
       "Error in orlendi. Report Title:Big"},
      {"the release is refused", 0, platform::kSpoolerAccessDenied, 2,
       "Error:The spooler did not release the held jobs on Office, Report Title:Big"},
  };
  for (const Case& c : cases) {
    state_->queues["Office"].clear();
    state_->calls.clear();
    printed_.clear();
    failAt_ = c.failAt;
    state_->resumeJobStatus = c.resumeJobStatus;
    char error[1024] = "";
    PrintChunksHeld(job_, *spooler_, print_, &files_, error);
    EXPECT_STREQ(error, c.error) << c.name;
    EXPECT_EQ(printed_.size(), c.printed) << c.name;
    EXPECT_TRUE(state_->queues["Office"].empty()) << c.name;  // every held job cancelled
    EXPECT_TRUE(Called("resume-printer")) << c.name;
    // The caller deletes what the list names: the files as they are now.
    for (int i = 0; i < files_.Count(); ++i) EXPECT_TRUE(FileExists(files_.Item(i))) << i;
  }
}

TEST_F(PrintChunksTest, PlainCopiesRepeatTheChunksAndStopAtAFailure) {
  char error[1024] = "";
  PrintChunksPlain(job_, files_, print_, error);
  EXPECT_STREQ(error, "");
  ASSERT_EQ(printed_.size(), 4u);
  for (size_t i = 0; i < printed_.size(); ++i) {
    EXPECT_EQ(printed_[i].path, files_.Item(static_cast<int>(i % 2))) << i;
    EXPECT_EQ(printed_[i].lock, 0) << i;
    EXPECT_EQ(printed_[i].copies, 1) << i;
  }
  printed_.clear();
  failAt_ = 2;
  PrintChunksPlain(job_, files_, print_, error);
  EXPECT_STREQ(error, "Error in orlendi. Report Title:Big");
  EXPECT_EQ(printed_.size(), 2u);
  EXPECT_TRUE(state_->calls.empty());
}

}  // namespace
}  // namespace kavelo::printcontrol
