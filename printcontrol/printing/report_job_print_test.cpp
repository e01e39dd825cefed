// The run of a job in this process with a stand-in orlendi that logs what it
// is asked to print and what the spool folder holds at that moment: the
// whole report as one file, and a report whose HTML is larger than 4 MiB in
// chunks, copy after copy.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/spooler.h"
#include "printcontrol/job/report_job.h"
#include "printcontrol/printing/print_job_control.h"
#include "printcontrol/printing/spool_job_list.h"
#include "printcontrol/render/limited_transform.h"
#include "printcontrol/test/job_files.h"
#include "platform/sysinfo.h"
#include "testsupport/child_process.h"
#include "testsupport/files.h"
#include "testsupport/scoped_env.h"

namespace kavelo::printcontrol {
namespace {

using testsupport::BigReport;
using testsupport::JobWorld;
using testsupport::ReadFileOrMissing;
using testsupport::WriteFile;

const std::string kTestData = KAVELO_SOURCE_DIR "/printcontrol/testdata/";

// One orlendi call: the key text and the spool folder's listing.
struct Call {
  std::string keys;
  std::string listing;
  std::string Key(const std::string& name) const {
    size_t at = keys.find(name + "=");
    if (at == std::string::npos) return "";
    at += name.size() + 1;
    return keys.substr(at, keys.find(';', at) - at);
  }
};

class PrintReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world_.AddPrinter("Office");
    programs_ = world_.root() + "/programs";
    log_ = programs_ + "/calls.log";
    mkdir(programs_.c_str(), 0700);
    // Logs its keys and the spool folder; an HTML file that is missing when
    // orlendi starts is logged as such.  Asked to render only, it writes the
    // HTML file's name as the PDF, and fails for a file named "*1.html" when
    // failing exists.
    std::string script =
        "#!/bin/sh\nshift\nkeys=\"$*\"\nhtml=${keys#html=}\nhtml=${html%%;*}\n"
        "case \"$keys\" in *pdf=*) pdf=${keys##*pdf=}; pdf=${pdf%%;*}\n"
        "  case \"$html\" in *1.html) [ -f '" + programs_ + "/failing' ] && exit 1;; esac\n"
        "  echo \"$html\" > \"$pdf\";; esac\n"
        "[ -f \"$html\" ] || echo MISSING >> '" +
        log_ +
        "'\n"
        "echo \"$keys\" >> '" +
        log_ + "'\nls -R '" + world_.spool() + "' | tr '\\n' ' ' >> '" + log_ + "'\necho >> '" +
        log_ + "'\n";
    WriteFile(programs_ + "/orlendi", script);
    chmod((programs_ + "/orlendi").c_str(), 0700);
  }

  // Sets the job up as the program would (orlendi taken from the stand-in's
  // folder) and runs it.
  void RunJob(const std::string& xml, const std::string& xsl, int toPage, int copies,
              const std::string& printer = "Office") {
    std::string xmlPath = world_.WriteSpoolFile("00000001.xml", xml);
    std::string xslPath = world_.WriteSpoolFile("00000001.xsl", xsl);
    char commandLine[1024];
    std::snprintf(commandLine, sizeof(commandLine),
                  "\"Ostrevo\" \"Ostrevo\" xml=%s;xsl=%s;fromPage=1;toPage=%d;printerName=%s;"
                  "copy=%d;orien=0",
                  xmlPath.c_str(), xslPath.c_str(), toPage, printer.c_str(), copies);
    ReportJob job;
    char message[1024] = "";
    job.SetUp(commandLine, (programs_ + "/Ostrevo").c_str(), message, sizeof(message));
    ASSERT_STREQ(message, "");
    reportName_ = job.reportName;
    job.PrintReport();
  }

  // The job's work folder, with a trailing "/".
  std::string Work() const { return world_.spool() + "/00000001.xml.work/"; }

  // The names in the spool folder, blank-separated.
  std::string SpoolListing() const {
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator(world_.spool())) {
      names += entry.path().filename().string() + " ";
    }
    return names;
  }

  std::vector<Call> Calls() const {
    std::vector<Call> calls;
    std::istringstream in(ReadFileOrMissing(log_));
    std::string keys, listing;
    while (std::getline(in, keys) && std::getline(in, listing)) calls.push_back({keys, listing});
    return calls;
  }

  JobWorld world_;
  std::string programs_;
  std::string log_;
  std::string reportName_;
};

TEST_F(PrintReportTest, WholeReportPrintsOnceWithAllCopies) {
  struct Case {
    const char* name;
    const char* sample;
    bool filtered;  // the hidden-block copy is the stylesheet in use
  };
  const Case cases[] = {{"full type", "sales", true}, {"other type", "ledger", false}};
  for (const Case& c : cases) {
    std::remove(log_.c_str());
    RunJob(ReadFileOrMissing(kTestData + c.sample + ".xml"),
           ReadFileOrMissing(kTestData + c.sample + ".xsl"), 3, 3);
    std::vector<Call> calls = Calls();
    ASSERT_EQ(calls.size(), 1u) << c.name;
    EXPECT_EQ(calls[0].Key("html"), Work() + reportName_ + ".html") << c.name;
    EXPECT_EQ(calls[0].Key("copy"), "3") << c.name;
    EXPECT_EQ(calls[0].Key("lock"), "0") << c.name;
    const std::string none = reportName_ + "none.xsl";
    EXPECT_EQ(calls[0].Key("xsl"), c.filtered ? Work() + none : world_.spool() + "/00000001st.xsl")
        << c.name;
    EXPECT_EQ(calls[0].listing.find(none) != std::string::npos, c.filtered)
        << c.name << ": " << calls[0].listing;
    // Everything the job made, and its own files, are gone.
    EXPECT_EQ(testsupport::ReadFileOrMissing(log_).find("MISSING"), std::string::npos) << c.name;
    EXPECT_EQ(SpoolListing(), "") << c.name;
  }
}

// A report whose HTML is too large for one file: each chunk renders once,
// and its PDF is spooled for every copy, copy after copy in chunk order, the
// second copy under names of its own.  A chunk that fails to render stops
// the printing with the event of the renderer only.
TEST_F(PrintReportTest, LargeHtmlPrintsInChunksRenderedOnceCopyAfterCopy) {
  struct Case {
    const char* name;
    bool failing;
    size_t spooled;
  } cases[] = {{"every chunk renders", false, 6}, {"the second chunk fails", true, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(log_.c_str());
    if (c.failing) WriteFile(programs_ + "/failing", "");
    // 12 x 4300 lines of 101 characters: 4.97 MiB of HTML, factor 4, chunks
    // of 12 / 4 + 1 = 4 pages, so 3 chunks.
    RunJob(BigReport(12, 4300), ReadFileOrMissing(kTestData + "sales.xsl"), 12, 2);
    std::vector<Call> calls = Calls();
    ASSERT_EQ(calls.size(), c.failing ? calls.size() : 3u);
    for (size_t i = 0; i < calls.size(); ++i) {
      const std::string chunk = Work() + reportName_ + calls[i].Key("html").substr(
                                                           (Work() + reportName_).size(), 1);
      EXPECT_EQ(calls[i].Key("html"), chunk + ".html") << i;
      EXPECT_EQ(calls[i].Key("pdf"), chunk + ".pdf") << i;
      EXPECT_EQ(calls[i].Key("copy"), "1") << i;
      // The whole-report HTML is gone before the chunks render.
      EXPECT_EQ(calls[i].listing.find(reportName_ + ".html"), std::string::npos)
          << calls[i].listing;
    }
    std::vector<JobWorld::Spooled> spooled = world_.SpooledDocuments("Office");
    ASSERT_EQ(spooled.size(), c.spooled);
    for (size_t i = 0; i < spooled.size(); ++i) {
      const std::string html = Work() + reportName_ + std::to_string(i % 3) + ".html";
      EXPECT_EQ(ReadFileOrMissing(spooled[i].file), html + "\n") << i;
      if (i < 3) {
        EXPECT_EQ(spooled[i].document, html) << i;
      } else {
        EXPECT_NE(spooled[i].document.find("c1-" + std::to_string(i % 3) + ".html"),
                  std::string::npos)
            << spooled[i].document;
      }
    }
    EXPECT_EQ(world_.EventsOf("ostrevo").size(), 0u);
    EXPECT_EQ(ReadFileOrMissing(log_).find("MISSING"), std::string::npos);
    EXPECT_EQ(SpoolListing(), "");
    std::filesystem::remove_all(world_.root() + "/printers/Office");
    world_.AddPrinter("Office");
  }
}

// Every job the CUPS scheduler knows on a queue, done ones too, in job-id
// (submission) order: "NAME STATE" each, from ipptool as the owner.
std::vector<std::string> CupsJobs(const std::string& folder, const char* queue) {
  const std::string server = std::getenv("CUPS_SERVER") != nullptr ? std::getenv("CUPS_SERVER") : "";
  const std::string port = ReadFileOrMissing(server.substr(0, server.rfind('/')) + "/port");
  const std::string request = folder + "/get-jobs.test";
  WriteFile(request,
            "{\nOPERATION Get-Jobs\nGROUP operation-attributes-tag\n"
            "ATTR charset attributes-charset utf-8\nATTR language attributes-natural-language en\n"
            "ATTR uri printer-uri $uri\nATTR name requesting-user-name $user\n"
            "ATTR keyword which-jobs all\nATTR keyword requested-attributes job-name,job-state\n"
            "STATUS successful-ok\nDISPLAY job-name\nDISPLAY job-state\n}\n");
  std::string out;
  testsupport::RunProgram({"ipptool", "-t", "-d", "user=" + platform::UserName(),
                           "ipp://127.0.0.1:" + port.substr(0, port.find('\n')) + "/printers/" +
                               queue,
                           request},
                          "", &out, nullptr, 30000);
  std::vector<std::string> jobs;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t at = line.find(") = ");
    if (at == std::string::npos) continue;
    const std::string value = line.substr(at + 4);
    if (line.find("job-name") != std::string::npos) jobs.push_back(value);
    if (line.find("job-state") != std::string::npos && !jobs.empty()) jobs.back() += " " + value;
  }
  return jobs;
}

// A stopped raw queue of the private CUPS scheduler for one test, deleted
// with it: held printing resumes the queue it prints on, which the shared
// queues of the other tests must never see.
class OwnCupsQueue {
 public:
  OwnCupsQueue() : name_("kavelo-held-" + std::to_string(getpid())) {
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"lpadmin", "-p", name_, "-v", "file:///dev/null"},
          std::vector<std::string>{"cupsaccept", name_},
          std::vector<std::string>{"cupsdisable", name_}}) {
      ok_ = ok_ && testsupport::RunProgram(command, "", nullptr, nullptr, 30000) == 0;
    }
  }
  ~OwnCupsQueue() { testsupport::RunProgram({"lpadmin", "-x", name_}, "", nullptr, nullptr, 30000); }
  const std::string& name() const { return name_; }
  bool ok() const { return ok_; }

 private:
  std::string name_;
  bool ok_ = true;
};

// On the private CUPS scheduler: a split report with two copies spools
// every chunk of every copy, copy after copy in chunk order, and leaves
// none held (the queue is resumed before each copy's release, so released
// jobs print at once).
TEST_F(PrintReportTest, SplitReportWithCopiesPrintsInOrderOnCups) {
  if (std::getenv("KAVELO_TEST_CUPS") == nullptr) GTEST_SKIP() << "KAVELO_TEST_CUPS is not set";
  OwnCupsQueue queue;
  ASSERT_TRUE(queue.ok()) << "lpadmin could not make " << queue.name();
  const char* kQueue = queue.name().c_str();
  testsupport::ScopedEnv cups("KAVELO_SPOOLER", "cups");
  std::unique_ptr<platform::Spooler> spooler = platform::MakeCupsSpooler();
  ASSERT_NE(spooler, nullptr);
  ASSERT_EQ(CanHoldOwnJobs(*spooler, kQueue), 0) << "the test user cannot hold its jobs";
  RunJob(BigReport(12, 4300), ReadFileOrMissing(kTestData + "sales.xsl"), 12, 2, kQueue);
  std::vector<std::string> ours;
  for (const std::string& job : CupsJobs(world_.root(), kQueue)) {
    if (job.find(Work()) == 0) ours.push_back(job.substr(Work().size()));
  }
  std::string listing;
  for (const std::string& job : ours) listing += job + "; ";
  ASSERT_EQ(ours.size(), 6u) << listing;
  for (size_t i = 0; i < ours.size(); ++i) {
    const std::string chunk = std::to_string(i % 3) + ".html ";
    if (i < 3) {
      EXPECT_EQ(ours[i].rfind(reportName_ + chunk, 0), 0u) << listing;
    } else {
      EXPECT_NE(ours[i].find("c1-" + chunk), std::string::npos) << listing;
    }
    EXPECT_EQ(ours[i].find("held"), std::string::npos) << listing;
  }
  // What is still queued goes, so that other tests see an empty queue.
  SpoolJobList jobs;
  SnapshotJobs(*spooler, kQueue, &jobs, platform::PrinterAccess::kUse);
  for (int i = 0; i < jobs.Count(); ++i) {
    if (std::string(jobs.Item(i)->documentName).find(Work()) == 0) {
      ControlJob(*spooler, kQueue, jobs.Item(i)->jobId, platform::JobCommand::kCancel);
    }
  }
  EXPECT_EQ(world_.EventsOf("ostrevo").size(), 0u);
  EXPECT_EQ(SpoolListing(), "");
}

// The time limit, with a limit short enough for a test; within its limits,
// or without a time limit, the same call is TransformToHtml, its error text
// included.
TEST_F(PrintReportTest, AnEndlessTransformEndsAtItsTimeLimit) {
  std::string xml = world_.WriteSpoolFile("r.xml", testsupport::kSampleReport);
  std::string html = world_.spool() + "/r.html";
  struct Case {
    const char* name;
    const char* stylesheet;
    int64_t timeMs;
    bool limitEnded;
    const char* error;  // the start of the error text
    const char* htmlHolds;  // nullptr: no HTML file is left
  } cases[] = {
      {"endless", testsupport::kEndlessStylesheet, 300, true,
       "Error:The transform stopped at its time limit of 1 s. Report Title:T", nullptr},
      {"sample", testsupport::kSampleStylesheet, 300000, false, "", "NORTH"},
      {"sample without a time limit", testsupport::kSampleStylesheet, -1, false, "", "NORTH"},
      {"broken stylesheet", "<xsl:stylesheet version=\"1.0\"", -1, false, "SAXParseException:",
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string xsl = world_.WriteSpoolFile("r.xsl", c.stylesheet);
    ::unlink(html.c_str());
    TransformLimits limits;
    limits.timeMs = c.timeMs;
    char error[1024];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.limitEnded, LimitedTransform(xml.c_str(), xsl.c_str(), html.c_str(), 0, limits,
                                             "T", error, sizeof error));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(std::string(error).rfind(c.error, 0), 0u) << error;
    if (c.error[0] == '\0') {
      EXPECT_STREQ(error, "");
    }
    if (c.htmlHolds == nullptr) {
      EXPECT_TRUE(!c.limitEnded || !testsupport::FileExists(html));
    } else {
      EXPECT_NE(ReadFileOrMissing(html).find(c.htmlHolds), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace kavelo::printcontrol
