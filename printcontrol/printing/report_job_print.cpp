// The run of a job after its set-up: the report becomes HTML through the
// stylesheet and the HTML is printed, as one file or, when it is too large,
// as chunk files one after the other.
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <sys/stat.h>

#include "platform/spooler.h"
#include "printcontrol/job/event_reporting.h"
#include "printcontrol/job/job_note.h"
#include "printcontrol/job/report_job.h"
#include "printcontrol/job/text_field.h"
#include "printcontrol/printing/print_chunks.h"
#include "printcontrol/printing/print_html_file.h"
#include "printcontrol/printing/print_job_control.h"
#include "printcontrol/render/hidden_block_filter.h"
#include "printcontrol/render/limited_transform.h"
#include "printcontrol/render/separate_xml_file.h"
#include "printcontrol/render/string_list.h"

namespace kavelo::printcontrol {

namespace {

// An HTML file larger than this, of a report of more than one page, is
// printed in chunks of about a MiB of HTML each.
constexpr int64_t kWholeHtmlLimit = 4194304;
constexpr int64_t kMiB = 1048576;
// Transform and print texts need this much room.
constexpr size_t kErrorSize = 1024;

// A file of the job in its work directory (the current directory when the
// report's path names none).  False when the path does not fit.
bool JobFile(const ReportJob& job, char* path, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
bool JobFile(const ReportJob& job, char* path, const char* format, ...) {
  char name[ReportJob::kTextSize];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(name, sizeof(name), format, args);
  va_end(args);
  if (n < 0 || static_cast<size_t>(n) >= sizeof(name)) return false;
  const char* directory = job.workDirectory[0] != '\0' ? job.workDirectory : ".";
  n = std::snprintf(path, ReportJob::kTextSize, "%s/%s", directory, name);
  return n >= 0 && static_cast<size_t>(n) < ReportJob::kTextSize;
}

void DeleteAll(const StringList& files) {
  for (int i = 0; i < files.Count(); ++i) ::unlink(files.Item(i));
}

void Report(const ReportJob& job, const char* message) {
  ReportToEventLog(job.eventSource, message);
}

// One transform inside the job's limits (limited_transform.h); true when a
// limit ended it, and then nothing is transformed again.
bool Transform(const ReportJob& job, const char* xml, const char* xsl, const char* html,
               int styleFlag, char* error) {
  return LimitedTransform(xml, xsl, html, styleFlag, LimitsFor(job.limits, xml), job.title, error,
                          kErrorSize);
}

// The whole report into htmlPath.  Reports stylesheets of the full type
// without their hidden blocks when that copy can be written and used; the
// copy then becomes the effective stylesheet.  error empty on success.
void TransformWholeReport(ReportJob* job, const char* htmlPath, char* error) {
  if (job->styleFlag == 1) {
    Transform(*job, job->xmlPath, job->effectiveXslPath, htmlPath, 1, error);
    return;
  }
  char filtered[ReportJob::kTextSize];
  char filterError[kErrorSize] = "";
  if (!JobFile(*job, filtered, "%snone.xsl", job->reportName)) {
    Transform(*job, job->xmlPath, job->effectiveXslPath, htmlPath, job->styleFlag, error);
    return;
  }
  WriteFilteredStylesheet(job->effectiveXslPath, filtered, filterError);
  if (filterError[0] != '\0') {
    ::unlink(filtered);
    Transform(*job, job->xmlPath, job->effectiveXslPath, htmlPath, job->styleFlag, error);
    return;
  }
  if (Transform(*job, job->xmlPath, filtered, htmlPath, job->styleFlag, error)) return;
  if (error[0] != '\0') {
    ::unlink(filtered);
    Transform(*job, job->xmlPath, job->effectiveXslPath, htmlPath, job->styleFlag, error);
    return;
  }
  // The job's spooled stylesheet is still deleted at the end of the run;
  // when a failed job's files are to be kept for a retry it stays till then.
  if (!KeepFailedJobFilesAsked()) ::unlink(job->effectiveXslPath);
  CopyText(job->effectiveXslPath, ReportJob::kTextSize, filtered);
}

// Chunk i of the report into chunk HTML number i, for every chunk; *htmlFiles
// lists them.  On a failure every chunk and chunk HTML file is deleted.
// The chunk files are deleted in any case.
bool TransformChunks(const ReportJob& job, const StringList& chunks, StringList* htmlFiles,
                     char* error) {
  bool ok = true;
  for (int i = 0; i < chunks.Count() && ok; ++i) {
    char htmlPath[ReportJob::kTextSize];
    if (!JobFile(job, htmlPath, "%s%d.html", job.reportName, i)) {
      std::snprintf(error, kErrorSize, "Error:path too long in %s.", job.workDirectory);
      ok = false;
      break;
    }
    // Listed first, so that a half-written file is deleted too.
    htmlFiles->Push(htmlPath);
    Transform(job, chunks.Item(i), job.effectiveXslPath, htmlPath, job.styleFlag, error);
    ok = error[0] == '\0';
  }
  DeleteAll(chunks);
  if (!ok) {
    DeleteAll(*htmlFiles);
    htmlFiles->Clear();
  }
  return ok;
}

// The report in chunks: split, transformed chunk by chunk, printed held when
// the user may hold its own jobs on the printer, else plain.  Every chunk file and
// chunk HTML file is deleted at the end.
void PrintInChunks(ReportJob* job, int64_t htmlSize, char* error) {
  const int factor = static_cast<int>(std::max<int64_t>(1, htmlSize / kMiB));
  StringList chunks("string2");
  SeparateXmlFile(job->xmlPath, factor, job->pageCount, &chunks, error);
  if (error[0] != '\0') return;

  std::unique_ptr<platform::Spooler> spooler = platform::OpenSpooler();
  const bool held =
      spooler != nullptr && CanHoldOwnJobs(*spooler, job->settings.printerName()) == 0;
  StringList htmlFiles("string2");
  bool transformed;
  {
    StageTimer timer(JobStage::kTransform);
    transformed = TransformChunks(*job, chunks, &htmlFiles, error);
  }
  if (!transformed) return;
  HtmlPrinter print = [job](const char* htmlPath, int copies, int lock, char* printError) {
    PrintHtmlFile(*job, htmlPath, copies, lock, printError, kErrorSize);
  };
  if (held) {
    PrintChunksHeld(*job, *spooler, print, &htmlFiles, error);
  } else {
    PrintChunksPlain(*job, htmlFiles, print, error);
  }
  DeleteAll(htmlFiles);
}

}  // namespace

namespace {

// TMPDIR names the job's work folder while the job prints, so that orlendi
// and its renderer keep their scratch files in it too; the old value comes
// back at the end.
class ScratchInWorkFolder {
 public:
  explicit ScratchInWorkFolder(const char* folder) {
    const char* old = std::getenv("TMPDIR");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    active_ = folder[0] == '/';
    if (active_) setenv("TMPDIR", folder, 1);
  }
  ~ScratchInWorkFolder() {
    if (!active_) return;
    if (hadOld_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  ScratchInWorkFolder(const ScratchInWorkFolder&) = delete;
  ScratchInWorkFolder& operator=(const ScratchInWorkFolder&) = delete;

 private:
  bool active_ = false;
  bool hadOld_ = false;
  std::string old_;
};

}  // namespace

void ReportJob::PrintReport() {
  ScratchInWorkFolder scratch(workDirectory);
  char error[kErrorSize] = "";
  char htmlPath[kTextSize];
  if (!JobFile(*this, htmlPath, "%s.html", reportName)) {
    std::snprintf(error, sizeof(error), "Error:path too long in %s.", workDirectory);
    return Report(*this, error);
  }
  {
    StageTimer timer(JobStage::kTransform);
    TransformWholeReport(this, htmlPath, error);
  }
  if (error[0] != '\0') {
    ::unlink(htmlPath);
    return Report(*this, error);
  }

  // The HTML is this run's own file, written by the transform process that
  // has ended: its size is all that is needed, not the input-file test with
  // its walk over every process's descriptors.
  struct stat htmlInfo = {};
  const int64_t size = ::stat(htmlPath, &htmlInfo) == 0 ? htmlInfo.st_size : 0;
  if (size > kWholeHtmlLimit && pageCount > 1) {
    ::unlink(htmlPath);
    PrintInChunks(this, size, error);
  } else {
    PrintHtmlFile(*this, htmlPath, copies, 0, error, sizeof(error));
    ::unlink(htmlPath);
  }
  if (error[0] != '\0') Report(*this, error);
}

}  // namespace kavelo::printcontrol
