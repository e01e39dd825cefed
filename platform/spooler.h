// The print spooler: printers, their queues and their page geometry.
// Two back ends behind one interface, chosen by KAVELO_SPOOLER: "cups"
// (libcups, honours CUPS_SERVER, never prompts for a password) or
// "dir:FOLDER", the folder spooler in which printers are subfolders and a
// printed document is a file.
//
// Operations return 0 on success or a Windows-style status code.  Nothing
// blocks without a limit: every request to a scheduler has a time-out.
// A Spooler object may be used by one thread at a time; separate objects
// may be used on separate threads.
#ifndef KAVELO_PLATFORM_SPOOLER_H_
#define KAVELO_PLATFORM_SPOOLER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace kavelo::platform {

// The spooler's status codes: those of platform/status.h it returns.
constexpr int kSpoolerOk = kErrorSuccess;
constexpr int kSpoolerAccessDenied = kErrorAccessDenied;
constexpr int kSpoolerInvalidParameter = kErrorInvalidParameter;
constexpr int kSpoolerNotSupported = kErrorNotSupported;
constexpr int kSpoolerInvalidPrinterName = kErrorInvalidPrinterName;
constexpr int kSpoolerInvalidJob = kErrorNotFound;          // no such active job
constexpr int kSpoolerUnavailable = kRpcServerUnavailable;  // scheduler down
constexpr int kSpoolerTimeout = kErrorTimeout;
constexpr int kSpoolerFailed = kErrorGenFailure;
constexpr int kSpoolerFileNotFound = kErrorFileNotFound;  // no document to submit

// Job status bits.  CUPS: held (pending-held) is paused; processing is
// printing; a job whose data is still being received (job-incoming) is
// spooling.  A pending or stopped job has no bit set.
constexpr uint32_t kJobStatusPaused = 0x1;
constexpr uint32_t kJobStatusSpooling = 0x8;
constexpr uint32_t kJobStatusPrinting = 0x10;

// Job priorities: among active jobs, a higher one prints first.
constexpr int kMinJobPriority = 1;
constexpr int kMaxJobPriority = 100;

enum class PrinterAccess {
  kUse,      // may print and read the queue
  kOwnJobs,  // may also hold, release, cancel and raise the priority of its
             // own jobs: a spooler that keeps jobs (every job's owner may
             // under CUPS' usual policy)
  kFull,     // may also administer the queue (resume it, move others' jobs)
};

enum class JobCommand {
  kPause = 1,
  kResume = 2,
  kCancel = 3,
};

struct PrinterEntry {
  std::string printerName;
  std::string portName;    // CUPS: device-uri; folder: file:FOLDER/NAME
  std::string driverName;  // CUPS: printer-make-and-model; folder: "folder"
};

struct SpoolerJob {
  int32_t jobId = 0;
  std::string userName;
  std::string machineName;
  std::string documentName;
  int32_t position = 0;  // place in print order among active jobs, from 1
  uint32_t status = 0;   // kJobStatus* bits
  int priority = 50;     // 1 to 100; higher prints first
};

// Page geometry in device units (dots at the printer's resolution).
struct PageGeometry {
  int32_t physicalWidth = 0;
  int32_t physicalHeight = 0;
  int32_t offsetX = 0;  // unprintable margin at the left
  int32_t offsetY = 0;  // unprintable margin at the top
  int32_t resolutionX = 0;
  int32_t resolutionY = 0;
};

struct SubmitOptions {
  std::string documentName;  // title of the spooler job
  int copies = 1;
  int orientation = 1;  // 1 portrait, 2 landscape
  // Page margins in millimetres; negative: the printer's own.
  double marginLeftMm = -1, marginRightMm = -1, marginTopMm = -1, marginBottomMm = -1;
  bool color = true;
  bool hold = false;  // submit the job held
};

class Spooler {
 public:
  virtual ~Spooler() = default;

  // The default printer of the calling user.  kSpoolerInvalidPrinterName
  // when there is none.
  virtual int DefaultPrinter(std::string* name) = 0;
  // Every printer, in the spooler's order.
  virtual int ListPrinters(std::vector<PrinterEntry>* printers) = 0;
  // Tests whether the printer opens with the access; changes nothing.
  // kSpoolerInvalidPrinterName for a printer that does not exist (or a name
  // no printer can have), kSpoolerAccessDenied when the access is refused
  // (the folder spooler keeps no jobs: it refuses kOwnJobs and kFull).
  virtual int OpenPrinter(const std::string& printer, PrinterAccess access) = 0;
  // The number of active jobs of the printer.
  virtual int JobCount(const std::string& printer, int* count) = 0;
  // The active jobs in print order (position 1 first).
  virtual int ListJobs(const std::string& printer, std::vector<SpoolerJob>* jobs) = 0;
  // One active job; kSpoolerInvalidJob when it is not active.
  virtual int GetJob(const std::string& printer, int32_t jobId, SpoolerJob* job) = 0;
  // Pauses (holds), resumes (releases) or cancels an active job;
  // kSpoolerInvalidJob when the job is not active.  Resuming a job that is
  // not paused succeeds.  Needs full access to another user's job.
  virtual int ControlJob(const std::string& printer, int32_t jobId, JobCommand command) = 0;
  // Moves the job to the place in print order (1 is next; a place past the
  // end is the end; 0 leaves it where it is).  Other jobs keep their order.
  virtual int SetJobPosition(const std::string& printer, int32_t jobId, int32_t position) = 0;
  // Sets the job's priority (1 to 100; among active jobs, higher prints
  // first, then lower ids).  Needs full access to another user's job;
  // kSpoolerInvalidJob for a job that is not active or already printing.
  virtual int SetJobPriority(const std::string& printer, int32_t jobId, int priority) = 0;
  // Lets a paused (stopped) printer print again; nothing for a running one.
  virtual int ResumePrinter(const std::string& printer) = 0;
  // The default paper and resolution; kSpoolerNotSupported when the
  // printer does not know them (a raw queue).
  virtual int GetPageGeometry(const std::string& printer, PageGeometry* geometry) = 0;
  // Prints the file (a PDF); *jobId gets the new job's id (0 when the
  // back end keeps no jobs).  kSpoolerFileNotFound when the file is
  // missing, kSpoolerInvalidParameter for copies below 1 or an orientation
  // other than 1 or 2.
  virtual int SubmitDocument(const std::string& printer, const std::string& file,
                             const SubmitOptions& options, int32_t* jobId) = 0;
};

// The back end chosen by KAVELO_SPOOLER: "cups", or "dir:FOLDER".  When it
// is unset or empty: CUPS when CUPS_SERVER is set or a scheduler answers
// within a second, else the folder spooler in kDefaultPrinterFolder (or,
// when that cannot be created, $HOME/.local/share/kavelo-printers).  A
// default folder that did not exist yet is created with one printer "PDF",
// named as the default printer.  nullptr for an unknown KAVELO_SPOOLER value.
std::unique_ptr<Spooler> OpenSpooler();

constexpr char kDefaultPrinterFolder[] = "/var/spool/kavelo-printers";
// The limit on every request to the CUPS scheduler, in milliseconds.
constexpr int kCupsRequestTimeoutMs = 10000;

// CUPS through libcups, at the scheduler named by CUPS_SERVER (or libcups'
// default), as the calling user.  Every request is limited to timeoutMs;
// a request that runs out gives kSpoolerTimeout, a scheduler that cannot be
// reached kSpoolerUnavailable.
std::unique_ptr<Spooler> MakeCupsSpooler(int timeoutMs = kCupsRequestTimeoutMs);

// The folder spooler on FOLDER: each subfolder is a printer, FOLDER/default
// names the default printer, FOLDER/NAME/printer.conf may give its page
// geometry (see folder_spooler.cpp for the format).
std::unique_ptr<Spooler> MakeFolderSpooler(const std::string& folder);

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_SPOOLER_H_
