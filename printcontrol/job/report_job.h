// ReportJob: the print control's one job, from its command line to the end
// of the run.  Text fields are fixed, always terminated fields; a value that
// does not fit its field is refused, never cut into another path or name.
// One per process; used by the main thread only.
// Its members are defined by step: report_job.cpp (set-up and end),
// layout/report_job_layout.cpp (print layout), printing/report_job_print.cpp
// (HTML and printing).
#ifndef KAVELO_PRINTCONTROL_REPORT_JOB_H_
#define KAVELO_PRINTCONTROL_REPORT_JOB_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/print_limits.h"
#include "printcontrol/job/command_line.h"
#include "printcontrol/layout/printer_settings.h"

namespace kavelo::printcontrol {

class XmlLibraries;

class ReportJob {
 public:
  static constexpr size_t kTextSize = 512;
  static constexpr size_t kMessageSize = 1024;

  // The fields emptied (copies 1, styleFlag -1, eventSource "ostrevo"), the
  // settings at their defaults without a printer, and reportName made from
  // the local time.  The XML libraries are not started here.
  ReportJob();
  // The end of the run: the XML libraries are terminated (when started),
  // then the files at xmlPath, xslPath and effectiveXslPath are deleted,
  // each only when its field is not empty and it is a job file by
  // RemoveSpoolFile's rule (a name is deleted once), and the work folder
  // the set-up made is removed with all it holds.
  ~ReportJob();
  ReportJob(const ReportJob&) = delete;
  ReportJob& operator=(const ReportJob&) = delete;

  // Starts Xerces-C and Xalan-C for this run; false when they fail.
  bool StartXmlLibraries();

  // Runs the job on the command-line text: set-up, then the report is
  // printed.  A set-up failure is reported once to the event log and ends
  // the run.
  void Run(const char* commandLine);

  // The job set-up, in order: utility directory, xml and xsl values, file
  // tests of the stylesheet and the report, the job's work folder (made
  // afresh: platform::JobWorkFolder of the report) and its print limits,
  // printer, page numbers and copies, report header, print layout.
  // message (messageSize bytes) stays empty on success, else receives the
  // text of the first failure.  programPath is the running program's path
  // (empty: unknown).
  void SetUp(const char* commandLine, const char* programPath, char* message, size_t messageSize);

  // Takes the xml= and xsl= values of the command-line text into xmlPath
  // and xslPath, so that the end of the run deletes them whatever fails
  // later.  A value too long for its field is deleted at once, from the
  // uncut text (RemoveSpoolFile's rule), and its field stays empty.
  void TakeInputPaths(const char* commandLine, KeyValue* xml, KeyValue* xsl);

  // Reads the report header (report_info) of the XML file into title,
  // styleFlag, width, realLength and realWidth.  Missing file, header or
  // elements leave the fields as they are.
  void ReadReportHeader(const char* xmlFilePath);

  // Set-up of the print layout: the stylesheet's print style and the printer
  // settings chosen for the requested orientation (0 or less: none given).
  // It may replace effectiveXslPath by a rewritten copy.  Reports nothing.
  void ChoosePrintLayout(int orientation);

  // Produces the HTML and prints it; each failure there is reported by the
  // step that meets it.
  void PrintReport();

  char utilityDirectory[kTextSize];
  char workDirectory[kTextSize];
  char xmlPath[kTextSize];
  char xslPath[kTextSize];
  char effectiveXslPath[kTextSize];
  int32_t fromPage = 0;
  int32_t toPage = 0;
  int32_t pageCount = 0;
  int32_t copies = 1;
  char eventSource[kTextSize];
  char title[kTextSize];
  int32_t styleFlag = -1;  // -1 no style_sheet_type, 0 "full", 1 any other
  int32_t width = 0;
  int32_t realWidth = 0;
  int32_t realLength = 0;
  char xslFontFamily[kTextSize];
  char xslFontSize[kTextSize];
  char xslLineHeight[kTextSize];
  char reportName[kTextSize];
  PrinterSettings settings;
  // Read at set-up (step 5) from the registry.
  platform::PrintLimits limits;

 private:
  bool workFolderMade_ = false;
  int workFolderLock_ = -1;  // holds the work folder's lock while the job runs
  std::unique_ptr<XmlLibraries> libraries_;
};

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_REPORT_JOB_H_
