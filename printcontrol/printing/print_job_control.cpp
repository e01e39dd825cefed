#include "printcontrol/printing/print_job_control.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "printcontrol/printing/spool_job_list.h"
#include "printcontrol/render/string_list.h"

namespace kavelo::printcontrol {

namespace {

using platform::JobCommand;
using platform::PrinterAccess;
using platform::Spooler;

void ClearText(char* text, size_t size) {
  if (text != nullptr && size > 0) text[0] = '\0';
}

// Copies src into dest only when it fits whole; false (dest empty) otherwise.
bool CopyWhole(const char* src, char* dest, size_t destSize) {
  size_t length = std::strlen(src);
  if (length >= destSize) {
    ClearText(dest, destSize);
    return false;
  }
  std::memcpy(dest, src, length + 1);
  return true;
}

// A held id as the job id it names; -1 when it is not a positive decimal.
int32_t ParseJobId(const char* text) {
  if (text == nullptr || text[0] == '\0') return -1;
  errno = 0;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value <= 0 || value > INT32_MAX) return -1;
  return static_cast<int32_t>(value);
}

// The job's place in print order; 0 when it is no longer active (printed
// or cancelled), -1 when it cannot be read.
int32_t ReadJobPosition(Spooler& spooler, const char* printerName, const char* heldId) {
  int32_t jobId = ParseJobId(heldId);
  if (jobId < 0) return -1;
  platform::SpoolerJob job;
  int status = spooler.GetJob(printerName, jobId, &job);
  if (status == platform::kSpoolerInvalidJob) return 0;
  if (status != platform::kSpoolerOk) return -1;
  return job.position;
}

enum class OrderTest { kPassed, kFailed, kError };

// Whether the held jobs that are still active stand in consecutive places.
OrderTest TestHeldOrder(Spooler& spooler, const char* printerName, const StringList& heldIds,
                        std::string* errorText) {
  OrderTest result = OrderTest::kPassed;
  int32_t previous = 0;
  for (int i = 0; i < heldIds.Count(); ++i) {
    int32_t position = ReadJobPosition(spooler, printerName, heldIds.Item(i));
    if (position < 0) {
      *errorText = "Can't get printer job position.";
      return OrderTest::kError;
    }
    if (position == 0) continue;
    if (previous > 0 && position != previous + 1) result = OrderTest::kFailed;
    previous = position;
  }
  return result;
}

// Moves every active held job behind the first active one.  False with
// errorText set on the first error (a refusal: moving jobs past other
// users' jobs is the administrator's).
bool ReorderHeldJobs(Spooler& spooler, const char* printerName, const StringList& heldIds,
                     std::string* errorText) {
  int32_t place = 0;
  for (int i = 0; i < heldIds.Count(); ++i) {
    int32_t jobId = ParseJobId(heldIds.Item(i));
    platform::SpoolerJob job;
    int status =
        jobId < 0 ? platform::kSpoolerInvalidParameter : spooler.GetJob(printerName, jobId, &job);
    if (status == platform::kSpoolerInvalidJob) continue;  // printed already
    if (status != platform::kSpoolerOk) {
      *errorText = "Error:GetJob, errorcode:" + std::to_string(status);
      return false;
    }
    if (place == 0) {
      place = job.position;
      continue;
    }
    status = spooler.SetJobPosition(printerName, jobId, ++place);
    if (status != platform::kSpoolerOk) {
      *errorText = "Error:SetJob, errorcode:" + std::to_string(status);
      return false;
    }
  }
  return true;
}

bool IsListed(const StringList& heldIds, int32_t jobId) {
  for (int i = 0; i < heldIds.Count(); ++i) {
    if (ParseJobId(heldIds.Item(i)) == jobId) return true;
  }
  return false;
}

}  // namespace

int KeepHeldJobsTogether(Spooler& spooler, const char* printerName, const StringList& heldIds) {
  std::vector<platform::SpoolerJob> active;
  if (spooler.ListJobs(printerName, &active) != platform::kSpoolerOk) return -1;
  std::vector<const platform::SpoolerJob*> own;
  std::vector<const platform::SpoolerJob*> others;
  for (const platform::SpoolerJob& job : active) {
    bool waiting = (job.status & platform::kJobStatusPrinting) == 0;
    if (IsListed(heldIds, job.jobId)) {
      own.push_back(&job);
    } else if (waiting) {
      others.push_back(&job);
    }
  }
  // Once a job of its own has printed or is printing, a waiting job of
  // higher priority would print before the rest.
  bool started = static_cast<int>(own.size()) < heldIds.Count();
  int32_t firstId = INT32_MAX;
  int32_t lastId = 0;
  int priority = platform::kMinJobPriority;
  for (const platform::SpoolerJob* job : own) {
    started = started || (job->status & platform::kJobStatusPrinting) != 0;
    firstId = std::min(firstId, job->jobId);
    lastId = std::max(lastId, job->jobId);
    priority = std::max(priority, job->priority);
  }
  // Raised past every waiting job that would print between them, until
  // none is left or the highest priority is reached.
  for (bool raised = true; raised && priority < platform::kMaxJobPriority;) {
    raised = false;
    for (const platform::SpoolerJob* job : others) {
      bool between = job->priority == priority && job->jobId > firstId && job->jobId < lastId;
      if (between || (started && job->priority >= priority)) {
        priority = std::min(job->priority + 1, platform::kMaxJobPriority);
        raised = true;
      }
    }
  }
  int result = 0;
  for (const platform::SpoolerJob* job : own) {
    if (job->priority == priority || (job->status & platform::kJobStatusPrinting) != 0) continue;
    if (spooler.SetJobPriority(printerName, job->jobId, priority) != platform::kSpoolerOk) {
      result = -1;
    }
  }
  return result;
}

void ResolvePrinterName(Spooler& spooler, const char* givenName, char* result, size_t resultSize) {
  ClearText(result, resultSize);
  if (givenName == nullptr || givenName[0] == '\0' || result == nullptr) return;
  std::vector<platform::PrinterEntry> printers;
  if (spooler.ListPrinters(&printers) != platform::kSpoolerOk) return;
  for (const platform::PrinterEntry& printer : printers) {
    if (!printer.printerName.empty() && strcasecmp(printer.printerName.c_str(), givenName) == 0) {
      CopyWhole(givenName, result, resultSize);
      return;
    }
  }
  for (const platform::PrinterEntry& printer : printers) {
    if (!printer.portName.empty() && !printer.printerName.empty() &&
        strcasecmp(printer.portName.c_str(), givenName) == 0) {
      CopyWhole(printer.printerName.c_str(), result, resultSize);
      return;
    }
  }
}

int CanHoldOwnJobs(Spooler& spooler, const char* printerName) {
  if (printerName == nullptr || printerName[0] == '\0') return -1;
  return spooler.OpenPrinter(printerName, PrinterAccess::kOwnJobs) == platform::kSpoolerOk ? 0
                                                                                            : -1;
}

int SnapshotJobs(Spooler& spooler, const char* printerName, SpoolJobList* jobs,
                 PrinterAccess access) {
  jobs->Clear();
  if (printerName == nullptr || printerName[0] == '\0') return -1;
  if (spooler.OpenPrinter(printerName, access) != platform::kSpoolerOk) return -1;
  std::vector<platform::SpoolerJob> listed;
  if (spooler.ListJobs(printerName, &listed) != platform::kSpoolerOk) return -1;
  SpoolJobInfo info;
  for (const platform::SpoolerJob& job : listed) {
    CopySpoolJob(job, &info);
    jobs->Add(info);
  }
  return 0;
}

bool JobMatchesFile(const char* ownUserName, const SpoolJobInfo& job, const char* htmlPath) {
  if (ownUserName == nullptr || htmlPath == nullptr) return false;
  if (strcasecmp(job.userName, ownUserName) != 0) return false;
  const char* slash = std::strrchr(htmlPath, '/');
  if (slash == nullptr || slash[1] == '\0') return false;
  const char* fileName = slash + 1;
  size_t nameLength = std::strlen(fileName);
  size_t documentLength = strnlen(job.documentName, kSpoolTextSize);
  if (documentLength < nameLength) return false;
  return strncasecmp(job.documentName + (documentLength - nameLength), fileName, nameLength) == 0;
}

int FindJobOfFile(Spooler& spooler, const char* printerName, const char* ownUserName,
                  const char* htmlPath) {
  SpoolJobList jobs;
  if (SnapshotJobs(spooler, printerName, &jobs, PrinterAccess::kUse) != 0) return -1;
  for (int i = 0; i < jobs.Count(); ++i) {
    if (JobMatchesFile(ownUserName, *jobs.Item(i), htmlPath)) return jobs.Item(i)->jobId;
  }
  return -1;
}

int ControlJob(Spooler& spooler, const char* printerName, int32_t jobId, JobCommand command) {
  if (printerName == nullptr || printerName[0] == '\0') return -1;
  return spooler.ControlJob(printerName, jobId, command) == platform::kSpoolerOk ? 0 : -1;
}

int ResumePrinter(Spooler& spooler, const char* printerName) {
  if (printerName == nullptr || printerName[0] == '\0') return -1;
  return spooler.ResumePrinter(printerName) == platform::kSpoolerOk ? 0 : -1;
}

int ReleaseHeldJobs(Spooler& spooler, const char* printerName, const StringList& heldIds,
                    std::string* errorText) {
  // The texts are only kept when the caller asks for them.
  std::string scratch;
  if (errorText == nullptr) errorText = &scratch;
  errorText->clear();
  if (heldIds.Count() == 0 || printerName == nullptr) return 0;

  KeepHeldJobsTogether(spooler, printerName, heldIds);
  for (int attempt = 0; attempt < kReleaseAttempts; ++attempt) {
    OrderTest test = TestHeldOrder(spooler, printerName, heldIds, errorText);
    if (test != OrderTest::kFailed) break;
    if (!ReorderHeldJobs(spooler, printerName, heldIds, errorText)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(kReleaseAttemptPauseMs));
  }
  // Jobs released with an earlier copy are left alone (when the queue can
  // be read).
  std::vector<platform::SpoolerJob> active;
  const bool listed = spooler.ListJobs(printerName, &active) == platform::kSpoolerOk;
  int result = 0;
  for (int i = 0; i < heldIds.Count(); ++i) {
    int32_t jobId = ParseJobId(heldIds.Item(i));
    if (jobId <= 0) continue;
    auto found = std::find_if(active.begin(), active.end(), [jobId](const platform::SpoolerJob& job) {
      return job.jobId == jobId;
    });
    if (listed && (found == active.end() || (found->status & platform::kJobStatusPaused) == 0)) {
      continue;
    }
    int status = spooler.ControlJob(printerName, jobId, JobCommand::kResume);
    // A job that is no longer active was released before (and printed) or
    // cancelled by someone else: nothing of it stays held.
    if (status != platform::kSpoolerOk && status != platform::kSpoolerInvalidJob) result = -1;
  }
  return result;
}

}  // namespace kavelo::printcontrol
