// The start-up checks: the service's account, its printer, the print
// control program and the spool directory.
#include <pwd.h>
#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include <sys/stat.h>

#include "common/exceptions.h"
#include "common/parameter_values.h"
#include "platform/eventlog.h"
#include "platform/scm.h"
#include "platform/spooler.h"
#include "service/event_log_channel.h"
#include "service/job_limits.h"
#include "service/service_messages.h"
#include "service/service_module.h"

namespace kavelo {

namespace {

// The first request for the default printer's name uses a buffer of this
// many characters (the terminating NUL included).
constexpr uint32_t kPrinterNameBuffer = 128;

// The default printer's name, copied into a buffer of *size characters.
// When it does not fit, gives kScmInsufficientBuffer and the size needed.
int DefaultPrinterInto(platform::Spooler* spooler, char* buffer, uint32_t* size) {
  std::string name;
  int status = spooler->DefaultPrinter(&name);
  if (status != platform::kSpoolerOk) return status;
  if (name.size() + 1 > *size) {
    *size = static_cast<uint32_t>(name.size() + 1);
    return platform::kScmInsufficientBuffer;
  }
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return platform::kSpoolerOk;
}

// True when the account is the system's own: the local system account in
// any letter case, or any name of a user with id 0.
bool IsSystemAccount(const std::string& account) {
  if (strcasecmp(account.c_str(), platform::kLocalSystemAccount) == 0) return true;
  std::vector<char> buffer(16384);
  passwd entry;
  passwd* found = nullptr;
  return getpwnam_r(account.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
         found != nullptr && found->pw_uid == 0;
}

}  // namespace

std::string ServiceModule::ServiceAccountName(const char* name) {
  platform::ScManager manager;
  if (platform::OpenSCManager(platform::kScManagerAllAccess, &manager) != platform::kScmOk) {
    return "";
  }
  platform::ServiceHandle service;
  if (platform::OpenService(manager, name, platform::kServiceQueryConfig, &service) !=
      platform::kScmOk) {
    return "";
  }
  platform::ServiceConfig config;
  if (platform::QueryServiceConfig(service, &config) != platform::kScmOk) return "";
  return config.serviceStartName;
}

bool ServiceModule::ValidateStartup(ParameterValues* values) {
  return CheckAccount() && CheckPrinter(values) && CheckPrinterApplication(*values) &&
         CheckSpoolerDirectory(*values);
}

bool ServiceModule::CheckAccount() {
  std::string account = ServiceAccountName(serviceName_.c_str());
  if (account.empty() || IsSystemAccount(account)) {
    eventLog_->Report(platform::EventType::kError, kMsgBadAccount);
    return false;
  }
  return true;
}

bool ServiceModule::CheckPrinter(ParameterValues* values) {
  std::string printer = values->printerName;
  std::unique_ptr<platform::Spooler> spooler = platform::OpenSpooler();
  if (values->useDefaultPrinter != 0) {
    uint32_t size = kPrinterNameBuffer;
    std::vector<char> buffer(size, '\0');
    int status = spooler ? DefaultPrinterInto(spooler.get(), buffer.data(), &size)
                         : platform::kSpoolerUnavailable;
    if (status == platform::kScmInsufficientBuffer) {
      buffer.assign(size, '\0');
      status = DefaultPrinterInto(spooler.get(), buffer.data(), &size);
    }
    if (status != platform::kSpoolerOk) {
      eventLog_->Report(platform::EventType::kError, kMsgNoDefaultPrinter);
      return false;
    }
    printer = buffer.data();
  }
  if (!spooler ||
      spooler->OpenPrinter(printer, platform::PrinterAccess::kUse) != platform::kSpoolerOk) {
    eventLog_->Report(platform::EventType::kError, kMsgPrinterMissing, printer.c_str());
    return false;
  }
  values->printerName = printer;
  return true;
}

bool ServiceModule::CheckPrinterApplication(const ParameterValues& values) {
  // Existence only: a file or a folder of that name passes.
  struct stat info;
  if (values.printerApplication.empty() || stat(values.printerApplication.c_str(), &info) != 0) {
    eventLog_->Report(platform::EventType::kError, kMsgPrinterApplicationMissing,
                      values.printerApplication.c_str());
    return false;
  }
  return true;
}

bool ServiceModule::CheckSpoolerDirectory(const ParameterValues& values) {
  // The spool directory must be a folder the service can read and write.
  // A folder without any write permission bit counts as marked read-only
  // even for a user (root) whom the permissions would not stop.  Its spool
  // paths must also reach the print control whole (SpoolDirectoryFault), or
  // every job would fail later.
  const std::string& path = values.spoolerDirectory;
  struct stat info;
  bool usable = !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
                (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
                access(path.c_str(), R_OK | W_OK) == 0 && SpoolDirectoryFault(values).empty();
  if (!usable) {
    eventLog_->Report(platform::EventType::kError, kMsgSpoolerDirectoryMissing, path.c_str());
    return false;
  }
  return true;
}

}  // namespace kavelo
