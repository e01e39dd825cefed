#include "printcontrol/printing/print_chunks.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/sysinfo.h"
#include "printcontrol/job/report_job.h"
#include "printcontrol/job/report_name.h"
#include "printcontrol/printing/print_job_control.h"
#include "printcontrol/render/string_list.h"
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
  for (int copy = 0; copy < job.copies; ++copy) {
    if (copy > 0 && !RenameForCopy(job, copy, htmlFiles, error)) {
      ResumePrinter(spooler, printer);
      CancelHeld(spooler, printer, held);
      return;
    }
    for (int i = 0; i < htmlFiles->Count(); ++i) {
      const char* htmlPath = htmlFiles->Item(i);
      print(htmlPath, 1, 1, error);
      if (error[0] != '\0') {
        ResumePrinter(spooler, printer);
        CancelHeld(spooler, printer, held);
        return;
      }
      int jobId = FindJobOfFile(spooler, printer, user.c_str(), htmlPath);
      if (jobId != -1) {
        ControlJob(spooler, printer, jobId, platform::JobCommand::kPause);
        ResumePrinter(spooler, printer);
        held.Push(std::to_string(jobId).c_str());
      }
    }
    ReleaseHeldJobs(spooler, printer, held);
  }
}

}  // namespace kavelo::printcontrol
