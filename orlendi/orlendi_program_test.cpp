// orlendi run as a real child program on the folder spooler: the PDF it
// submits has the printer's paper in the requested orientation, the info
// file appears, the scratch files go, and failures reach the event log.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/process.h"
#include "platform/spooler.h"
#include "protocol/orlendi_info_file.h"
#include "testsupport/child_process.h"
#include "testsupport/files.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"

namespace kavelo::orlendi {
namespace {

const std::string kOrlendi = std::string(KAVELO_BIN_DIR) + "/orlendi";

using testsupport::ReadFile;

std::vector<std::string> FilesIn(const std::string& folder, const std::string& ending = "") {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      if (name.size() >= ending.size() &&
          name.compare(name.size() - ending.size(), ending.size(), ending) == 0) {
        names.push_back(folder + "/" + name);
      }
    }
    closedir(dir);
  }
  return names;
}

class OrlendiProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* sub : {"/printers", "/spool", "/tmp"}) {
      ASSERT_EQ(0, mkdir((root_ + sub).c_str(), 0755));
    }
    html_ = root_ + "/spool/093015.html";
    // The document asks for its own paper and margins; the printer's win.
    std::ofstream(html_) << "<html><head><style>@page { size: A3; margin: 3in }</style></head>"
                            "<body><p>Report line</p><img src=\"http://127.0.0.1:9/x.png\">"
                            "</body></html>";
  }
  // A folder printer with US Letter paper at 300 dpi.
  std::string AddLetterPrinter(const std::string& name) {
    std::string folder = root_ + "/printers/" + name;
    EXPECT_EQ(0, mkdir(folder.c_str(), 0755));
    std::ofstream(folder + "/printer.conf") << "paper = Letter\nresolution = 300\n";
    return folder;
  }
  int Run(platform::Process* process) {
    int exitCode = -1;
    EXPECT_EQ(0, process->Wait(120000, &exitCode));
    return exitCode;
  }
  std::string PageSize(const std::string& pdf) {
    std::string info;
    testsupport::RunProgram({"pdfinfo", pdf}, "", &info, nullptr);
    size_t at = info.find("Page size:");
    if (at == std::string::npos) return "no page size in: " + info;
    size_t end = info.find(" pts", at);
    std::string size = info.substr(at + 10, end - at - 10);
    return size.substr(size.find_first_not_of(' '));
  }

  testsupport::TempDir temp_{"kavelo-orlendi-test"};
  const std::string root_ = temp_.path();
  testsupport::ScopedEnv spoolerEnv_{"KAVELO_SPOOLER", "dir:" + root_ + "/printers"};
  testsupport::ScopedEnv eventLogEnv_{"KAVELO_EVENTLOG", root_ + "/events.log"};
  testsupport::ScopedEnv tmpEnv_{"TMPDIR", root_ + "/tmp"};
  std::string html_;
};

TEST_F(OrlendiProgramTest, PrintsOnThePrintersPaperInTheGivenOrientation) {
  struct Case {
    const char* name;
    std::string printer;
    bool asCommandLine;  // as the print control starts it, or by argument vector
    int orientation;
    int copies;
    const char* pageSize;
  } cases[] = {
      {"command line, landscape", "Office Laser; 2nd", true, 2, 2, "792 x 612"},
      {"argument vector, portrait", "Q \"quoted\" \\\\srv\\q; x", false, 1, 1, "612 x 792"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = AddLetterPrinter(c.printer);
    char keys[2048];
    std::snprintf(keys, sizeof keys,
                  "html=%s;xsl=%s/spool/a.xsl;printerName=%s;copy=%d;orien=%d;eventsource=ostrevo;"
                  "unit=0;left=20.0;right=10.0;top=10.0;bottom=10.0;colprint=1;lock=0;",
                  html_.c_str(), root_.c_str(), c.printer.c_str(), c.copies, c.orientation);
    platform::Process process;
    if (c.asCommandLine) {
      std::string line = "\"" + kOrlendi + "\" \"" + kOrlendi + "\" " + keys;
      ASSERT_EQ(0, process.Start(line, true));
    } else {
      ASSERT_EQ(0,
                process.Start(std::vector<std::string>{kOrlendi, kOrlendi, kOrlendi, keys}, true));
    }
    ASSERT_EQ(0, Run(&process)) << ReadFile(root_ + "/events.log");

    struct stat info;
    EXPECT_EQ(0, stat(protocol::InfoFileName(html_).c_str(), &info));
    unlink(protocol::InfoFileName(html_).c_str());
    std::vector<std::string> pdfs = FilesIn(folder, ".pdf");
    ASSERT_EQ(1u, pdfs.size());
    EXPECT_EQ(c.pageSize, PageSize(pdfs[0]));
    std::vector<std::string> jobs = FilesIn(folder, ".job");
    ASSERT_EQ(1u, jobs.size());
    std::string job = ReadFile(jobs[0]);
    EXPECT_NE(std::string::npos, job.find("document=" + html_ + "\n")) << job;
    EXPECT_NE(std::string::npos, job.find("copies=" + std::to_string(c.copies) + "\n")) << job;
    EXPECT_TRUE(FilesIn(root_ + "/tmp").empty());  // the scratch PDF is gone
  }
}

TEST_F(OrlendiProgramTest, FailuresGoToTheEventLogUnderTheGivenSource) {
  AddLetterPrinter("P");
  struct Case {
    const char* name;
    std::string keys;
    const char* reason;
  } cases[] = {
      {"missing html",
       "html=" + root_ + "/spool/none.html;printerName=P;copy=1;eventsource=ostrevo;",
       "can't open html file"},
      {"hostile printer name",
       "html=" + html_ + ";printerName=" + std::string(300, '"') + std::string(300, '\\') +
           ";copy=1;eventsource=ostrevo;",
       "can't open printer"},
      {"margins wider than the page",
       "html=" + html_ + ";printerName=P;copy=1;eventsource=ostrevo;unit=1;left=5;right=5;",
       "margins"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    unlink((root_ + "/events.log").c_str());
    platform::Process process;
    ASSERT_EQ(0, process.Start(std::vector<std::string>{kOrlendi, c.keys}, true));
    EXPECT_EQ(1, Run(&process));
    std::string events = ReadFile(root_ + "/events.log");
    EXPECT_NE(std::string::npos, events.find("\"source\":\"ostrevo\"")) << events;
    EXPECT_NE(std::string::npos, events.find("\"id\":1,")) << events;
    EXPECT_NE(std::string::npos, events.find(c.reason)) << events;
    EXPECT_NE(0, access(protocol::InfoFileName(html_).c_str(), F_OK));  // nothing was rendered
    EXPECT_TRUE(FilesIn(root_ + "/printers/P").size() == 1);  // only printer.conf
    EXPECT_TRUE(FilesIn(root_ + "/tmp").empty());
  }
}

TEST_F(OrlendiProgramTest, HelpAndEmptyCommandLine) {
  platform::Process help;
  ASSERT_EQ(0, help.Start(std::vector<std::string>{kOrlendi, "--help"}, true));
  EXPECT_EQ(0, Run(&help));
  platform::Process bare;
  ASSERT_EQ(0, bare.Start(std::vector<std::string>{kOrlendi}, true));
  EXPECT_EQ(2, Run(&bare));
}

// lock=1 (a chunk of a split report) submits the job held.
TEST_F(OrlendiProgramTest, WithCupsTheJobIsQueuedUnderTheHtmlPathHeldWhenLocked) {
  if (std::getenv("KAVELO_TEST_CUPS") == nullptr) GTEST_SKIP() << "KAVELO_TEST_CUPS is not set";
  setenv("KAVELO_SPOOLER", "cups", 1);
  const char kQueue[] = "kavelo-pdf";  // stopped: the job stays in the queue
  for (int lock : {0, 1}) {
    platform::Process process;
    ASSERT_EQ(0, process.Start(std::vector<std::string>{kOrlendi, kOrlendi, kOrlendi,
                                                        "html=" + html_ + ";printerName=" + kQueue +
                                                            ";copy=1;orien=1;eventsource=ostrevo;"
                                                            "lock=" + std::to_string(lock) + ";"},
                               true));
    ASSERT_EQ(0, Run(&process)) << ReadFile(root_ + "/events.log");
    std::unique_ptr<platform::Spooler> spooler = platform::MakeCupsSpooler();
    std::vector<platform::SpoolerJob> jobs;
    ASSERT_EQ(platform::kSpoolerOk, spooler->ListJobs(kQueue, &jobs));
    int found = 0;
    for (const platform::SpoolerJob& job : jobs) {
      if (job.documentName != html_) continue;
      ++found;
      EXPECT_EQ(lock == 1, (job.status & platform::kJobStatusPaused) != 0) << lock;
      spooler->ControlJob(kQueue, job.jobId, platform::JobCommand::kCancel);
    }
    EXPECT_EQ(1, found) << lock;
    EXPECT_EQ(0, access(protocol::InfoFileName(html_).c_str(), F_OK)) << lock;
  }
}

}  // namespace
}  // namespace kavelo::orlendi
