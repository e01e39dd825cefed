// The start-up checks: the service's account (to which a service started
// by root hands the process over), what that account must write, the
// instance lock, the printer, the print control program and the spool
// directory.
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/stat.h>

#include "common/client_limit_values.h"
#include "common/exceptions.h"
#include "common/parameter_values.h"
#include "common/service_parameters.h"
#include "platform/account.h"
#include "platform/eventlog.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "platform/spooler.h"
#include "platform/sysinfo.h"
#include "service/host/event_log_channel.h"
#include "service/host/service_messages.h"
#include "service/host/service_module.h"
#include "service/intake/client_admission.h"
#include "service/intake/intake_listener.h"
#include "service/intake/job_limits.h"

namespace kavelo::service {

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

// The name of the user the process runs as, for the texts of its reports.
std::string ProcessAccountName() {
  std::string name = platform::UserName();
  return name.empty() ? std::to_string(geteuid()) : name;
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
  return CheckAccount() && CheckAccountReach() && TakeInstanceLock() && CheckPrinter(values) &&
         CheckPrinterApplication(*values) && CheckSpoolerDirectory(*values);
}

bool ServiceModule::CheckAccount() {
  // Refused: no account, the system's own ("LocalSystem" in any letter
  // case, or any name of user id 0), and a name the user database does not
  // know.
  std::string name = ServiceAccountName(serviceName_.c_str());
  platform::Account account;
  if (name.empty() || strcasecmp(name.c_str(), platform::kLocalSystemAccount) == 0 ||
      !platform::LookUpAccount(name, &account) || account.uid == 0) {
    eventLog_->Report(platform::EventType::kError, kMsgBadAccount);
    return false;
  }
  // Started by any other user, the service runs as that user (systemd's
  // User= names the account).  Started by root, it becomes the account for
  // good before it reads a client's job or starts a print control: the
  // documents come from the network, and the print control and its
  // renderers inherit the account.  Only the dispatcher's thread runs
  // beside this one, and it is switched along with it.
  if (!platform::RunsAsRoot()) return true;
  std::string failure = platform::SwitchToAccount(account);
  if (!failure.empty()) {
    // The debug message is the table's one free text; the report is an
    // error.  The start ends here, so a half-done switch never runs.
    std::string text =
        "The service cannot switch to the account " + account.name + ": " + failure + ".";
    eventLog_->Report(platform::EventType::kError, kMsgDebug, text.c_str());
    return false;
  }
  return true;
}

bool ServiceModule::CheckAccountReach() {
  // What the account writes while it runs: the registry folder and the hive
  // that holds the print queue (with SQLite's files beside it), and the
  // event file.  Files that root made for it are named here rather than
  // taken over: their owner is the administrator's choice.  The spool
  // directory is the last check's.
  std::vector<std::string> paths = {platform::RegistryDirectory()};
  std::string hive = platform::RegistryHiveFile(platform::Hive::kLocalMachine);
  for (const char* suffix : {"", "-wal", "-shm"}) {
    struct stat info;
    if (lstat((hive + suffix).c_str(), &info) == 0) paths.push_back(hive + suffix);
  }
  const char* eventFile = std::getenv("KAVELO_EVENTLOG");
  if (eventFile != nullptr && *eventFile != '\0') paths.push_back(eventFile);
  for (const std::string& path : paths) {
    if (!platform::CanWritePath(path)) {
      std::string text = "The account " + ProcessAccountName() + " cannot write " + path + ".";
      eventLog_->Report(platform::EventType::kError, kMsgDebug, text.c_str());
      return false;
    }
  }
  return true;
}

bool ServiceModule::TakeInstanceLock() {
  // Taken as the account, so that the lock file is the account's own when
  // this start makes it; one that root made still serves, since it is only
  // read.
  long status = platform::LockServiceInstance(serviceName_, &instanceLock_);
  if (status == platform::kScmOk) return true;
  std::string path = platform::ServiceInstanceLockPath(serviceName_);
  std::string text =
      status == platform::kScmServiceAlreadyRunning
          ? "Another instance of the service runs (it holds " + path +
                "). This instance does not start and leaves its print queue alone."
          : "The account " + ProcessAccountName() + " cannot write " + path + ".";
  eventLog_->Report(platform::EventType::kError, kMsgDebug, text.c_str());
  return false;
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
  // The spool directory must be a folder in which the service's account
  // can make files.  A folder without any write permission bit counts as
  // marked read-only even for a user whom the permissions would not stop.
  // Its spool paths must also reach the print control whole
  // (SpoolDirectoryFault), or every job would fail later.
  const std::string& path = values.spoolerDirectory;
  struct stat info;
  bool usable = !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
                (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
                access(path.c_str(), R_OK | W_OK | X_OK) == 0 &&
                SpoolDirectoryFault(values).empty();
  if (!usable) {
    eventLog_->Report(platform::EventType::kError, kMsgSpoolerDirectoryMissing, path.c_str());
    return false;
  }
  return true;
}

bool ServiceModule::CheckClientLimits(const ParameterValues& values, ClientLimits* limits,
                                      std::string* listenAddress) {
  ClientLimitValues read =
      ReadClientLimitValues(platform::Hive::kLocalMachine, parameters_->ParametersKeyPath());
  std::string invalid;
  if (!AddressList::Parse(read.allowedClients, &limits->allowedClients, &invalid)) {
    eventLog_->Report(platform::EventType::kError, kMsgParameterEntryInvalid, "AllowedClients",
                      invalid.c_str());
    return false;
  }
  if (!AddressList::Parse(read.trustedProxies, &limits->trustedProxies, &invalid)) {
    eventLog_->Report(platform::EventType::kError, kMsgParameterEntryInvalid, "TrustedProxies",
                      invalid.c_str());
    return false;
  }
  PeerAddress address;
  if (!read.listenAddress.empty() && !PeerAddress::Parse(read.listenAddress, &address)) {
    eventLog_->Report(platform::EventType::kError, kMsgParameterEntryInvalid, "ListenAddress",
                      read.listenAddress.c_str());
    return false;
  }
  *listenAddress = read.listenAddress;
  limits->maxConnectionsPerClient = read.maxConnectionsPerClient;
  limits->maxQueuedJobsPerClient = read.maxQueuedJobsPerClient;
  limits->maxQueuedBytesPerClient = uint64_t{read.maxQueuedMBPerClient} << 20;
  limits->spoolReserveBytes = uint64_t{read.spoolReserveMB} << 20;
  if ((limits->maxQueuedJobsPerClient != 0 || limits->maxQueuedBytesPerClient != 0) &&
      !SpoolKeepsClientAttribute(values.spoolerDirectory)) {
    std::string text = "The spool directory " + values.spoolerDirectory +
                       " keeps no extended attributes: the per-client queue bounds count the "
                       "jobs queued before a restart for no client.";
    eventLog_->Report(platform::EventType::kWarning, kMsgDebug, text.c_str());
  }
  return true;
}

}  // namespace kavelo::service
