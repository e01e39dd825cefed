#include "printcontrol/printing/print_job_control.h"

#include <strings.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

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

// The job's place in print order, or -1 when it cannot be read.
int32_t ReadJobPosition(Spooler& spooler, const char* printerName, const char* heldId) {
  int32_t jobId = ParseJobId(heldId);
  if (jobId < 0) return -1;
  platform::SpoolerJob job;
  if (spooler.GetJob(printerName, jobId, &job) != platform::kSpoolerOk) return -1;
  return job.position;
}

enum class OrderTest { kPassed, kFailed, kError };

OrderTest TestHeldOrder(Spooler& spooler, const char* printerName, const StringList& heldIds,
                        char* errorText, size_t errorSize) {
  int status = spooler.OpenPrinter(printerName, PrinterAccess::kFull);
  if (status != platform::kSpoolerOk) {
    std::snprintf(errorText, errorSize, "Error:OpenPrinter, errorcode:%d", status);
    return OrderTest::kError;
  }
  OrderTest result = OrderTest::kPassed;
  int32_t previous = 0;
  for (int i = 0; i < heldIds.Count(); ++i) {
    int32_t position = ReadJobPosition(spooler, printerName, heldIds.Item(i));
    if (position < 0) {
      std::snprintf(errorText, errorSize, "%s", "Can't get printer job position.");
      return OrderTest::kError;
    }
    if (i > 0 && position != previous + 1) result = OrderTest::kFailed;
    previous = position;
  }
  return result;
}

// Moves every held job behind the first one.  False with errorText set on
// the first error.
bool ReorderHeldJobs(Spooler& spooler, const char* printerName, const StringList& heldIds,
                     char* errorText, size_t errorSize) {
  int status = spooler.OpenPrinter(printerName, PrinterAccess::kFull);
  if (status != platform::kSpoolerOk) {
    std::snprintf(errorText, errorSize, "Error:OpenPrinter, errorcode:%d", status);
    return false;
  }
  int32_t first = ReadJobPosition(spooler, printerName, heldIds.Item(0));
  if (first < 0) return true;  // nothing to align to in this attempt
  for (int i = 1; i < heldIds.Count(); ++i) {
    int32_t jobId = ParseJobId(heldIds.Item(i));
    platform::SpoolerJob job;
    status =
        jobId < 0 ? platform::kSpoolerInvalidParameter : spooler.GetJob(printerName, jobId, &job);
    if (status != platform::kSpoolerOk) {
      std::snprintf(errorText, errorSize, "Error:GetJob, errorcode:%d", status);
      return false;
    }
    status = spooler.SetJobPosition(printerName, jobId, first + static_cast<int32_t>(i));
    if (status != platform::kSpoolerOk) {
      std::snprintf(errorText, errorSize, "Error:SetJob, errorcode:%d", status);
      return false;
    }
  }
  return true;
}

}  // namespace

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

int CanManagePrinter(Spooler& spooler, const char* printerName) {
  if (printerName == nullptr || printerName[0] == '\0') return -1;
  return spooler.OpenPrinter(printerName, PrinterAccess::kFull) == platform::kSpoolerOk ? 0 : -1;
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
  if (spooler.OpenPrinter(printerName, PrinterAccess::kFull) != platform::kSpoolerOk) return -1;
  return spooler.ControlJob(printerName, jobId, command) == platform::kSpoolerOk ? 0 : -1;
}

int ResumePrinter(Spooler& spooler, const char* printerName) {
  if (printerName == nullptr || printerName[0] == '\0') return -1;
  if (spooler.OpenPrinter(printerName, PrinterAccess::kFull) != platform::kSpoolerOk) return -1;
  return spooler.ResumePrinter(printerName) == platform::kSpoolerOk ? 0 : -1;
}

void ReleaseHeldJobs(Spooler& spooler, const char* printerName, const StringList& heldIds,
                     char* errorText, size_t errorSize) {
  // The texts are only kept when the caller asks for them.
  char scratch[128];
  if (errorText == nullptr || errorSize == 0) {
    errorText = scratch;
    errorSize = sizeof scratch;
  }
  errorText[0] = '\0';
  if (heldIds.Count() == 0 || printerName == nullptr) return;

  for (int attempt = 0; attempt < kReleaseAttempts; ++attempt) {
    OrderTest test = TestHeldOrder(spooler, printerName, heldIds, errorText, errorSize);
    if (test != OrderTest::kFailed) break;
    if (!ReorderHeldJobs(spooler, printerName, heldIds, errorText, errorSize)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(kReleaseAttemptPauseMs));
  }
  for (int i = 0; i < heldIds.Count(); ++i) {
    int32_t jobId = ParseJobId(heldIds.Item(i));
    if (jobId > 0) ControlJob(spooler, printerName, jobId, JobCommand::kResume);
  }
}

}  // namespace kavelo::printcontrol
