#include "orlendi/html_printer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/stat.h>

#include "orlendi/html_renderer.h"
#include "orlendi/messages.h"
#include "orlendi/page_layout.h"
#include "jobs/own_job.h"
#include "platform/eventlog.h"
#include "platform/spooler.h"
#include "protocol/orlendi_command_line.h"
#include "protocol/orlendi_info_file.h"

namespace kavelo::orlendi {

namespace {

constexpr char kUsage[] =
    "usage: orlendi \"DIR/orlendi\" \"DIR/orlendi\" html=FILE;xsl=FILE;printerName=NAME;"
    "copy=N;orien=1|2;eventsource=NAME;unit=0|1;left=X;right=X;top=X;bottom=X;"
    "colprint=0|1;lock=0|1;[pdf=FILE;]\n"
    "\n"
    "Renders the HTML file to PDF on the printer's paper (orientation 1 portrait,\n"
    "2 landscape; margins in millimetres, or inches with unit=1), creates the info\n"
    "file beside it (FILE with .html replaced by .info) once rendered, and prints\n"
    "the PDF on the printer with the copies and colour setting (colprint=1); with\n"
    "lock=1 the job is submitted held (the print control releases it).\n"
    "With pdf=FILE it only renders: the PDF is written to FILE and kept, no info\n"
    "file is created and nothing is printed.\n"
    "The leading arguments without \"=\" are skipped; the rest is joined with single\n"
    "blanks. The printer name runs to the first \";copy=\", so it may hold blanks\n"
    "and semicolons. Failures go to the event log under eventsource (default\n"
    "\"orlendi\") and end the program with status 1.\n"
    "\n"
    "Environment: KAVELO_SPOOLER (cups, or dir:FOLDER), CUPS_SERVER, KAVELO_EVENTLOG,\n"
    "KAVELO_ORLENDI_ASSETS (a folder whose files, logos for instance, documents may\n"
    "show; unset: documents read no local file but their own).\n";

std::string Describe(const char* what, const std::string& path, int error) {
  char text[160];
  std::snprintf(text, sizeof text, ", errno = %d (%s)", error, std::strerror(error));
  return std::string(what) + path + text;
}

// A private folder for the run's scratch files, removed with them.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/orlendi-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr)
      path_ = buffer.data();
    else
      error_ = errno;
  }
  ~ScratchFolder() {
    if (path_.empty()) return;
    for (const char* name : {"page.css", "page.pdf", "error.txt"}) {
      unlink(File(name).c_str());
    }
    rmdir(path_.c_str());
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  bool ok() const { return !path_.empty(); }
  int error() const { return error_; }
  std::string File(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  int error_ = 0;
};

bool WriteFile(const std::string& path, const std::string& text, std::string* error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = Describe("Error:can't create ", path, errno);
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = Describe("Error:can't write ", path, errno);
      close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0) {
    *error = Describe("Error:can't write ", path, errno);
    return false;
  }
  return true;
}

bool CheckHtmlFile(const std::string& path, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = Describe("Error:can't open html file ", path, errno);
    return false;
  }
  struct stat info;
  bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  close(fd);
  if (!regular) {
    *error = "Error:html file is not a regular file: " + path;
    return false;
  }
  return true;
}

}  // namespace

bool PrintHtml(const PrintRequest& request, platform::Spooler& spooler, int renderTimeLimitMs,
               std::string* error) {
  if (request.htmlPath.empty()) {
    *error = "Can't find html file.";
    return false;
  }
  if (request.printerName.empty()) {
    *error = "Can't find printer.";
    return false;
  }
  if (!CheckHtmlFile(request.htmlPath, error)) return false;

  int status = spooler.OpenPrinter(request.printerName, platform::PrinterAccess::kUse);
  if (status != platform::kSpoolerOk) {
    *error =
        "Error:can't open printer " + request.printerName + ", errorcode:" + std::to_string(status);
    return false;
  }
  platform::PageGeometry geometry;
  bool hasGeometry = spooler.GetPageGeometry(request.printerName, &geometry) == 0;
  PageLayout layout;
  if (!ComputePageLayout(hasGeometry ? &geometry : nullptr, request, &layout, error)) {
    return false;
  }

  ScratchFolder scratch;
  if (!scratch.ok()) {
    *error = Describe("Error:can't create a scratch folder", "", scratch.error());
    return false;
  }
  const std::string css = scratch.File("page.css");
  // Render only: into the print control's file, which it spools itself.
  const bool renderOnly = !request.pdfPath.empty();
  const std::string pdf = renderOnly ? request.pdfPath : scratch.File("page.pdf");
  if (!WriteFile(css, PageStyleSheet(layout), error)) return false;
  if (!RenderHtmlToPdf(request.htmlPath, css, pdf, scratch.File("error.txt"), renderTimeLimitMs,
                       error, /*chunk=*/renderOnly)) {
    *error += " (" + request.htmlPath + ")";
    return false;
  }
  if (renderOnly) return true;
  // The print control waits for this file to know the page is loaded.
  if (!WriteFile(protocol::InfoFileName(request.htmlPath), "", error)) return false;

  platform::SubmitOptions options;
  options.documentName = request.htmlPath;
  options.copies = request.copies;
  options.orientation = request.orientation;
  options.color = request.color;
  // The print control holds split reports together and releases them itself.
  options.hold = request.lock;
  // The margins are in the PDF already; the printer adds none of its own.
  int32_t jobId = 0;
  status = spooler.SubmitDocument(request.printerName, pdf, options, &jobId);
  if (status != platform::kSpoolerOk) {
    *error = "Error:the spooler refused " + request.htmlPath + " for printer " +
             request.printerName + ", errorcode:" + std::to_string(status);
    return false;
  }
  return true;
}

int RunOrlendiProgram(int argc, const char* const* argv) {
  if (argc >= 2 && argv[1] != nullptr &&
      (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
       std::strcmp(argv[1], "/?") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::string text = protocol::JoinKeyArguments(argc, argv);
  if (text.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  PrintRequest request = protocol::ParsePrintRequest(text);

  platform::SetMessageTable(MessageTable(), MessageTableSize());
  std::unique_ptr<platform::EventSource> source = platform::RegisterEventSource(
      "", request.eventSource.empty() ? "orlendi" : request.eventSource);

  std::string error;
  std::unique_ptr<platform::Spooler> spooler = platform::OpenSpooler();
  bool printed = false;
  if (spooler == nullptr) {
    const char* chosen = std::getenv("KAVELO_SPOOLER");
    error = std::string("Error:no print spooler for KAVELO_SPOOLER=") + (chosen ? chosen : "");
  } else {
    printed = PrintHtml(request, *spooler, kRenderTimeLimitMs, &error);
  }
  if (printed) return 0;
  std::fprintf(stderr, "orlendi: %s\n", error.c_str());
  platform::ReportEvent(source.get(), platform::EventType::kError, 0, kMessagePrintFailed, {error});
  jobs::RecordOwnJobFailure(error);
  return 1;
}

}  // namespace kavelo::orlendi
