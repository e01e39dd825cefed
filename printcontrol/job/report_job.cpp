#include "printcontrol/job/report_job.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <sys/stat.h>

#include "platform/sysinfo.h"
#include "printcontrol/job/command_line.h"
#include "printcontrol/job/event_reporting.h"
#include "printcontrol/job/file_check.h"
#include "printcontrol/job/job_note.h"
#include "printcontrol/job/report_header.h"
#include "printcontrol/job/report_name.h"
#include "printcontrol/job/spool_files.h"
#include "printcontrol/job/text_field.h"
#include "printcontrol/printing/print_job_control.h"
#include "printcontrol/render/xml_libraries.h"

namespace kavelo::printcontrol {

namespace {

void Say(char* message, size_t size, const char* text) { CopyText(message, size, text); }

// The file test of one input file; a file of size 0 holds no report and
// stops the set-up with its own message.
bool InputFileUsable(const char* path, char* message, size_t size) {
  int64_t fileSize = 0;
  if (CheckInputFile(path, &fileSize, message, size) != 0) return false;
  if (fileSize == 0) {
    std::snprintf(message, size, "Error:File is empty. %s.", path);
    return false;
  }
  return true;
}

}  // namespace

ReportJob::ReportJob() {
  utilityDirectory[0] = '\0';
  workDirectory[0] = '\0';
  xmlPath[0] = '\0';
  xslPath[0] = '\0';
  effectiveXslPath[0] = '\0';
  CopyText(eventSource, kTextSize, kOstrevoEventSource);
  title[0] = '\0';
  xslFontFamily[0] = '\0';
  xslFontSize[0] = '\0';
  xslLineHeight[0] = '\0';
  MakeReportName(reportName, kTextSize);
}

ReportJob::~ReportJob() {
  libraries_.reset();
  // A failed job's spooled files stay for a retry when the service asks so;
  // the service removes them once KeepFailedHours have passed.
  if (!KeepFailedJobFiles()) {
    RemoveSpoolFile(xmlPath, ".xml");
    RemoveSpoolFile(xslPath, ".xsl");
  }
  // Deleting a name twice could hit a new job's file that the service has
  // spooled under the name freed a moment ago.
  if (std::strcmp(effectiveXslPath, xslPath) != 0) RemoveSpoolFile(effectiveXslPath, ".xsl");
  if (workFolderMade_) {
    std::error_code ignored;
    std::filesystem::remove_all(workDirectory, ignored);
    ::close(workFolderLock_);
  }
}

void ReportJob::TakeInputPaths(const char* commandLine, KeyValue* xml, KeyValue* xsl) {
  *xml = FindKeyValue(commandLine, "xml", xmlPath, kTextSize);
  *xsl = FindKeyValue(commandLine, "xsl", xslPath, kTextSize);
  if (*xml != KeyValue::kTooLong && *xsl != KeyValue::kTooLong) return;
  // The job is refused, and a file the job object cannot name would stay
  // in the spool folder for good.
  std::string path;
  if (*xml == KeyValue::kTooLong && FindKeyValueText(commandLine, "xml", &path)) {
    RemoveSpoolFile(path, ".xml");
  }
  if (*xsl == KeyValue::kTooLong && FindKeyValueText(commandLine, "xsl", &path)) {
    RemoveSpoolFile(path, ".xsl");
  }
}

bool ReportJob::StartXmlLibraries() {
  libraries_ = std::make_unique<XmlLibraries>();
  return libraries_->Initialize();
}

void ReportJob::Run(const char* commandLine) {
  char message[kMessageSize] = "";
  SetUp(commandLine, platform::ProgramPath().c_str(), message, sizeof(message));
  if (message[0] != '\0') {
    ReportToEventLog(eventSource, message);
    return;
  }
  PrintReport();
}

void ReportJob::SetUp(const char* commandLine, const char* programPath, char* message,
                      size_t messageSize) {
  if (message == nullptr || messageSize == 0) return;
  message[0] = '\0';
  // The two input paths are taken before anything is checked, so that the
  // job's files are removed at the end of the run whichever step fails.
  KeyValue xml = KeyValue::kMissing;
  KeyValue xsl = KeyValue::kMissing;
  TakeInputPaths(commandLine, &xml, &xsl);

  // 1. The directory of this program (orlendi lives beside it).
  if (!FindUtilityDirectory(programPath, commandLine, utilityDirectory, kTextSize)) {
    return Say(message, messageSize, "Can't get full path of util directory.");
  }
  // 2, 3. The report and its stylesheet are named.
  if (xml == KeyValue::kTooLong) return Say(message, messageSize, "Error:xml value too long.");
  if (xmlPath[0] == '\0') return Say(message, messageSize, "Error:Can't find xml file.");
  if (xsl == KeyValue::kTooLong) return Say(message, messageSize, "Error:xsl value too long.");
  if (xslPath[0] == '\0') return Say(message, messageSize, "Can't find xsl file.");
  // 4. The stylesheet can be read.
  if (!InputFileUsable(xslPath, message, messageSize)) return;
  CopyText(effectiveXslPath, kTextSize, xslPath);
  // 5. The report can be read; its directory is the job's work directory.
  if (!InputFileUsable(xmlPath, message, messageSize)) return;
  // Every file the job makes goes into a folder of its own beside the
  // report, so that the service can remove them all when this process is
  // ended before it could.
  std::string folder = platform::JobWorkFolder(xmlPath);
  if (folder.size() >= kTextSize) return Say(message, messageSize, "Error:xml value too long.");
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);  // left by an ended run
  // Locked while this process (and its transform) runs: see print_limits.h.
  workFolderLock_ = platform::MakeLockedJobWorkFolder(folder);
  if (workFolderLock_ < 0) {
    std::snprintf(message, messageSize, "Error:Can't create folder %s.", folder.c_str());
    return;
  }
  workFolderMade_ = true;
  CopyText(workDirectory, kTextSize, folder.c_str());
  limits = platform::ReadPrintLimits();
  // 6. The printer, by its name or by the port name of a printer.
  char printerName[kTextSize];
  if (FindPrinterName(commandLine, printerName, sizeof(printerName)) == KeyValue::kTooLong) {
    return Say(message, messageSize, "Error:printerName value too long.");
  }
  if (printerName[0] == '\0') return Say(message, messageSize, "Can't find printer.");
  char resolved[kTextSize] = "";
  ResolvePrinterName(printerName, resolved, sizeof(resolved));
  settings.SetPrinterName(resolved[0] != '\0' ? resolved : printerName);
  // 7. Page numbers (they only size the job) and copies.
  fromPage = FindKeyNumber(commandLine, "fromPage");
  if (fromPage <= 0) fromPage = 1;
  int toPageRead = FindKeyNumber(commandLine, "toPage");
  if (toPageRead <= 0 || toPageRead < fromPage) {
    std::snprintf(message, messageSize, "Error in toPage:%d", toPageRead);
    return;
  }
  toPage = toPageRead;
  pageCount = toPage - fromPage + 1;
  copies = FindKeyNumber(commandLine, "copy");
  if (copies <= 0) copies = 1;
  // 8. The report header.
  ReadReportHeader(xmlPath);
  // 9, 10. Print style of the stylesheet and printer settings.
  ChoosePrintLayout(FindKeyNumber(commandLine, "orien"));
}

void ReportJob::ReadReportHeader(const char* xmlFilePath) {
  ReportHeaderFields fields;
  fields.title = title;
  fields.titleSize = kTextSize;
  fields.styleFlag = &styleFlag;
  fields.width = &width;
  fields.realLength = &realLength;
  fields.realWidth = &realWidth;
  ReadReportHeaderFile(xmlFilePath, fields);
}

}  // namespace kavelo::printcontrol
