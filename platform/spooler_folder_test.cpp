// The folder spooler on a temporary folder, and the choice of back end.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/internal/spooler_internal.h"
#include "platform/spooler.h"
#include "testsupport/files.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"

namespace kavelo::platform {
namespace {

namespace fs = std::filesystem;

using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::WriteFile;

class FolderSpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path();
    fs::create_directory(root_ / "PDF");
    fs::create_directory(root_ / "Other printer");
    WriteFile(root_ / "default", "PDF\n");
    spooler_ = MakeFolderSpooler(root_.string());
  }

  // The printed documents of a printer: data file name -> metadata lines.
  std::map<std::string, std::map<std::string, std::string>> Printed(const std::string& printer) {
    std::map<std::string, std::map<std::string, std::string>> printed;
    for (const auto& entry : fs::directory_iterator(root_ / printer)) {
      if (entry.path().extension() != ".job") continue;
      std::map<std::string, std::string> meta;
      std::istringstream lines(ReadFile(entry.path()));
      for (std::string line; std::getline(lines, line);) {
        meta[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
      }
      printed[meta["file"]] = meta;
    }
    return printed;
  }

  testsupport::TempDir temp_{"kavelo-folder-spooler"};
  fs::path root_;
  std::unique_ptr<Spooler> spooler_;
};

TEST_F(FolderSpoolerTest, OperationsAnswerAsAFolderSpooler) {
  std::string name;
  ASSERT_EQ(spooler_->DefaultPrinter(&name), kSpoolerOk);
  EXPECT_EQ(name, "PDF");

  std::vector<PrinterEntry> printers;
  fs::create_directory(root_ / ".hidden");
  fs::create_symlink("/tmp", root_ / "linked");
  WriteFile(root_ / "a-file", "x");
  ASSERT_EQ(spooler_->ListPrinters(&printers), kSpoolerOk);
  ASSERT_EQ(printers.size(), 2u);  // neither the hidden folder, the link nor the file
  EXPECT_EQ(printers[0].printerName, "Other printer");
  EXPECT_EQ(printers[1].printerName, "PDF");
  EXPECT_EQ(printers[1].portName, "file:" + (root_ / "PDF").string());
  EXPECT_EQ(printers[1].driverName, "folder");

  // Every printer operation, on an existing printer, on one differing in
  // case only, and on missing ones.
  for (const std::string printer : {"PDF", "pdf", "Other printer"}) {
    SCOPED_TRACE(printer);
    EXPECT_EQ(spooler_->OpenPrinter(printer, PrinterAccess::kUse), kSpoolerOk);
    EXPECT_EQ(spooler_->OpenPrinter(printer, PrinterAccess::kFull), kSpoolerAccessDenied);
    int count = -1;
    EXPECT_EQ(spooler_->JobCount(printer, &count), kSpoolerOk);
    EXPECT_EQ(count, 0);
    std::vector<SpoolerJob> jobs(1);
    EXPECT_EQ(spooler_->ListJobs(printer, &jobs), kSpoolerOk);
    EXPECT_TRUE(jobs.empty());
    SpoolerJob job;
    EXPECT_EQ(spooler_->GetJob(printer, 1, &job), kSpoolerInvalidJob);
    EXPECT_EQ(spooler_->ControlJob(printer, 1, JobCommand::kPause), kSpoolerAccessDenied);
    EXPECT_EQ(spooler_->ControlJob(printer, 1, JobCommand::kCancel), kSpoolerAccessDenied);
    EXPECT_EQ(spooler_->SetJobPosition(printer, 1, 1), kSpoolerAccessDenied);
    EXPECT_EQ(spooler_->ResumePrinter(printer), kSpoolerOk);
  }
  for (const std::string printer : {"missing", "linked", "a-file"}) {
    SCOPED_TRACE(printer);
    EXPECT_EQ(spooler_->OpenPrinter(printer, PrinterAccess::kUse), kSpoolerInvalidPrinterName);
    EXPECT_EQ(spooler_->ResumePrinter(printer), kSpoolerInvalidPrinterName);
    int count = 0;
    EXPECT_EQ(spooler_->JobCount(printer, &count), kSpoolerInvalidPrinterName);
  }
}

TEST_F(FolderSpoolerTest, DefaultPrinterNeedsAValidName) {
  const struct {
    const char* content;  // nullptr: no file
    int status;
    const char* name;
  } cases[] = {
      {nullptr, kSpoolerInvalidPrinterName, ""},
      {"", kSpoolerInvalidPrinterName, ""},
      {"  Other printer \r\nignored\n", kSpoolerOk, "Other printer"},
      {"../etc\n", kSpoolerInvalidPrinterName, ""},
      {"a/b", kSpoolerInvalidPrinterName, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content ? c.content : "(none)");
    fs::remove(root_ / "default");
    if (c.content) WriteFile(root_ / "default", c.content);
    std::string name;
    EXPECT_EQ(spooler_->DefaultPrinter(&name), c.status);
    EXPECT_EQ(name, c.name);
  }
  fs::remove_all(root_);
  std::vector<PrinterEntry> printers(1);
  EXPECT_EQ(spooler_->ListPrinters(&printers), kSpoolerOk);  // a missing folder has none
  EXPECT_TRUE(printers.empty());
}

TEST_F(FolderSpoolerTest, BadPrinterNamesAreRefusedWithoutTouchingFiles) {
  fs::create_directory(root_ / "with \"quotes\" and \\ back");
  const struct {
    std::string name;
    int status;
  } cases[] = {
      {"", kSpoolerInvalidPrinterName},
      {"..", kSpoolerInvalidPrinterName},
      {".", kSpoolerInvalidPrinterName},
      {"../PDF", kSpoolerInvalidPrinterName},
      {"PDF/..", kSpoolerInvalidPrinterName},
      {"/etc", kSpoolerInvalidPrinterName},
      {std::string("PDF\0x", 5), kSpoolerInvalidPrinterName},
      {"PDF\n", kSpoolerInvalidPrinterName},
      {std::string(600, 'p'), kSpoolerInvalidPrinterName},
      {"with \"quotes\" and \\ back", kSpoolerOk},
      {"\"PDF\"", kSpoolerInvalidPrinterName},
  };
  fs::path document = root_ / "doc.pdf";
  WriteFile(document, "%PDF-1.4\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.size() > 40 ? "long name" : c.name);
    EXPECT_EQ(spooler_->OpenPrinter(c.name, PrinterAccess::kUse), c.status);
    PageGeometry geometry;
    EXPECT_EQ(spooler_->GetPageGeometry(c.name, &geometry), c.status);
    int32_t jobId = -1;
    EXPECT_EQ(spooler_->SubmitDocument(c.name, document.string(), {}, &jobId), c.status);
  }
  // Nothing landed outside the printers' folders.
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(root_)) entries += entry.exists() ? 1 : 0;
  EXPECT_EQ(entries, 5u);  // PDF, Other printer, the quoted one, default, doc.pdf
  EXPECT_EQ(Printed("with \"quotes\" and \\ back").size(), 1u);
}

TEST_F(FolderSpoolerTest, GeometryComesFromPrinterConf) {
  const struct {
    const char* conf;  // nullptr: no printer.conf
    int status;
    PageGeometry expected;
  } cases[] = {
      // A4 at 600 dpi with 6.35 mm edges.
      {nullptr, kSpoolerOk, {4961, 7016, 150, 150, 600, 600}},
      {"# comment\n\npaper = Letter\nresolution = 300\n",
       kSpoolerOk,
       {2550, 3300, 75, 75, 300, 300}},
      {"width-mm=100\nheight-mm=200\nmargin-left-mm=0\nmargin-top-mm=25.4\n"
       "resolution-x=600\nresolution-y=1200\n",
       kSpoolerOk,
       {2362, 9449, 0, 1200, 600, 1200}},
      {"paper = A5\r\n", kSpoolerOk, {3496, 4961, 150, 150, 600, 600}},
      {"colour = yes\n", kSpoolerInvalidParameter, {}},
      {"resolution = fast\n", kSpoolerInvalidParameter, {}},
      {"resolution = 0\n", kSpoolerInvalidParameter, {}},
      {"paper = A9\n", kSpoolerInvalidParameter, {}},
      {"width-mm 210\n", kSpoolerInvalidParameter, {}},
      {"margin-left-mm = 105\n", kSpoolerInvalidParameter, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.conf ? c.conf : "(none)");
    fs::remove(root_ / "PDF" / "printer.conf");
    if (c.conf) WriteFile(root_ / "PDF" / "printer.conf", c.conf);
    PageGeometry g;
    ASSERT_EQ(spooler_->GetPageGeometry("PDF", &g), c.status);
    if (c.status != kSpoolerOk) continue;
    EXPECT_EQ(g.physicalWidth, c.expected.physicalWidth);
    EXPECT_EQ(g.physicalHeight, c.expected.physicalHeight);
    EXPECT_EQ(g.offsetX, c.expected.offsetX);
    EXPECT_EQ(g.offsetY, c.expected.offsetY);
    EXPECT_EQ(g.resolutionX, c.expected.resolutionX);
    EXPECT_EQ(g.resolutionY, c.expected.resolutionY);
  }
}

TEST_F(FolderSpoolerTest, SubmittedDocumentLandsWithItsMetadata) {
  fs::path document = root_ / "report.pdf";
  std::string content = "%PDF-1.4\n" + std::string(200000, 'x') + "\n%%EOF\n";
  WriteFile(document, content);

  SubmitOptions options;
  options.documentName = "/opt/kavelo/spool/0001 \"a\"\nb.html";
  options.copies = 3;
  options.orientation = 2;
  options.marginLeftMm = 12.5;
  options.color = false;
  int32_t jobId = -1;
  ASSERT_EQ(spooler_->SubmitDocument("pdf", document.string(), options, &jobId), kSpoolerOk);
  EXPECT_EQ(jobId, 0);
  ASSERT_EQ(spooler_->SubmitDocument("PDF", document.string(), SubmitOptions{}, &jobId),
            kSpoolerOk);

  auto printed = Printed("PDF");
  ASSERT_EQ(printed.size(), 2u);
  const std::map<std::string, std::string>* first = nullptr;
  for (const auto& [file, meta] : printed) {
    EXPECT_EQ(ReadFile(root_ / "PDF" / file), content) << file;
    EXPECT_EQ(fs::path(file).extension(), ".pdf");
    if (meta.at("copies") == "3") first = &meta;
  }
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->at("document"), "/opt/kavelo/spool/0001 \"a\"\\nb.html");
  EXPECT_EQ(first->at("orientation"), "landscape");
  EXPECT_EQ(first->at("margin-left-mm"), "12.5");
  EXPECT_EQ(first->at("margin-top-mm"), "printer");
  EXPECT_EQ(first->at("color"), "no");
  EXPECT_FALSE(first->at("user").empty());
  EXPECT_EQ(first->at("time").size(), 20u);
  EXPECT_NE(first->at("file").find("0001__a__b.html"), std::string::npos);
  // No temporary file stays behind.
  for (const auto& entry : fs::directory_iterator(root_ / "PDF")) {
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
  }
}

TEST_F(FolderSpoolerTest, SubmitRefusesBadRequests) {
  fs::path document = root_ / "doc.pdf";
  WriteFile(document, "%PDF-1.4\n");
  SubmitOptions noCopies;
  noCopies.copies = 0;
  SubmitOptions sideways;
  sideways.orientation = 3;
  const struct {
    const char* printer;
    std::string file;
    SubmitOptions options;
    int status;
  } cases[] = {
      {"PDF", (root_ / "missing.pdf").string(), {}, kSpoolerFileNotFound},
      {"PDF", document.string(), noCopies, kSpoolerInvalidParameter},
      {"PDF", document.string(), sideways, kSpoolerInvalidParameter},
      {"missing", document.string(), {}, kSpoolerInvalidPrinterName},
  };
  for (const auto& c : cases) {
    int32_t jobId = -1;
    EXPECT_EQ(spooler_->SubmitDocument(c.printer, c.file, c.options, &jobId), c.status);
  }
  EXPECT_TRUE(Printed("PDF").empty());
  if (geteuid() != 0) {
    fs::permissions(root_ / "PDF", fs::perms::owner_read | fs::perms::owner_exec);
    int32_t jobId = -1;
    EXPECT_EQ(spooler_->SubmitDocument("PDF", document.string(), {}, &jobId), kSpoolerAccessDenied);
    fs::permissions(root_ / "PDF", fs::perms::owner_all);
  }
}

TEST_F(FolderSpoolerTest, OpenSpoolerFollowsKaveloSpooler) {
  {
    ScopedEnv choice("KAVELO_SPOOLER", ("dir:" + root_.string()).c_str());
    std::unique_ptr<Spooler> spooler = OpenSpooler();
    ASSERT_NE(spooler, nullptr);
    std::string name;
    EXPECT_EQ(spooler->DefaultPrinter(&name), kSpoolerOk);
    EXPECT_EQ(name, "PDF");
  }
  {
    ScopedEnv choice("KAVELO_SPOOLER", "lpd");
    EXPECT_EQ(OpenSpooler(), nullptr);
  }
  {
    ScopedEnv choice("KAVELO_SPOOLER", "dir:");
    EXPECT_EQ(OpenSpooler(), nullptr);
  }
  {
    ScopedEnv choice("KAVELO_SPOOLER", nullptr);
    ScopedEnv server("CUPS_SERVER", (root_ / "no-cups.sock").c_str());
    EXPECT_FALSE(CupsSchedulerAnswers(1000));
  }
}

TEST_F(FolderSpoolerTest, DefaultFolderIsMadeWithAPdfPrinter) {
  // The system-wide folder cannot be made below a file: the user's own.
  WriteFile(root_ / "not-a-folder", "");
  std::string system = (root_ / "not-a-folder" / "kavelo-printers").string();
  fs::path home = root_ / "home";
  fs::create_directory(home);
  std::string folder = DefaultPrinterFolder(system, home.c_str());
  EXPECT_EQ(folder, (home / ".local/share/kavelo-printers").string());
  EXPECT_EQ(DefaultPrinterFolder((root_ / "system").string(), home.c_str()),
            (root_ / "system").string());

  for (const std::string& made : {folder, (root_ / "system").string()}) {
    std::unique_ptr<Spooler> spooler = MakeFolderSpooler(made);
    std::string name;
    ASSERT_EQ(spooler->DefaultPrinter(&name), kSpoolerOk);
    EXPECT_EQ(name, "PDF");
    EXPECT_EQ(spooler->OpenPrinter(name, PrinterAccess::kUse), kSpoolerOk);
  }
  // An existing folder is used as it is: no printer is added to it.
  EXPECT_EQ(DefaultPrinterFolder((root_ / "Other printer").string(), home.c_str()),
            (root_ / "Other printer").string());
  EXPECT_FALSE(fs::exists(root_ / "Other printer" / "PDF"));
}

}  // namespace
}  // namespace kavelo::platform
