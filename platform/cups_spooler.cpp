// The CUPS back end: IPP requests through libcups on one connection per
// Spooler object, each with a time limit.
//
// - The scheduler is CUPS_SERVER (a socket path or host:port) or libcups'
//   default, read when the object is made.
// - Nothing ever prompts: the password callback gives no password, so a
//   request that needs one fails with kSpoolerAccessDenied.  On the local
//   socket libcups authenticates by the peer's credentials.
// - The right to manage one's own jobs is every printing user's under the
//   scheduler's usual policy (@OWNER): kOwnJobs is granted with kUse, and a
//   site policy that refuses it shows at the first own-job request.
// - Full access is the right to administer the queue.  It is tested with
//   Cancel-Jobs naming one job id that cannot exist: the scheduler checks the
//   operator policy first and then refuses the unknown id, so an answer "not
//   found" proves the right and nothing is ever cancelled.
// - Positions are the print order of the active jobs (priority, then id).
//   A position change sets job-priority on as few jobs as it can.
// - Job names longer than IPP's 255 bytes keep their end (the file name),
//   and a name that is not UTF-8 is taken as ISO 8859-1.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <cups/cups.h>

#include "platform/internal/spooler_internal.h"
#include "platform/internal/spooler_priority.h"
#include "platform/spooler.h"

namespace kavelo::platform {
namespace {

constexpr size_t kMaxCupsName = 127;
constexpr size_t kMaxIppName = 255;

// libcups asks for a password only through this callback: none is given.
const char* NoPassword(const char*, http_t*, const char*, const char*, void*) { return nullptr; }

// The rules of the scheduler for queue names, checked before any request.
bool IsValidCupsName(const std::string& name) {
  if (name.empty() || name.size() > kMaxCupsName) return false;
  for (unsigned char c : name) {
    if (c <= ' ' || c == 0x7f || c == '/' || c == '\\' || c == '?' || c == '\'' || c == '"' ||
        c == '#') {
      return false;
    }
  }
  return true;
}

bool IsUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t extra;
    if (c < 0x80) {
      extra = 0;
    } else if (c >= 0xc2 && c <= 0xdf) {
      extra = 1;
    } else if (c >= 0xe0 && c <= 0xef) {
      extra = 2;
    } else if (c >= 0xf0 && c <= 0xf4) {
      extra = 3;
    } else {
      return false;
    }
    if (extra > text.size() - i - 1) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

// The HTTP resource of a queue, its name percent-encoded.
std::string PrinterResource(const std::string& printer) {
  std::string resource = "/printers/";
  for (unsigned char c : printer) {
    if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      resource += static_cast<char>(c);
    } else {
      char escaped[4];
      snprintf(escaped, sizeof escaped, "%%%02X", c);
      resource += escaped;
    }
  }
  return resource;
}

// An IPP name value: UTF-8 (ISO 8859-1 bytes converted), at most 255 bytes,
// keeping the end of the text.
std::string IppName(const std::string& text) {
  std::string utf8;
  if (IsUtf8(text)) {
    utf8 = text;
  } else {
    for (unsigned char c : text) {
      if (c < 0x80) {
        utf8 += static_cast<char>(c);
      } else {
        utf8 += static_cast<char>(0xc0 | (c >> 6));
        utf8 += static_cast<char>(0x80 | (c & 0x3f));
      }
    }
  }
  size_t start = utf8.size() > kMaxIppName ? utf8.size() - kMaxIppName : 0;
  while (start < utf8.size() && (static_cast<unsigned char>(utf8[start]) & 0xc0) == 0x80) ++start;
  return utf8.substr(start);
}

bool IsAccessError(ipp_status_t status) {
  return status == IPP_STATUS_ERROR_FORBIDDEN || status == IPP_STATUS_ERROR_NOT_AUTHENTICATED ||
         status == IPP_STATUS_ERROR_NOT_AUTHORIZED ||
         status == IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED;
}

// The status of a request that reached the scheduler, by what it was about.
enum class Subject { kPrinter, kJob };

int StatusOf(ipp_status_t status, Subject subject) {
  if (status <= IPP_STATUS_OK_EVENTS_COMPLETE) return kSpoolerOk;
  if (IsAccessError(status)) return kSpoolerAccessDenied;
  switch (status) {
    case IPP_STATUS_ERROR_NOT_FOUND:
    case IPP_STATUS_ERROR_GONE:
      return subject == Subject::kJob ? kSpoolerInvalidJob : kSpoolerInvalidPrinterName;
    case IPP_STATUS_ERROR_NOT_POSSIBLE:
      return subject == Subject::kJob ? kSpoolerInvalidJob : kSpoolerFailed;
    case IPP_STATUS_ERROR_BAD_REQUEST:
    case IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES:
    case IPP_STATUS_ERROR_REQUEST_VALUE:
      return kSpoolerInvalidParameter;
    case IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED:
    case IPP_STATUS_ERROR_OPERATION_NOT_SUPPORTED:
      return kSpoolerNotSupported;
    case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
      return kSpoolerUnavailable;
    default:
      return kSpoolerFailed;
  }
}

// One active job as Get-Jobs gives it.
struct ActiveJob {
  SpoolerJob job;
  int priority = 50;
  ipp_jstate_t state = IPP_JSTATE_PENDING;
};

const char* const kJobAttributes[] = {
    "job-id",
    "job-originating-user-name",
    "job-originating-host-name",
    "job-name",
    "job-priority",
    "job-state",
    "job-state-reasons",
};

class CupsSpooler : public Spooler {
 public:
  explicit CupsSpooler(int timeoutMs) : timeoutMs_(timeoutMs > 0 ? timeoutMs : 1) {
    // Reread CUPS_SERVER and client.conf: the thread's libcups settings may
    // predate them.
    cupsSetServer(nullptr);
    host_ = cupsServer();
    port_ = ippPort();
    user_ = cupsUser();
  }
  ~CupsSpooler() override { Disconnect(); }
  CupsSpooler(const CupsSpooler&) = delete;
  CupsSpooler& operator=(const CupsSpooler&) = delete;

  int DefaultPrinter(std::string* name) override {
    int status = Connect();
    if (status != kSpoolerOk) return status;
    timedOut_ = false;
    cups_dest_t* dest = cupsGetNamedDest(http_, nullptr, nullptr);
    if (dest == nullptr) return TransportStatus(kSpoolerInvalidPrinterName);
    *name = dest->name;
    cupsFreeDests(1, dest);
    return kSpoolerOk;
  }

  int ListPrinters(std::vector<PrinterEntry>* printers) override {
    printers->clear();
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    static const char* const kWanted[] = {"printer-name", "device-uri", "printer-make-and-model"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                  kWanted);
    ipp_t* response = nullptr;
    int status = Send(request, "/", nullptr, Subject::kPrinter, &response);
    if (status != kSpoolerOk) return status;
    for (ipp_attribute_t* attr = ippFirstAttribute(response); attr != nullptr;) {
      while (attr != nullptr && ippGetGroupTag(attr) != IPP_TAG_PRINTER) {
        attr = ippNextAttribute(response);
      }
      if (attr == nullptr) break;
      PrinterEntry entry;
      for (; attr != nullptr && ippGetGroupTag(attr) == IPP_TAG_PRINTER;
           attr = ippNextAttribute(response)) {
        const char* name = ippGetName(attr);
        const char* value = ippGetString(attr, 0, nullptr);
        if (name == nullptr || value == nullptr) continue;
        if (strcmp(name, "printer-name") == 0) entry.printerName = value;
        if (strcmp(name, "device-uri") == 0) entry.portName = value;
        if (strcmp(name, "printer-make-and-model") == 0) entry.driverName = value;
      }
      if (!entry.printerName.empty()) printers->push_back(entry);
    }
    ippDelete(response);
    return kSpoolerOk;
  }

  int OpenPrinter(const std::string& printer, PrinterAccess access) override {
    ipp_t* request = PrinterRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, printer);
    if (request == nullptr) return kSpoolerInvalidPrinterName;
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "printer-name");
    int status = Send(request, "/", nullptr, Subject::kPrinter, nullptr);
    if (status != kSpoolerOk || access != PrinterAccess::kFull) return status;

    request = PrinterRequest(IPP_OP_CANCEL_JOBS, printer);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-ids", INT_MAX);
    ipp_status_t answer = IPP_STATUS_OK;
    status = Send(request, "/admin/", nullptr, Subject::kPrinter, nullptr, &answer);
    if (answer == IPP_STATUS_ERROR_NOT_FOUND) return kSpoolerOk;
    if (status == kSpoolerTimeout || status == kSpoolerUnavailable) return status;
    // Anything else (refused, or an answer that proves nothing) is no right.
    return kSpoolerAccessDenied;
  }

  int JobCount(const std::string& printer, int* count) override {
    std::vector<SpoolerJob> jobs;
    int status = ListJobs(printer, &jobs);
    if (status == kSpoolerOk) *count = static_cast<int>(jobs.size());
    return status;
  }

  int ListJobs(const std::string& printer, std::vector<SpoolerJob>* jobs) override {
    std::vector<ActiveJob> active;
    int status = ActiveJobs(printer, &active);
    if (status != kSpoolerOk) return status;
    jobs->clear();
    for (const ActiveJob& entry : active) jobs->push_back(entry.job);
    return kSpoolerOk;
  }

  int GetJob(const std::string& printer, int32_t jobId, SpoolerJob* job) override {
    std::vector<ActiveJob> active;
    int status = ActiveJobs(printer, &active);
    if (status != kSpoolerOk) return status;
    for (const ActiveJob& entry : active) {
      if (entry.job.jobId == jobId) {
        *job = entry.job;
        return kSpoolerOk;
      }
    }
    return kSpoolerInvalidJob;
  }

  int ControlJob(const std::string& printer, int32_t jobId, JobCommand command) override {
    ipp_op_t op = command == JobCommand::kPause    ? IPP_OP_HOLD_JOB
                  : command == JobCommand::kResume ? IPP_OP_RELEASE_JOB
                  : command == JobCommand::kCancel ? IPP_OP_CANCEL_JOB
                                                   : IPP_OP_CUPS_INVALID;
    if (op == IPP_OP_CUPS_INVALID || jobId <= 0) return kSpoolerInvalidParameter;
    ipp_t* request = PrinterRequest(op, printer);
    if (request == nullptr) return kSpoolerInvalidPrinterName;
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    if (op == IPP_OP_HOLD_JOB) {
      ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", nullptr, "indefinite");
    }
    ipp_status_t answer = IPP_STATUS_OK;
    int status = Send(request, "/jobs/", nullptr, Subject::kJob, nullptr, &answer);
    if (op == IPP_OP_RELEASE_JOB && answer == IPP_STATUS_ERROR_NOT_POSSIBLE) {
      // Releasing an active job that is not held has nothing to do.
      SpoolerJob job;
      if (GetJob(printer, jobId, &job) == kSpoolerOk) return kSpoolerOk;
    }
    return status;
  }

  int SetJobPosition(const std::string& printer, int32_t jobId, int32_t position) override;

  int SetJobPriority(const std::string& printer, int32_t jobId, int priority) override {
    if (jobId <= 0 || priority < kMinJobPriority || priority > kMaxJobPriority) {
      return kSpoolerInvalidParameter;
    }
    ipp_t* request = PrinterRequest(IPP_OP_SET_JOB_ATTRIBUTES, printer);
    if (request == nullptr) return kSpoolerInvalidPrinterName;
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-priority", priority);
    return Send(request, "/jobs/", nullptr, Subject::kJob, nullptr);
  }

  int ResumePrinter(const std::string& printer) override {
    ipp_t* request = PrinterRequest(IPP_OP_RESUME_PRINTER, printer);
    if (request == nullptr) return kSpoolerInvalidPrinterName;
    return Send(request, "/admin/", nullptr, Subject::kPrinter, nullptr);
  }

  int GetPageGeometry(const std::string& printer, PageGeometry* geometry) override;
  int SubmitDocument(const std::string& printer, const std::string& file,
                     const SubmitOptions& options, int32_t* jobId) override;

 private:
  static int OnTimeout(http_t*, void* data) {
    static_cast<CupsSpooler*>(data)->timedOut_ = true;
    return 0;  // give up the request
  }

  int Connect() {
    cupsSetPasswordCB2(NoPassword, nullptr);
    if (http_ != nullptr) return kSpoolerOk;
    http_ = httpConnect2(host_.c_str(), port_, nullptr, AF_UNSPEC, cupsEncryption(), 1, timeoutMs_,
                         nullptr);
    if (http_ == nullptr) return kSpoolerUnavailable;
    httpSetTimeout(http_, timeoutMs_ / 1000.0, OnTimeout, this);
    return kSpoolerOk;
  }

  void Disconnect() {
    if (http_ != nullptr) httpClose(http_);
    http_ = nullptr;
  }

  // The status of a call that gave no answer: a time-out, a lost connection
  // (both drop the connection), or otherwise the given status.
  int TransportStatus(int otherwise) {
    ipp_status_t last = cupsLastError();
    if (timedOut_) {
      Disconnect();
      return kSpoolerTimeout;
    }
    if (last == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || last == IPP_STATUS_ERROR_INTERNAL) {
      Disconnect();
      return kSpoolerUnavailable;
    }
    if (IsAccessError(last)) return kSpoolerAccessDenied;
    return otherwise;
  }

  // A request about one printer, or nullptr for a name the scheduler could
  // never hold.
  ipp_t* PrinterRequest(ipp_op_t op, const std::string& printer) {
    if (!IsValidCupsName(printer)) return nullptr;
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                     "/printers/%s", printer.c_str());
    ipp_t* request = ippNewRequest(op);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 user_.c_str());
    return request;
  }

  // Sends the request (and frees it), with the file as its document when
  // file is not null.  *response (when asked for) gets the answer of a
  // successful request, *answer the IPP status of any answer.
  int Send(ipp_t* request, const char* resource, const char* file, Subject subject,
           ipp_t** response, ipp_status_t* answer = nullptr) {
    if (response != nullptr) *response = nullptr;
    if (answer != nullptr) *answer = IPP_STATUS_ERROR_INTERNAL;
    int status = Connect();
    if (status != kSpoolerOk) {
      ippDelete(request);
      return status;
    }
    timedOut_ = false;
    ipp_t* reply = file != nullptr ? cupsDoFileRequest(http_, request, resource, file)
                                   : cupsDoRequest(http_, request, resource);
    if (reply == nullptr) return TransportStatus(kSpoolerFailed);
    ipp_status_t code = ippGetStatusCode(reply);
    if (answer != nullptr) *answer = code;
    status = StatusOf(code, subject);
    if (status == kSpoolerOk && response != nullptr) {
      *response = reply;
    } else {
      ippDelete(reply);
    }
    return status;
  }

  // The printer's active jobs in print order, with their positions.
  int ActiveJobs(const std::string& printer, std::vector<ActiveJob>* jobs);

  int timeoutMs_;
  std::string host_;
  int port_ = 0;
  std::string user_;
  http_t* http_ = nullptr;
  bool timedOut_ = false;  // set by OnTimeout during a request
};

int CupsSpooler::ActiveJobs(const std::string& printer, std::vector<ActiveJob>* jobs) {
  jobs->clear();
  ipp_t* request = PrinterRequest(IPP_OP_GET_JOBS, printer);
  if (request == nullptr) return kSpoolerInvalidPrinterName;
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(sizeof kJobAttributes / sizeof kJobAttributes[0]), nullptr,
                kJobAttributes);
  ipp_t* response = nullptr;
  int status = Send(request, "/", nullptr, Subject::kPrinter, &response);
  if (status != kSpoolerOk) return status;
  for (ipp_attribute_t* attr = ippFirstAttribute(response); attr != nullptr;) {
    while (attr != nullptr && ippGetGroupTag(attr) != IPP_TAG_JOB)
      attr = ippNextAttribute(response);
    if (attr == nullptr) break;
    ActiveJob entry;
    bool incoming = false;
    for (; attr != nullptr && ippGetGroupTag(attr) == IPP_TAG_JOB;
         attr = ippNextAttribute(response)) {
      const char* name = ippGetName(attr);
      if (name == nullptr) continue;
      const char* text = ippGetString(attr, 0, nullptr);
      if (strcmp(name, "job-id") == 0) {
        entry.job.jobId = ippGetInteger(attr, 0);
      } else if (strcmp(name, "job-priority") == 0) {
        entry.priority = ippGetInteger(attr, 0);
      } else if (strcmp(name, "job-state") == 0) {
        entry.state = static_cast<ipp_jstate_t>(ippGetInteger(attr, 0));
      } else if (strcmp(name, "job-state-reasons") == 0) {
        for (int i = 0; i < ippGetCount(attr); ++i) {
          const char* reason = ippGetString(attr, i, nullptr);
          if (reason != nullptr && strcmp(reason, "job-incoming") == 0) incoming = true;
        }
      } else if (text == nullptr) {
        continue;
      } else if (strcmp(name, "job-originating-user-name") == 0) {
        entry.job.userName = text;
      } else if (strcmp(name, "job-originating-host-name") == 0) {
        entry.job.machineName = text;
      } else if (strcmp(name, "job-name") == 0) {
        entry.job.documentName = text;
      }
    }
    if (entry.job.jobId <= 0) continue;
    entry.job.priority = entry.priority;
    // A job still receiving its data is spooling even while the scheduler
    // keeps it held or stopped for that time.
    if (incoming) {
      entry.job.status = kJobStatusSpooling;
    } else if (entry.state == IPP_JSTATE_HELD) {
      entry.job.status = kJobStatusPaused;
    } else if (entry.state == IPP_JSTATE_PROCESSING) {
      entry.job.status = kJobStatusPrinting;
    }
    jobs->push_back(entry);
  }
  ippDelete(response);
  std::sort(jobs->begin(), jobs->end(), [](const ActiveJob& a, const ActiveJob& b) {
    return PrintsBefore(a.priority, a.job.jobId, b.priority, b.job.jobId);
  });
  for (size_t i = 0; i < jobs->size(); ++i) (*jobs)[i].job.position = static_cast<int32_t>(i + 1);
  return kSpoolerOk;
}

int CupsSpooler::SetJobPosition(const std::string& printer, int32_t jobId, int32_t position) {
  if (position < 0) return kSpoolerInvalidParameter;
  std::vector<ActiveJob> active;
  int status = ActiveJobs(printer, &active);
  if (status != kSpoolerOk) return status;
  auto found = std::find_if(active.begin(), active.end(),
                            [jobId](const ActiveJob& entry) { return entry.job.jobId == jobId; });
  if (found == active.end()) return kSpoolerInvalidJob;
  // Position 0 leaves the job where it is; a place past the end is the end.
  if (position == 0 || position == found->job.position) return kSpoolerOk;
  ActiveJob moving = *found;
  active.erase(found);
  size_t place = std::min(static_cast<size_t>(position - 1), active.size());
  active.insert(active.begin() + static_cast<long>(place), moving);

  std::vector<QueuedJob> wanted;
  for (const ActiveJob& entry : active) {
    wanted.push_back({entry.job.jobId, entry.priority, entry.state >= IPP_JSTATE_PROCESSING});
  }
  std::vector<int> priorities;
  if (!PlanPriorities(wanted, place, &priorities)) return kSpoolerNotSupported;
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (priorities[i] == wanted[i].priority) continue;
    ipp_t* request = PrinterRequest(IPP_OP_SET_JOB_ATTRIBUTES, printer);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", wanted[i].jobId);
    ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-priority", priorities[i]);
    status = Send(request, "/jobs/", nullptr, Subject::kJob, nullptr);
    if (status != kSpoolerOk) return status;
  }
  return kSpoolerOk;
}

int CupsSpooler::GetPageGeometry(const std::string& printer, PageGeometry* geometry) {
  ipp_t* request = PrinterRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, printer);
  if (request == nullptr) return kSpoolerInvalidPrinterName;
  static const char* const kWanted[] = {"media-col-default", "media-default",
                                        "printer-resolution-default"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                kWanted);
  ipp_t* response = nullptr;
  int status = Send(request, "/", nullptr, Subject::kPrinter, &response);
  if (status != kSpoolerOk) return status;

  // Sizes and margins in hundredths of millimetres.
  int width = 0, height = 0, left = 0, top = 0;
  if (ipp_attribute_t* col =
          ippFindAttribute(response, "media-col-default", IPP_TAG_BEGIN_COLLECTION)) {
    ipp_t* media = ippGetCollection(col, 0);
    if (ipp_attribute_t* size = ippFindAttribute(media, "media-size", IPP_TAG_BEGIN_COLLECTION)) {
      ipp_t* dims = ippGetCollection(size, 0);
      ipp_attribute_t* x = ippFindAttribute(dims, "x-dimension", IPP_TAG_INTEGER);
      ipp_attribute_t* y = ippFindAttribute(dims, "y-dimension", IPP_TAG_INTEGER);
      if (x != nullptr && y != nullptr) {
        width = ippGetInteger(x, 0);
        height = ippGetInteger(y, 0);
      }
    }
    if (ipp_attribute_t* margin = ippFindAttribute(media, "media-left-margin", IPP_TAG_INTEGER)) {
      left = ippGetInteger(margin, 0);
    }
    if (ipp_attribute_t* margin = ippFindAttribute(media, "media-top-margin", IPP_TAG_INTEGER)) {
      top = ippGetInteger(margin, 0);
    }
  }
  // A size within the tolerance of a standard one (a PPD gives A4 in whole
  // points) is that paper.
  if (pwg_media_t* standard = width > 0 && height > 0 ? pwgMediaForSize(width, height) : nullptr) {
    width = standard->width;
    height = standard->length;
  }
  if (width <= 0 || height <= 0) {
    ipp_attribute_t* named = ippFindAttribute(response, "media-default", IPP_TAG_ZERO);
    const char* keyword = named != nullptr ? ippGetString(named, 0, nullptr) : nullptr;
    if (pwg_media_t* media = keyword != nullptr ? pwgMediaForPWG(keyword) : nullptr) {
      width = media->width;
      height = media->length;
    }
  }
  int xdpi = 0, ydpi = 0;
  if (ipp_attribute_t* res =
          ippFindAttribute(response, "printer-resolution-default", IPP_TAG_RESOLUTION)) {
    ipp_res_t units = IPP_RES_PER_INCH;
    xdpi = ippGetResolution(res, 0, &ydpi, &units);
    if (units == IPP_RES_PER_CM) {
      xdpi = static_cast<int>(xdpi * 2.54 + 0.5);
      ydpi = static_cast<int>(ydpi * 2.54 + 0.5);
    }
  }
  ippDelete(response);
  // A raw queue knows neither its paper nor its resolution.
  if (width <= 0 || height <= 0 || xdpi <= 0 || ydpi <= 0) return kSpoolerNotSupported;
  auto dots = [](int hundredthsMm, int dpi) {
    return static_cast<int32_t>((static_cast<int64_t>(hundredthsMm) * dpi * 2 + 2540) / 5080);
  };
  geometry->physicalWidth = dots(width, xdpi);
  geometry->physicalHeight = dots(height, ydpi);
  geometry->offsetX = dots(left, xdpi);
  geometry->offsetY = dots(top, ydpi);
  geometry->resolutionX = xdpi;
  geometry->resolutionY = ydpi;
  return kSpoolerOk;
}

int CupsSpooler::SubmitDocument(const std::string& printer, const std::string& file,
                                const SubmitOptions& options, int32_t* jobId) {
  if (jobId != nullptr) *jobId = 0;
  if (options.copies < 1 || (options.orientation != 1 && options.orientation != 2)) {
    return kSpoolerInvalidParameter;
  }
  ipp_t* request = PrinterRequest(IPP_OP_PRINT_JOB, printer);
  if (request == nullptr) return kSpoolerInvalidPrinterName;
  if (access(file.c_str(), R_OK) != 0) {
    ippDelete(request);
    return errno == ENOENT ? kSpoolerFileNotFound : kSpoolerAccessDenied;
  }
  std::string title = IppName(options.documentName);
  if (!title.empty()) {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
  }
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
               "application/octet-stream");
  ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", options.copies);
  ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_ENUM, "orientation-requested",
                options.orientation == 2 ? IPP_ORIENT_LANDSCAPE : IPP_ORIENT_PORTRAIT);
  ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-color-mode", nullptr,
               options.color ? "color" : "monochrome");
  // Page margins go to the filters as page-left & co. in points.
  const struct {
    const char* name;
    double mm;
  } margins[] = {{"page-left", options.marginLeftMm},
                 {"page-right", options.marginRightMm},
                 {"page-top", options.marginTopMm},
                 {"page-bottom", options.marginBottomMm}};
  for (const auto& margin : margins) {
    if (margin.mm < 0 || margin.mm > 1000) continue;
    ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, margin.name,
                  static_cast<int>(margin.mm * 72.0 / 25.4 + 0.5));
  }
  if (options.hold) {
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", nullptr, "indefinite");
  }
  std::string resource = PrinterResource(printer);
  ipp_t* response = nullptr;
  int status = Send(request, resource.c_str(), file.c_str(), Subject::kPrinter, &response);
  if (status != kSpoolerOk) return status;
  ipp_attribute_t* id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER);
  if (jobId != nullptr && id != nullptr) *jobId = ippGetInteger(id, 0);
  ippDelete(response);
  return kSpoolerOk;
}

}  // namespace

std::unique_ptr<Spooler> MakeCupsSpooler(int timeoutMs) {
  return std::make_unique<CupsSpooler>(timeoutMs);
}

bool CupsSchedulerAnswers(int timeoutMs) {
  cupsSetPasswordCB2(NoPassword, nullptr);
  cupsSetServer(nullptr);
  http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              timeoutMs, nullptr);
  if (http == nullptr) return false;
  httpSetTimeout(
      http, timeoutMs / 1000.0, [](http_t*, void*) { return 0; }, nullptr);
  ipp_t* response = cupsDoRequest(http, ippNewRequest(IPP_OP_CUPS_GET_DEFAULT), "/");
  bool answered = response != nullptr;
  ippDelete(response);
  httpClose(http);
  return answered;
}

}  // namespace kavelo::platform
