// The whole road of a job: the real Ostrevo started as a child with a job
// command line as the service formats it, the real orlendi beside it, the
// folder spooler as the printers.  The sample report must come out as a PDF
// in the printer's folder and nothing may be left in the spool folder.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/print_limits.h"
#include "platform/process.h"
#include "printcontrol/test/job_files.h"
#include "testsupport/child_process.h"
#include "testsupport/files.h"
#include "testsupport/temp_registry.h"

namespace kavelo::printcontrol {
namespace {

using testsupport::JobWorld;
using testsupport::RunProgram;
using testsupport::ReadFileOrMissing;

const std::string kOstrevo = std::string(KAVELO_BIN_DIR) + "/Ostrevo";
const std::string kTestData = KAVELO_SOURCE_DIR "/printcontrol/testdata/";
// WeasyPrint takes a few seconds per page set; a hung run is a failure.
constexpr int kRunLimitMs = 120000;

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& n : names) text += n + " ";
  return text;
}

class PrintReportProgramTest : public ::testing::Test {
 protected:
  // Runs Ostrevo on a copy of a sample report; false when it did not end.
  bool RunSample(const std::string& sample, const std::string& printer, int copies, int orien) {
    return RunJob(ReadFileOrMissing(kTestData + sample + ".xml"),
                  ReadFileOrMissing(kTestData + sample + ".xsl"), printer, copies, orien);
  }
  // Runs Ostrevo on a report and a stylesheet; false when it did not end.
  bool RunJob(const std::string& report, const std::string& stylesheet, const std::string& printer,
              int copies, int orien, int toPage = 3) {
    std::string xml = world_.WriteSpoolFile("00000001.xml", report);
    std::string xsl = world_.WriteSpoolFile("00000001.xsl", stylesheet);
    char commandLine[4096];
    std::snprintf(
        commandLine, sizeof(commandLine),
        "\"%s\" \"%s\" xml=%s;xsl=%s;fromPage=%d;toPage=%d;printerName=%s;copy=%d;orien=%d",
        kOstrevo.c_str(), kOstrevo.c_str(), xml.c_str(), xsl.c_str(), 1, toPage, printer.c_str(), copies,
        orien);
    platform::Process ostrevo;
    if (ostrevo.Start(commandLine) != 0) return false;
    if (ostrevo.Wait(kRunLimitMs) != 0) {
      ostrevo.Terminate();
      ostrevo.Wait(platform::kWaitInfinite);
      return false;
    }
    return true;
  }

  std::string PrinterFolder(const std::string& name) const {
    return world_.root() + "/printers/" + name;
  }

  JobWorld world_;
};

TEST_F(PrintReportProgramTest, SampleReportsComeOutAsPdf) {
  struct Case {
    const char* name;
    const char* sample;
    int copies;
    int orien;
    const char* orientation;  // as the spooler recorded it
  };
  const Case cases[] = {
      {"full stylesheet, two copies, stored orientation", "sales", 2, 0, "portrait"},
      {"line-printer stylesheet, landscape", "ledger", 1, 2, "landscape"},
  };
  for (const Case& c : cases) {
    JobWorld& w = world_;
    std::filesystem::remove_all(PrinterFolder("Office Laser"));
    w.AddPrinter("Office Laser");
    std::remove(w.eventLog().c_str());
    ASSERT_TRUE(RunSample(c.sample, "Office  Laser", c.copies, c.orien)) << c.name;

    EXPECT_EQ(Joined(w.EventsOf("ostrevo")), "") << c.name;
    // Every file of the job is gone: spooled report and stylesheet, HTML,
    // filtered and print-style stylesheets, info file.
    EXPECT_EQ(Joined(Names(w.spool())), "") << c.name;
    std::string pdf, job;
    for (const std::string& n : Names(PrinterFolder("Office Laser"))) {
      if (n.size() > 4 && n.compare(n.size() - 4, 4, ".pdf") == 0) pdf = n;
      if (n.size() > 4 && n.compare(n.size() - 4, 4, ".job") == 0) job = n;
    }
    ASSERT_NE(pdf, "") << c.name << ": " << Joined(Names(PrinterFolder("Office Laser")));
    EXPECT_EQ(ReadFileOrMissing(PrinterFolder("Office Laser") + "/" + pdf).rfind("%PDF-", 0), 0u)
        << c.name;
    std::string meta = ReadFileOrMissing(PrinterFolder("Office Laser") + "/" + job);
    EXPECT_NE(meta.find("copies=" + std::to_string(c.copies) + "\n"), std::string::npos)
        << c.name << "\n"
        << meta;
    EXPECT_NE(meta.find(std::string("orientation=") + c.orientation + "\n"), std::string::npos)
        << c.name << "\n"
        << meta;
    EXPECT_NE(meta.find("document=" + w.spool() + "/"), std::string::npos) << meta;
  }
}

TEST_F(PrintReportProgramTest, UnknownPrinterIsReportedByOrlendiAndNothingIsLeft) {
  world_.AddPrinter("Office Laser");
  ASSERT_TRUE(RunSample("sales", "Elsewhere", 1, 0));
  std::vector<std::string> events = world_.EventsOf("ostrevo");
  ASSERT_EQ(events.size(), 1u) << Joined(events);
  EXPECT_NE(events[0].find("Elsewhere"), std::string::npos) << events[0];
  EXPECT_EQ(Joined(Names(world_.spool())), "");
  EXPECT_EQ(Joined(Names(PrinterFolder("Office Laser"))), "");
}

// The print control, its transform and orlendi inside their limits: each
// runaway stylesheet ends at its limit with one event and leaves nothing,
// and the next job prints.
TEST_F(PrintReportProgramTest, RunawayStylesheetsEndAtTheirLimitsAndTheNextJobPrints) {
  struct Case {
    const char* name;
    const char* stylesheet;
    const char* event;
  };
  const Case cases[] = {
      {"self-calling template", testsupport::kSelfCallingStylesheet,
       "at its memory limit of 512 MiB"},
      {"doubling output", testsupport::kDoublingStylesheet, "at its HTML size limit of "},
  };
  world_.AddPrinter("Office");
  testsupport::SetPrintLimit("PrintControlMemoryLimit", 512);
  for (const Case& c : cases) {
    if (!platform::kAddressSpaceLimitApplies &&
        c.stylesheet == testsupport::kSelfCallingStylesheet) {
      continue;  // sanitizer builds set no address-space limit
    }
    std::remove(world_.eventLog().c_str());
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(RunJob(ReadFileOrMissing(kTestData + "sales.xml"), c.stylesheet, "Office", 1, 0))
        << c.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << c.name;
    std::vector<std::string> events = world_.EventsOf("ostrevo");
    ASSERT_EQ(events.size(), 1u) << c.name << ": " << Joined(events);
    EXPECT_NE(events[0].find(c.event), std::string::npos) << c.name << ": " << events[0];
    EXPECT_EQ(Joined(Names(world_.spool())), "") << c.name;
    EXPECT_EQ(Joined(Names(PrinterFolder("Office"))), "") << c.name;

    ASSERT_TRUE(RunSample("sales", "Office", 1, 0)) << c.name;
    EXPECT_EQ(Joined(world_.EventsOf("ostrevo")), Joined(events)) << c.name;
    EXPECT_EQ(Names(PrinterFolder("Office")).size(), 2u) << c.name;  // the PDF and its .job
    EXPECT_EQ(Joined(Names(world_.spool())), "") << c.name;
    std::filesystem::remove_all(PrinterFolder("Office"));
    world_.AddPrinter("Office");
  }
}

// The bulk of each page goes into a comment: HTML large enough to be split
// into chunks, pages quick to render.
constexpr char kCommentStylesheet[] = R"(<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html"/>
<xsl:template match="/report"><html><body>
<xsl:for-each select="page_header"><p style="break-after: page"><xsl:value-of select="line"/></p>
</xsl:for-each>
<xsl:for-each select="detail/line"><xsl:comment><xsl:value-of select="."/></xsl:comment>
</xsl:for-each></body></html></xsl:template>
</xsl:stylesheet>
)";

// "pages: text" of a PDF, from pdfinfo and pdftotext.
std::string PdfPagesAndText(const std::string& pdf) {
  std::string info, text;
  RunProgram({"pdfinfo", pdf}, "", &info, nullptr, 30000);
  RunProgram({"pdftotext", "-layout", pdf, "-"}, "", &text, nullptr, 30000);
  const size_t at = info.find("Pages:");
  const std::string pages =
      at == std::string::npos ? "?" : std::to_string(std::atoi(info.c_str() + at + 6));
  std::string words;
  for (char c : text) {
    if (c == '\f' || c == '\n') c = ' ';
    if (c != ' ' || (!words.empty() && words.back() != ' ')) words += c;
  }
  return pages + ": " + words;
}

// A split report through the real Ostrevo, orlendi and WeasyPrint: its
// chunks rendered one after the other (RenderWorkers 1) and side by side
// (RenderWorkers 2) give the same PDFs in the same order, page count and
// text each, and the second copy's PDFs are the first copy's bytes.
TEST_F(PrintReportProgramTest, ChunksRenderedSideBySideGiveTheSamePagesInOrder) {
  std::vector<std::string> serial;
  for (int workers : {1, 2}) {
    SCOPED_TRACE("RenderWorkers " + std::to_string(workers));
    testsupport::SetPrintLimit("RenderWorkers", static_cast<uint32_t>(workers));
    std::filesystem::remove_all(PrinterFolder("Office"));
    world_.AddPrinter("Office");
    // 12 pages of 1100 lines of 400 characters: more than 4 MiB of HTML.
    ASSERT_TRUE(RunJob(testsupport::BigReport(12, 1100, 400), kCommentStylesheet, "Office", 2, 0, 12));
    EXPECT_EQ(Joined(world_.EventsOf("ostrevo")), "");
    EXPECT_EQ(Joined(world_.EventsOf("orlendi")), "");
    std::vector<JobWorld::Spooled> spooled = world_.SpooledDocuments("Office");
    ASSERT_GE(spooled.size(), 4u) << "not split";
    ASSERT_EQ(spooled.size() % 2, 0u);
    const size_t chunks = spooled.size() / 2;
    std::vector<std::string> pages;
    std::string text;  // the first copy's pages, chunk after chunk
    for (size_t i = 0; i < spooled.size(); ++i) {
      pages.push_back(PdfPagesAndText(spooled[i].file));
      if (i < chunks) text += pages.back().substr(pages.back().find(": ") + 2);
      if (i >= chunks) {
        EXPECT_EQ(ReadFileOrMissing(spooled[i].file), ReadFileOrMissing(spooled[i - chunks].file))
            << i;
      }
    }
    std::string expected;
    for (int page = 1; page <= 12; ++page) expected += "PAGE " + std::to_string(page) + " ";
    EXPECT_EQ(text, expected);
    if (serial.empty()) {
      serial = pages;
    } else {
      EXPECT_EQ(pages, serial);
    }
    EXPECT_EQ(Joined(Names(world_.spool())), "");
  }
}

}  // namespace
}  // namespace kavelo::printcontrol
