#include "printcontrol/job/report_job.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "printcontrol/job/command_line.h"
#include "printcontrol/test/job_files.h"

namespace kavelo::printcontrol {
namespace {

using testsupport::FileExists;
using testsupport::JobWorld;

constexpr char kProgram[] = "/opt/kavelo/PrintService/Ostrevo";

// The text the program sees for a service command line: the unquoted key
// part split at blanks, the arguments joined again with single blanks.
std::string Arrived(const std::string& keys) {
  std::vector<std::string> parts = {kProgram, kProgram};
  std::string current;
  for (char c : keys) {
    if (c == ' ') {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  std::vector<const char*> argv = {kProgram};
  for (const std::string& p : parts) argv.push_back(p.c_str());
  return JoinArguments(static_cast<int>(argv.size()), argv.data());
}

class ReportJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world_ = std::make_unique<JobWorld>();
    world_->AddPrinter("Office Laser");
    xml_ = world_->WriteSpoolFile("00000001.xml", testsupport::kSampleReport);
    xsl_ = world_->WriteSpoolFile("00000001.xsl", testsupport::kSampleStylesheet);
  }

  std::string Keys(const std::string& printer, const std::string& pages = "fromPage=1;toPage=2",
                   const std::string& copy = "copy=1") {
    return "xml=" + xml_ + ";xsl=" + xsl_ + ";" + pages + ";printerName=" + printer + ";" + copy +
           ";orien=1";
  }

  std::unique_ptr<JobWorld> world_;
  std::string xml_;
  std::string xsl_;
};

TEST_F(ReportJobTest, NewJobHasItsDefaults) {
  ReportJob job;
  EXPECT_EQ(1, job.copies);
  EXPECT_EQ(-1, job.styleFlag);
  EXPECT_EQ(0, job.width);
  EXPECT_EQ(0, job.realWidth);
  EXPECT_EQ(0, job.realLength);
  EXPECT_STREQ("ostrevo", job.eventSource);
  EXPECT_STREQ("", job.settings.printerName());
  EXPECT_EQ(6u, std::string(job.reportName).size());
}

TEST_F(ReportJobTest, SetUpFillsTheJob) {
  char message[1024] = "junk";
  {
    ReportJob job;
    std::string text = Arrived(Keys("Office  Laser", "fromPage=2;toPage=5", "copy=3"));
    job.SetUp(text.c_str(), kProgram, message, sizeof(message));
    EXPECT_STREQ("", message);
    EXPECT_STREQ("/opt/kavelo/PrintService", job.utilityDirectory);
    EXPECT_EQ(xml_, job.xmlPath);
    EXPECT_EQ(xsl_, job.xslPath);
    EXPECT_EQ(xsl_, job.effectiveXslPath);
    EXPECT_EQ(xml_ + ".work", job.workDirectory);
    EXPECT_STREQ("Office Laser", job.settings.printerName());
    EXPECT_EQ(2, job.fromPage);
    EXPECT_EQ(5, job.toPage);
    EXPECT_EQ(4, job.pageCount);
    EXPECT_EQ(3, job.copies);
    EXPECT_STREQ("Monthly Sales & Returns", job.title);
    EXPECT_EQ(0, job.styleFlag);
    EXPECT_EQ(132, job.width);
    EXPECT_EQ(60, job.realLength);
    EXPECT_EQ(132, job.realWidth);
    EXPECT_TRUE(FileExists(xml_));
  }
  // The end of the job removes its input files.
  EXPECT_FALSE(FileExists(xml_));
  EXPECT_FALSE(FileExists(xsl_));
}

TEST_F(ReportJobTest, KeyRules) {
  world_->AddPrinter("HP Laser;Floor 2");
  struct Case {
    std::string keys;
    std::string printer;
    int fromPage, toPage, pageCount, copies;
  } cases[] = {
      // Two blanks in a row arrive as one; the semicolon stays; copy is read.
      {Keys("HP  Laser;Floor 2", "fromPage=1;toPage=1", "copy=4"), "HP Laser;Floor 2", 1, 1, 1, 4},
      {Keys("Office Laser", "fromPage=0;toPage=3", "copy=0"), "Office Laser", 1, 3, 3, 1},
      {Keys("Office Laser", "fromPage=-2;toPage=3", "copy=-4"), "Office Laser", 1, 3, 3, 1},
      {Keys("Office Laser", "toPage=3", "copy=2"), "Office Laser", 1, 3, 3, 2},
      // A port name is replaced by its printer's name; an unknown name stays.
      {Keys(world_->PortOf("Office Laser")), "Office Laser", 1, 2, 2, 1},
      {Keys("office laser"), "office laser", 1, 2, 2, 1},
      {Keys("Nowhere"), "Nowhere", 1, 2, 2, 1},
  };
  for (const Case& c : cases) {
    xml_ = world_->WriteSpoolFile("00000001.xml", testsupport::kSampleReport);
    xsl_ = world_->WriteSpoolFile("00000001.xsl", testsupport::kSampleStylesheet);
    ReportJob job;
    char message[1024] = "";
    std::string text = Arrived(c.keys);
    job.SetUp(text.c_str(), kProgram, message, sizeof(message));
    EXPECT_STREQ("", message) << text;
    EXPECT_EQ(c.printer, job.settings.printerName()) << text;
    EXPECT_EQ(c.fromPage, job.fromPage) << text;
    EXPECT_EQ(c.toPage, job.toPage) << text;
    EXPECT_EQ(c.pageCount, job.pageCount) << text;
    EXPECT_EQ(c.copies, job.copies) << text;
  }
}

TEST_F(ReportJobTest, EachSetUpFailureHasItsMessageAndTheFilesStillGo) {
  std::string missing = world_->spool() + "/missing.xsl";
  struct Case {
    std::string name;
    std::string text;
    std::string programPath;
    std::string message;
  };
  auto keys = [&](const std::string& xml, const std::string& xsl, const std::string& rest) {
    return Arrived("xml=" + xml + ";xsl=" + xsl + ";" + rest);
  };
  const std::string good = "fromPage=1;toPage=2;printerName=Office Laser;copy=1;orien=0";
  std::vector<Case> cases = {
      {"no util dir", "xml=" + xml_ + ";xsl=" + xsl_ + ";" + good, "",
       "Can't get full path of util directory."},
      {"xml empty", keys("", xsl_, good), kProgram, "Error:Can't find xml file."},
      {"xml absent", Arrived("xsl=" + xsl_ + ";" + good), kProgram, "Error:Can't find xml file."},
      {"xsl empty", keys(xml_, "", good), kProgram, "Can't find xsl file."},
      {"xsl missing", keys(xml_, missing, good), kProgram, "Error:CreateFile(read), " + missing},
      {"xml missing", keys(missing, xsl_, good), kProgram, "Error:CreateFile(read), " + missing},
      {"no printer", keys(xml_, xsl_, "fromPage=1;toPage=2;printerName=;copy=1"), kProgram,
       "Can't find printer."},
      {"printer absent", keys(xml_, xsl_, "fromPage=1;toPage=2;copy=1"), kProgram,
       "Can't find printer."},
      {"toPage below fromPage", keys(xml_, xsl_, "fromPage=3;toPage=2;printerName=P;copy=1"),
       kProgram, "Error in toPage:2"},
      {"toPage letters", keys(xml_, xsl_, "fromPage=1;toPage=abc;printerName=P;copy=1"), kProgram,
       "Error in toPage:0"},
      {"toPage negative", keys(xml_, xsl_, "fromPage=1;toPage=-7;printerName=P;copy=1"), kProgram,
       "Error in toPage:-7"},
      {"printer too long",
       keys(xml_, xsl_, "fromPage=1;toPage=2;printerName=" + std::string(600, 'p') + ";copy=1"),
       kProgram, "Error:printerName value too long."},
      // The first failure in set-up order wins.
      {"xml before printer", keys("", xsl_, "fromPage=3;toPage=2;printerName=;copy=1"), kProgram,
       "Error:Can't find xml file."},
  };
  for (const Case& c : cases) {
    xml_ = world_->WriteSpoolFile("00000001.xml", testsupport::kSampleReport);
    xsl_ = world_->WriteSpoolFile("00000001.xsl", testsupport::kSampleStylesheet);
    char message[1024] = "";
    {
      ReportJob job;
      job.SetUp(c.text.c_str(), c.programPath.c_str(), message, sizeof(message));
    }
    EXPECT_EQ(c.message, message) << c.name;
    // Whatever failed, the job's files named on its command line are gone.
    if (c.text.find("xml=" + xml_) != std::string::npos) {
      EXPECT_FALSE(FileExists(xml_)) << c.name;
    }
    if (c.text.find("xsl=" + xsl_) != std::string::npos) {
      EXPECT_FALSE(FileExists(xsl_)) << c.name;
    }
  }
}

TEST_F(ReportJobTest, AnEmptyInputFileEndsTheSetUpWithAMessage) {
  for (const char* which : {"xsl", "xml"}) {
    xml_ =
        world_->WriteSpoolFile("00000001.xml", which[1] == 'm' ? "" : testsupport::kSampleReport);
    xsl_ = world_->WriteSpoolFile("00000001.xsl",
                                  which[1] == 's' ? "" : testsupport::kSampleStylesheet);
    ReportJob job;
    char message[1024] = "";
    std::string text = Arrived(Keys("Office Laser"));
    job.SetUp(text.c_str(), kProgram, message, sizeof(message));
    std::string path = which[1] == 'm' ? xml_ : xsl_;
    EXPECT_EQ("Error:File is empty. " + path + ".", std::string(message)) << which;
  }
}

}  // namespace
}  // namespace kavelo::printcontrol
