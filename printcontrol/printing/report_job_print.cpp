// The run of a job after its set-up: the report becomes HTML through the
// stylesheet and the HTML is printed, as one file or, when it is too large,
// as chunk files that render side by side and are spooled one after the
// other.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <sys/stat.h>

#include "platform/spooler.h"
#include "printcontrol/job/event_reporting.h"
#include "printcontrol/job/job_note.h"
#include "printcontrol/job/report_job.h"
#include "printcontrol/job/text_field.h"
#include "printcontrol/printing/chunk_renders.h"
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
// Transform texts need this much room.
constexpr size_t kErrorSize = 1024;

// A file of the job in its work directory (the current directory when the
// report's path names none).  Empty when the path would not fit into the
// job's texts.
std::string JobFile(const ReportJob& job, const std::string& name) {
  const std::string directory = job.workDirectory[0] != '\0' ? job.workDirectory : ".";
  std::string path = directory + "/" + name;
  return path.size() < ReportJob::kTextSize ? path : "";
}

std::string PathTooLong(const ReportJob& job) {
  return std::string("Error:path too long in ") + job.workDirectory + ".";
}

void DeleteAll(const StringList& files) {
  for (int i = 0; i < files.Count(); ++i) ::unlink(files.Item(i));
}

void Report(const ReportJob& job, const std::string& message) {
  ReportToEventLog(job.eventSource, message.c_str());
}

// One transform inside the job's limits (limited_transform.h); true when a
// limit ended it, and then nothing is transformed again.  *error is empty
// on success.
bool Transform(const ReportJob& job, const std::string& xml, const std::string& xsl,
               const std::string& html, int styleFlag, std::string* error) {
  char text[kErrorSize] = "";
  const bool limited =
      LimitedTransform(xml.c_str(), xsl.c_str(), html.c_str(), styleFlag,
                       LimitsFor(job.limits, xml.c_str()), job.title, text, sizeof(text));
  *error = text;
  return limited;
}

// The whole report into htmlPath.  Reports stylesheets of the full type
// without their hidden blocks when that copy can be written and used; the
// copy then becomes the effective stylesheet.  *error empty on success.
void TransformWholeReport(ReportJob* job, const std::string& htmlPath, std::string* error) {
  if (job->styleFlag == 1) {
    Transform(*job, job->xmlPath, job->effectiveXslPath, htmlPath, 1, error);
    return;
  }
  const std::string filtered = JobFile(*job, std::string(job->reportName) + "none.xsl");
  char filterError[kErrorSize] = "";
  if (filtered.empty()) {
    Transform(*job, job->xmlPath, job->effectiveXslPath, htmlPath, job->styleFlag, error);
    return;
  }
  WriteFilteredStylesheet(job->effectiveXslPath, filtered.c_str(), filterError);
  if (filterError[0] != '\0') {
    ::unlink(filtered.c_str());
    Transform(*job, job->xmlPath, job->effectiveXslPath, htmlPath, job->styleFlag, error);
    return;
  }
  if (Transform(*job, job->xmlPath, filtered, htmlPath, job->styleFlag, error)) return;
  if (!error->empty()) {
    ::unlink(filtered.c_str());
    Transform(*job, job->xmlPath, job->effectiveXslPath, htmlPath, job->styleFlag, error);
    return;
  }
  // The print-style copy of the stylesheet is this run's own and goes now.
  // The job's spooled stylesheet itself is still deleted at the end of the
  // run; when a failed job's files are to be kept for a retry it stays.
  if (std::strcmp(job->effectiveXslPath, job->xslPath) != 0 || !KeepFailedJobFilesAsked()) {
    ::unlink(job->effectiveXslPath);
  }
  CopyText(job->effectiveXslPath, ReportJob::kTextSize, filtered.c_str());
}

// Chunk i of the report into chunk HTML number i, for every chunk, each
// handed to the renders as soon as it is written; *htmlFiles and *pdfFiles
// list the files.  False on a failure.  The chunk files are deleted in any
// case.
bool TransformChunks(const ReportJob& job, const StringList& chunks, ChunkRenders* renders,
                     StringList* htmlFiles, StringList* pdfFiles, std::string* error) {
  bool ok = true;
  for (int i = 0; i < chunks.Count() && ok; ++i) {
    const std::string stem = std::string(job.reportName) + std::to_string(i);
    const std::string htmlPath = JobFile(job, stem + ".html");
    const std::string pdfPath = JobFile(job, stem + ".pdf");
    if (htmlPath.empty() || pdfPath.empty()) {
      *error = PathTooLong(job);
      ok = false;
      break;
    }
    // Listed first, so that a half-written file is deleted too.
    htmlFiles->Push(htmlPath.c_str());
    pdfFiles->Push(pdfPath.c_str());
    Transform(job, chunks.Item(i), job.effectiveXslPath, htmlPath, job.styleFlag, error);
    ok = error->empty();
    if (ok) renders->Add(htmlPath, pdfPath);
  }
  DeleteAll(chunks);
  return ok;
}

// The report in chunks: split, transformed chunk by chunk, each chunk
// rendered once (up to RenderWorkers at once) and its PDF spooled for every
// copy in chunk order, held when the user may hold its own jobs on the
// printer, else plain.  Every chunk file, chunk HTML file and PDF is deleted
// at the end.  False with *error on failure (empty when it was reported
// already).
bool PrintInChunks(ReportJob* job, int64_t htmlSize, std::string* error) {
  const int factor = static_cast<int>(std::max<int64_t>(1, htmlSize / kMiB));
  StringList chunks("string2");
  char splitError[kErrorSize] = "";
  SeparateXmlFile(job->xmlPath, factor, job->pageCount, &chunks, splitError);
  if (splitError[0] != '\0') {
    *error = splitError;
    return false;
  }
  std::unique_ptr<platform::Spooler> spooler = platform::OpenSpooler();
  if (spooler == nullptr) {
    DeleteAll(chunks);
    const char* chosen = std::getenv("KAVELO_SPOOLER");
    *error = std::string("Error:no print spooler for KAVELO_SPOOLER=") + (chosen ? chosen : "");
    return false;
  }
  const bool held = CanHoldOwnJobs(*spooler, job->settings.printerName()) == 0;
  StringList htmlFiles("string2");
  StringList pdfFiles("string2");
  bool ok;
  {
    ChunkRenders renders(job->limits.RenderWorkerCount(),
                         [job](const std::string& html, const std::string& pdf,
                               const std::atomic<bool>& cancelled, std::string* renderError) {
                           return RenderHtmlFile(*job, html, pdf, cancelled, renderError);
                         });
    {
      StageTimer timer(JobStage::kTransform);
      ok = TransformChunks(*job, chunks, &renders, &htmlFiles, &pdfFiles, error);
    }
    ChunkPrinter print = [&](int chunk, const std::string& documentName, bool hold,
                             int32_t* jobId, std::string* printError) {
      // Called on this thread in chunk order: the wait for a render counts as
      // rendering, the hand-over as spooling.
      {
        StageTimer timer(JobStage::kRender);
        if (!renders.Wait(chunk, printError)) return false;
      }
      StageTimer timer(JobStage::kSpool);
      const bool spooled = SubmitChunkPdf(*job, *spooler, pdfFiles.Item(chunk), documentName,
                                          hold, jobId, printError);
      if (spooled) NoteDocument();
      return spooled;
    };
    if (ok) {
      ok = held ? PrintChunksHeld(*job, *spooler, print, htmlFiles, error)
                : PrintChunksPlain(*job, htmlFiles, print, error);
    }
    // Leaving the scope ends the renders still in flight.
    if (!ok) renders.Cancel();
  }
  DeleteAll(htmlFiles);
  DeleteAll(pdfFiles);
  return ok;
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
  std::string error;
  const std::string htmlPath = JobFile(*this, std::string(reportName) + ".html");
  if (htmlPath.empty()) return Report(*this, PathTooLong(*this));
  {
    StageTimer timer(JobStage::kTransform);
    TransformWholeReport(this, htmlPath, &error);
  }
  if (!error.empty()) {
    ::unlink(htmlPath.c_str());
    return Report(*this, error);
  }

  // The HTML is this run's own file, written by the transform process that
  // has ended: its size is all that is needed, not the input-file test with
  // its walk over every process's descriptors.
  struct stat htmlInfo = {};
  const int64_t size = ::stat(htmlPath.c_str(), &htmlInfo) == 0 ? htmlInfo.st_size : 0;
  if (size > kWholeHtmlLimit && pageCount > 1) {
    ::unlink(htmlPath.c_str());
    PrintInChunks(this, size, &error);
  } else {
    PrintHtmlFile(*this, htmlPath, copies, 0, &error);
    ::unlink(htmlPath.c_str());
  }
  if (!error.empty()) Report(*this, error);
}

}  // namespace kavelo::printcontrol
