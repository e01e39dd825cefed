// PrintHtmlFile with stand-ins for orlendi: small scripts the test writes
// into a private program folder, started as the real one would be.
#include "printcontrol/printing/print_html_file.h"

#include <chrono>
#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/process.h"
#include "printcontrol/job/report_job.h"
#include "printcontrol/printing/job_watcher.h"
#include "printcontrol/test/job_files.h"
#include "testsupport/files.h"

namespace kavelo::printcontrol {
namespace {

using testsupport::FileExists;
using testsupport::JobWorld;
using testsupport::ReadFileOrMissing;
using testsupport::WriteFile;

class PrintHtmlFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world_.AddPrinter("Office");
    programs_ = world_.root() + "/programs";
    mkdir(programs_.c_str(), 0700);
    html_ = world_.WriteSpoolFile("231500.html", "<html><body>x</body></html>");
    info_ = world_.spool() + "/231500.info";
    std::strcpy(job_.utilityDirectory, programs_.c_str());
    std::strcpy(job_.effectiveXslPath, (world_.spool() + "/00000001st.xsl").c_str());
    std::strcpy(job_.title, "Monthly Sales");
    job_.settings.Reset(0);
    job_.settings.SetPrinterName("Office");
  }
  // The stand-in orlendi: a shell script with the given body.
  void WriteOrlendi(const std::string& body) {
    std::string path = programs_ + "/orlendi";
    WriteFile(path, "#!/bin/sh\n" + body + "\n");
    chmod(path.c_str(), 0700);
  }

  JobWorld world_;
  std::string programs_;
  std::string html_;
  std::string info_;
  ReportJob job_;
};

TEST_F(PrintHtmlFileTest, OutcomesOfOneRun) {
  OrlendiLimits fast;
  fast.cycleMs = 20;
  fast.loadCycles = 5;
  fast.printCyclesPerCopy = 5;
  fast.cyclesAfterWatcher = 2;
  struct Case {
    const char* name;
    std::string script;
    std::string error;
    bool ends;  // by itself: nothing is waited for after it
  };
  const Case cases[] = {
      {"ends before the info file", "exit 0", "", true},
      {"ends with a failure of its own", "exit 3", "", true},
      {"writes the info file and ends", ": > '" + info_ + "'\nexit 0", "", true},
      {"never loads", "exec sleep 60",
       "Error in orlendi(load html file). Report Title:Monthly Sales", false},
      {"loads and hangs", ": > '" + info_ + "'\nexec sleep 60",
       "Error in orlendi. Report Title:Monthly Sales", false},
  };
  for (const Case& c : cases) {
    WriteOrlendi(c.script);
    std::string error = "stale";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PrintHtmlFile(job_, html_, 2, 0, &error, fast), c.error.empty()) << c.name;
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_FALSE(FileExists(info_)) << c.name << ": the info file is left";
    // A hung orlendi is ended by the limits, not waited for.
    EXPECT_LT(took, std::chrono::seconds(10)) << c.name;
    // An orlendi that ended is not followed by the watcher's grace.
    if (c.ends) {
      EXPECT_LT(took, std::chrono::milliseconds(kWatcherGraceMs)) << c.name;
    }
  }
}

TEST_F(PrintHtmlFileTest, CommandLineCarriesTheLayout) {
  std::string args = programs_ + "/args.txt";
  WriteOrlendi("printf '%s\\n' \"$0\" \"$@\" > '" + args + "'");
  job_.settings.SetOrientation(2);
  job_.settings.SetColorPrinting(1);
  job_.settings.SetPrinterName("Office Laser;2");
  std::string error = "stale";
  EXPECT_TRUE(PrintHtmlFile(job_, html_, 3, 1, &error));
  EXPECT_EQ(error, "");
  // The key part is split at its blanks, as every program receives it.
  EXPECT_EQ(ReadFileOrMissing(args),
            programs_ + "/orlendi\n" + programs_ + "/orlendi\nhtml=" + html_ +
                ";xsl=" + job_.effectiveXslPath +
                ";printerName=Office\nLaser;2;copy=3;orien=2;eventsource=ostrevo;"
                "unit=0;left=12.5;right=12.5;top=10.0;bottom=10.0;colprint=1;lock=1;\n");
}

TEST_F(PrintHtmlFileTest, StartFailuresNameTheCommandLineAndTheError) {
  std::string commandLine;
  ASSERT_TRUE(MakeOrlendiCommandLine(job_, html_.c_str(), 1, 0, &commandLine));
  EXPECT_EQ(
      commandLine.rfind("\"" + programs_ + "/orlendi\" \"" + programs_ + "/orlendi\" html=", 0), 0u)
      << commandLine;
  struct Case {
    const char* name;
    int mode;  // 0: no orlendi at all
    int errnoValue;
  };
  const Case cases[] = {{"missing", 0, 2}, {"not executable", 0600, 13}};
  for (const Case& c : cases) {
    if (c.mode != 0) {
      WriteOrlendi("exit 0");
      chmod((programs_ + "/orlendi").c_str(), c.mode);
    }
    std::string error;
    EXPECT_FALSE(PrintHtmlFile(job_, html_, 1, 0, &error)) << c.name;
    EXPECT_EQ(error,
              "Can't create process " + commandLine +
                  ", Report Title:Monthly Sales, errno = " + std::to_string(c.errnoValue))
        << c.name;
  }
}

TEST_F(PrintHtmlFileTest, TooLongCommandLineIsRefused) {
  WriteOrlendi("exit 0");
  std::string longHtml = world_.spool() + "/" + std::string(1000, 'h') + ".html";
  std::string error;
  EXPECT_FALSE(PrintHtmlFile(job_, longHtml, 1, 0, &error));
  EXPECT_EQ(error, "Error:orlendi command line too long, Report Title:Monthly Sales");
}

TEST(MakeInfoNameTest, InfoName) {
  struct Case {
    const char* html;
    const char* info;
  } cases[] = {{"page3.html", "page3.info"},
               {"/spool/093015.html", "/spool/093015.info"},
               {"x.htm", "x.htminfo"},
               {".html", ".htmlinfo"},  // shorter than six characters
               {"a.html", "a.info"},
               {"a.HTML", "a.HTMLinfo"},  // the ending is matched in small letters only
               {"", "info"},
               {"page.html.bak", "page.html.bakinfo"}};
  for (const Case& c : cases) {
    char out[512];
    MakeInfoName(c.html, out, sizeof(out));
    EXPECT_STREQ(c.info, out) << c.html;
  }
  char small[6];
  MakeInfoName("abcdefgh.html", small, sizeof(small));
  EXPECT_EQ(5u, std::strlen(small));
}

}  // namespace
}  // namespace kavelo::printcontrol
