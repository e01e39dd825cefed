#include "printcontrol/printing/print_chunks.h"

#include <fcntl.h>
#include <unistd.h>

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

void CancelHeld(platform::Spooler& spooler, const char* printer, const StringList& held) {
  for (int i = 0; i < held.Count(); ++i) {
    ControlJob(spooler, printer, protocol::ReadInteger(held.Item(i)),
               platform::JobCommand::kCancel);
  }
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

void CopyDocumentNames(const ReportJob& job, int copy, const StringList& htmlFiles,
                       StringList* names) {
  names->Clear();
  if (copy == 0) {
    for (int i = 0; i < htmlFiles.Count(); ++i) names->Push(htmlFiles.Item(i));
    return;
  }
  char stamp[ReportJob::kTextSize];
  MakeReportName(stamp, sizeof(stamp));
  const std::string directory = job.workDirectory[0] != '\0' ? job.workDirectory : ".";
  for (int i = 0; i < htmlFiles.Count(); ++i) {
    const std::string name =
        directory + "/" + stamp + "c" + std::to_string(copy) + "-" + std::to_string(i) + ".html";
    names->Push(name.c_str());
  }
}

bool PrintChunksPlain(const ReportJob& job, const StringList& htmlFiles, const ChunkPrinter& print,
                      std::string* error) {
  StringList names("string2");
  for (int copy = 0; copy < job.copies; ++copy) {
    CopyDocumentNames(job, copy, htmlFiles, &names);
    for (int i = 0; i < names.Count(); ++i) {
      int32_t jobId = 0;
      if (!print(i, names.Item(i), false, &jobId, error)) return false;
    }
  }
  return true;
}

bool PrintChunksHeld(const ReportJob& job, platform::Spooler& spooler, const ChunkPrinter& print,
                     const StringList& htmlFiles, std::string* error) {
  const char* printer = job.settings.printerName();
  const std::string user = platform::UserName();
  StringList held("string2");
  StringList names("string2");
  // Ends the report: resuming the printer is tried (it needs the
  // administrator), every held job is cancelled.
  auto fail = [&](const char* name) {
    ResumePrinter(spooler, printer);
    // A submission that failed half-way may have left a held job too.
    int jobId = name != nullptr ? FindJobOfFile(spooler, printer, user.c_str(), name) : -1;
    if (jobId != -1) ControlJob(spooler, printer, jobId, platform::JobCommand::kCancel);
    CancelHeld(spooler, printer, held);
    return false;
  };
  for (int copy = 0; copy < job.copies; ++copy) {
    CopyDocumentNames(job, copy, htmlFiles, &names);
    for (int i = 0; i < names.Count(); ++i) {
      const char* name = names.Item(i);
      if (!Record(job, protocol::FormatHeldFileLine(printer, name))) {
        *error = std::string("Error:Can't record the held jobs in ") + job.workDirectory +
                 ", Report Title:" + job.title;
        return fail(nullptr);
      }
      int32_t jobId = 0;
      if (!print(i, name, true, &jobId, error)) return fail(name);
      if (jobId <= 0) jobId = FindJobOfFile(spooler, printer, user.c_str(), name);
      if (jobId <= 0) {
        *error = std::string("Error:Can't find the held job of ") + name +
                 ", Report Title:" + job.title;
        return fail(nullptr);
      }
      held.Push(std::to_string(jobId).c_str());
      // The file line covers the job should this line not be written.
      Record(job, protocol::FormatHeldJobLine(printer, jobId));
    }
    ResumePrinter(spooler, printer);
    if (ReleaseHeldJobs(spooler, printer, held) != 0) {
      *error = std::string("Error:The spooler did not release the held jobs on ") + printer +
               ", Report Title:" + job.title;
      return fail(nullptr);
    }
  }
  return true;
}

bool SubmitChunkPdf(const ReportJob& job, platform::Spooler& spooler, const std::string& pdfPath,
                    const std::string& documentName, bool hold, int32_t* jobId,
                    std::string* error) {
  const PrinterSettings& s = job.settings;
  platform::SubmitOptions options;
  options.documentName = documentName;
  options.copies = 1;
  options.orientation = s.orientation() == 2 ? 2 : 1;
  options.color = static_cast<int>(s.colorPrinting()) == 1;
  // Held printing keeps the chunks together and releases them itself.
  options.hold = hold;
  // The margins are in the PDF already; the printer adds none of its own.
  *jobId = 0;
  const int status = spooler.SubmitDocument(s.printerName(), pdfPath, options, jobId);
  if (status == platform::kSpoolerOk) return true;
  *error = "Error:the spooler refused " + documentName + " for printer " + s.printerName() +
           ", errorcode:" + std::to_string(status);
  return false;
}

}  // namespace kavelo::printcontrol
