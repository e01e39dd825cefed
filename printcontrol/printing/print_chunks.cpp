#include "printcontrol/printing/print_chunks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/sysinfo.h"
#include "printcontrol/job/report_job.h"
#include "printcontrol/job/report_name.h"
#include "printcontrol/printing/print_job_control.h"
#include "printcontrol/render/string_list.h"
#include "protocol/held_jobs_file.h"
#include "protocol/integer_text.h"

namespace kavelo::printcontrol {

namespace {

constexpr size_t kErrorSize = 1024;

// Gives the chunk HTML files of a further copy names of their own.  The copy
// number in the name keeps it apart from every earlier name of the job, also
// within the same second.
bool RenameForCopy(const ReportJob& job, int copy, StringList* htmlFiles, char* error) {
  char stamp[ReportJob::kTextSize];
  MakeReportName(stamp, sizeof(stamp));
  const char* directory = job.workDirectory[0] != '\0' ? job.workDirectory : ".";
  StringList renamed("string2");
  for (int i = 0; i < htmlFiles->Count(); ++i) {
    char newPath[ReportJob::kTextSize];
    int n = std::snprintf(newPath, sizeof(newPath), "%s/%sc%d-%d.html", directory, stamp, copy, i);
    bool moved = n > 0 && static_cast<size_t>(n) < sizeof(newPath);
    if (moved) {
      ::unlink(newPath);
      moved = ::rename(htmlFiles->Item(i), newPath) == 0;
    }
    if (!moved) {
      std::snprintf(error, kErrorSize, "Error:Can't rename %s, Report Title:%s", htmlFiles->Item(i),
                    job.title);
      // What is not moved keeps its old name; the caller deletes both kinds.
      for (int rest = i; rest < htmlFiles->Count(); ++rest) renamed.Push(htmlFiles->Item(rest));
      *htmlFiles = std::move(renamed);
      return false;
    }
    renamed.Push(newPath);
  }
  *htmlFiles = std::move(renamed);
  return true;
}

void CancelHeld(platform::Spooler& spooler, const char* printer, const StringList& held) {
  for (int i = 0; i < held.Count(); ++i) {
    ControlJob(spooler, printer, protocol::ReadInteger(held.Item(i)),
               platform::JobCommand::kCancel);
  }
}

// The text into error, cut to its size.
void Say(char* error, const std::string& text) {
  std::snprintf(error, kErrorSize, "%s", text.c_str());
}

// Appends a line to the job's held-jobs file, so that whoever outlives this
// process can cancel what it leaves held.  False when it cannot be written.
bool Record(const ReportJob& job, const std::string& line) {
  if (line.empty()) return false;
  std::string path = std::string(job.workDirectory[0] != '\0' ? job.workDirectory : ".") + "/" +
                     protocol::kHeldJobsFileName;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  return ::close(fd) == 0 && written;
}

}  // namespace

void PrintChunksPlain(const ReportJob& job, const StringList& htmlFiles, const HtmlPrinter& print,
                      char* error) {
  for (int copy = 0; copy < job.copies; ++copy) {
    for (int i = 0; i < htmlFiles.Count(); ++i) {
      print(htmlFiles.Item(i), 1, 0, error);
      if (error[0] != '\0') return;
    }
  }
}

void PrintChunksHeld(const ReportJob& job, platform::Spooler& spooler, const HtmlPrinter& print,
                     StringList* htmlFiles, char* error) {
  const char* printer = job.settings.printerName();
  const std::string user = platform::UserName();
  StringList held("string2");
  // Ends the report: resuming the printer is tried (it needs the
  // administrator), every held job is cancelled.
  auto fail = [&](const char* htmlPath) {
    ResumePrinter(spooler, printer);
    // A job orlendi submitted before it was ended is held too.
    int jobId = htmlPath != nullptr ? FindJobOfFile(spooler, printer, user.c_str(), htmlPath) : -1;
    if (jobId != -1) ControlJob(spooler, printer, jobId, platform::JobCommand::kCancel);
    CancelHeld(spooler, printer, held);
  };
  for (int copy = 0; copy < job.copies; ++copy) {
    if (copy > 0 && !RenameForCopy(job, copy, htmlFiles, error)) return fail(nullptr);
    for (int i = 0; i < htmlFiles->Count(); ++i) {
      const char* htmlPath = htmlFiles->Item(i);
      if (!Record(job, protocol::FormatHeldFileLine(printer, htmlPath))) {
        Say(error, std::string("Error:Can't record the held jobs in ") + job.workDirectory +
                       ", Report Title:" + job.title);
        return fail(nullptr);
      }
      print(htmlPath, 1, 1, error);
      if (error[0] != '\0') return fail(htmlPath);
      int jobId = FindJobOfFile(spooler, printer, user.c_str(), htmlPath);
      if (jobId == -1) {
        std::snprintf(error, kErrorSize, "Error:Can't find the held job of %s, Report Title:%s",
                      htmlPath, job.title);
        return fail(nullptr);
      }
      held.Push(std::to_string(jobId).c_str());
      // The file line covers the job should this line not be written.
      Record(job, protocol::FormatHeldJobLine(printer, jobId));
    }
    ResumePrinter(spooler, printer);
    if (ReleaseHeldJobs(spooler, printer, held) != 0) {
      Say(error, std::string("Error:The spooler did not release the held jobs on ") + printer +
                     ", Report Title:" + job.title);
      return fail(nullptr);
    }
  }
}

}  // namespace kavelo::printcontrol
