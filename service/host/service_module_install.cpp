// Installation and removal of the service: the service database entry, its
// dependencies, the event source and the systemd unit.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "common/exceptions.h"
#include "platform/scm.h"
#include "platform/sysinfo.h"
#include "service/host/event_source_registration.h"
#include "service/host/service_module.h"
#include "service/host/systemd_unit.h"

namespace kavelo::service {

namespace {

// The status code that stands for an errno value in the printed error.
long FromErrno(int error) { return platform::StatusFromErrno(error, error); }

// Writes (or refreshes) the systemd unit for the installed service.  Where
// the unit comes from a package (unless KAVELO_SYSTEMD_UNIT_DIR chooses a
// folder) or systemd does not run the machine, one line says why none is
// written, on standard error, so that the command's own output stays as it is.
bool WriteUnit(const std::string& serviceName, const std::string& displayName,
               const std::string& account) {
  std::string unitName = SystemdUnitName(serviceName);
  const char* chosen = std::getenv("KAVELO_SYSTEMD_UNIT_DIR");
  std::string packaged = chosen && *chosen ? "" : PackagedSystemdUnit(unitName);
  if (!packaged.empty()) {
    std::fprintf(stderr, "%s: the installed package's unit %s runs the service; no unit written\n",
                 serviceName.c_str(), packaged.c_str());
    return true;
  }
  std::string directory = SystemdUnitDirectory();
  if (directory.empty()) {
    std::fprintf(stderr, "%s: systemd does not run this machine; no unit written\n",
                 serviceName.c_str());
    return true;
  }
  SystemdUnitSettings settings;
  settings.description = displayName;
  settings.programPath = platform::ProgramPath();
  settings.account = account;
  settings.environment = ServiceEnvironment();
  int error = WriteSystemdUnit(directory, unitName, SystemdUnitText(settings));
  if (error != 0) {
    platform::SetLastError(FromErrno(error));
    return false;
  }
  ReloadSystemd(directory);
  return true;
}

}  // namespace

bool ServiceModule::IsInstalled(const char* name) {
  if (name == nullptr) throw NullPointerException();
  if (*name == '\0') throw IllegalArgumentException();
  platform::ScManager manager;
  if (platform::OpenSCManager(platform::kScManagerAllAccess, &manager) != platform::kScmOk) {
    return false;
  }
  platform::ServiceHandle service;
  return platform::OpenService(manager, name, platform::kServiceQueryConfig, &service) ==
         platform::kScmOk;
}

bool ServiceModule::Install() {
  if (IsInstalled(serviceName_.c_str())) return false;
  platform::ScManager manager;
  if (platform::OpenSCManager(platform::kScManagerAllAccess, &manager) != platform::kScmOk) {
    return false;
  }
  std::string programPath = platform::ProgramPath();
  platform::ServiceHandle service;
  if (platform::CreateService(manager, serviceName_, displayName_, platform::kServiceAllAccess,
                              platform::kServiceWin32OwnProcess, platform::kServiceDemandStart,
                              platform::kServiceErrorNormal, programPath, {}, "",
                              &service) != platform::kScmOk) {
    return false;
  }
  if (!AddEventSource(programPath.c_str(), serviceName_.c_str(), kEventTypesSupported)) {
    platform::SetLastError(platform::kScmAccessDenied);
    return false;
  }
  return true;
}

bool ServiceModule::Uninstall() {
  platform::ScManager manager;
  if (platform::OpenSCManager(platform::kScManagerAllAccess, &manager) != platform::kScmOk) {
    return false;
  }
  platform::ServiceHandle service;
  if (platform::OpenService(manager, serviceName_, platform::kServiceDelete, &service) !=
      platform::kScmOk) {
    return false;
  }
  // A running instance is not stopped: it goes on until it is told to stop.
  if (platform::DeleteService(service) != platform::kScmOk) return false;
  if (!RemoveEventSource(serviceName_.c_str())) {
    platform::SetLastError(platform::kScmAccessDenied);
    return false;
  }
  return true;
}

bool ServiceModule::RegisterServer() {
  if (!SetDependencies({"RPCSS"})) return false;
  // The unit is refreshed on every registration, so that an account given
  // to the service since becomes its User.
  return WriteUnit(serviceName_, displayName_, ServiceAccountName(serviceName_.c_str()));
}

bool ServiceModule::UnregisterServer() {
  std::string directory = SystemdUnitDirectory();
  if (!directory.empty() && RemoveSystemdUnit(directory, SystemdUnitName(serviceName_)) == 0) {
    ReloadSystemd(directory);
  }
  return true;
}

bool ServiceModule::SetDependencies(const std::vector<std::string>& names) {
  platform::ScManager manager;
  if (platform::OpenSCManager(platform::kScManagerAllAccess, &manager) != platform::kScmOk) {
    return false;
  }
  platform::ServiceHandle service;
  if (platform::OpenService(manager, serviceName_, platform::kServiceAllAccess, &service) !=
      platform::kScmOk) {
    return false;
  }
  platform::ServiceConfig config;
  if (platform::QueryServiceConfig(service, &config) != platform::kScmOk) return false;
  // The lock keeps other installers out while the list is built and
  // written; the change goes ahead without it, as the result is the change's.
  platform::ScLock lock;
  platform::LockServiceDatabase(manager, &lock);
  std::vector<std::string> dependencies;
  for (const std::string& name : names) {
    if (!name.empty() && IsInstalled(name.c_str())) dependencies.push_back(name);
  }
  long result = platform::ChangeServiceConfig(
      service, platform::kServiceNoChange, platform::kServiceNoChange, platform::kServiceNoChange,
      nullptr, &dependencies, nullptr, &config.displayName);
  if (lock.IsHeld()) {
    long changeError = platform::LastError();
    platform::UnlockServiceDatabase(&lock);
    platform::SetLastError(changeError);
  }
  return result == platform::kScmOk;
}

}  // namespace kavelo::service
