#include "printcontrol/printing/print_chunks.h"

#include <string>

#include "platform/sysinfo.h"
#include "printcontrol/job/report_job.h"
#include "printcontrol/job/report_name.h"
#include "printcontrol/printing/print_job_control.h"
#include "printcontrol/render/string_list.h"
#include "protocol/integer_text.h"

namespace kavelo::printcontrol {

namespace {

void CancelHeld(platform::Spooler& spooler, const char* printer, const StringList& held) {
  for (int i = 0; i < held.Count(); ++i) {
    ControlJob(spooler, printer, protocol::ReadInteger(held.Item(i)),
               platform::JobCommand::kCancel);
  }
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
      if (!print(i, names.Item(i), error)) return false;
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
  for (int copy = 0; copy < job.copies; ++copy) {
    CopyDocumentNames(job, copy, htmlFiles, &names);
    for (int i = 0; i < names.Count(); ++i) {
      const char* name = names.Item(i);
      if (!print(i, name, error)) {
        ResumePrinter(spooler, printer);
        CancelHeld(spooler, printer, held);
        return false;
      }
      int jobId = FindJobOfFile(spooler, printer, user.c_str(), name);
      if (jobId != -1) {
        ControlJob(spooler, printer, jobId, platform::JobCommand::kPause);
        ResumePrinter(spooler, printer);
        held.Push(std::to_string(jobId).c_str());
      }
    }
    ReleaseHeldJobs(spooler, printer, held);
  }
  return true;
}

bool SubmitChunkPdf(const ReportJob& job, platform::Spooler& spooler, const std::string& pdfPath,
                    const std::string& documentName, std::string* error) {
  const PrinterSettings& s = job.settings;
  platform::SubmitOptions options;
  options.documentName = documentName;
  options.copies = 1;
  options.orientation = s.orientation() == 2 ? 2 : 1;
  options.color = static_cast<int>(s.colorPrinting()) == 1;
  // The margins are in the PDF already; the printer adds none of its own.
  int32_t jobId = 0;
  const int status = spooler.SubmitDocument(s.printerName(), pdfPath, options, &jobId);
  if (status == platform::kSpoolerOk) return true;
  *error = "Error:the spooler refused " + documentName + " for printer " + s.printerName() +
           ", errorcode:" + std::to_string(status);
  return false;
}

}  // namespace kavelo::printcontrol
