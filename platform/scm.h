// The service control manager: the service database, the dispatcher that
// runs a service in the foreground process, and the status reports.
//
// The service database is the registry, as callers expect of Windows:
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\NAME holds Type,
// Start, ErrorControl (REG_DWORD), ImagePath (REG_EXPAND_SZ), DisplayName,
// ObjectName (REG_SZ: the account, "LocalSystem" when created without one)
// and DependOnService (REG_MULTI_SZ).  A service is installed when its key
// holds ImagePath; deleting a service deletes its key with every subkey.
// The database lock is an exclusive lock on a file in the registry folder.
//
// The dispatcher runs the service entry on a service thread of the calling
// process; SIGTERM and SIGINT become the stop control handed to the
// registered handler.  Status reports go to systemd (sd_notify) when
// NOTIFY_SOCKET is set.
//
// Operations return 0 or a Windows status code, and also leave that code
// as the calling thread's last error (LastError), so that a caller several
// layers up can name the code of the call that failed.
#ifndef KAVELO_PLATFORM_SCM_H_
#define KAVELO_PLATFORM_SCM_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace kavelo::platform {

// The service control's status codes: those of platform/status.h it returns.
constexpr long kScmOk = kErrorSuccess;
constexpr long kScmAccessDenied = kErrorAccessDenied;
constexpr long kScmInvalidHandle = kErrorInvalidHandle;
constexpr long kScmInvalidParameter = kErrorInvalidParameter;
constexpr long kScmInsufficientBuffer = kErrorInsufficientBuffer;
constexpr long kScmInvalidName = kErrorInvalidName;
constexpr long kScmDatabaseLocked = kErrorServiceDatabaseLocked;
constexpr long kScmServiceDoesNotExist = kErrorServiceDoesNotExist;
constexpr long kScmControllerConnect = kErrorFailedServiceControllerConnect;
constexpr long kScmServiceExists = kErrorServiceExists;
constexpr long kScmServiceAlreadyRunning = kErrorServiceAlreadyRunning;

// Service types, start types, error controls.
constexpr uint32_t kServiceWin32OwnProcess = 0x10;
constexpr uint32_t kServiceAutoStart = 2;
constexpr uint32_t kServiceDemandStart = 3;
constexpr uint32_t kServiceDisabled = 4;
constexpr uint32_t kServiceErrorNormal = 1;
constexpr uint32_t kServiceNoChange = 0xFFFFFFFF;

// Access rights (Windows numbers).  The database grants every right to a
// caller that may write the registry hive and read rights to any other.
constexpr uint32_t kScManagerAllAccess = 0xF003F;
constexpr uint32_t kScManagerConnect = 0x0001;
constexpr uint32_t kServiceQueryConfig = 0x0001;
constexpr uint32_t kServiceChangeConfig = 0x0002;
constexpr uint32_t kServiceQueryStatus = 0x0004;
constexpr uint32_t kServiceDelete = 0x10000;  // DELETE
constexpr uint32_t kServiceAllAccess = 0xF01FF;

// Service states and controls.
constexpr uint32_t kServiceStopped = 1;
constexpr uint32_t kServiceStartPending = 2;
constexpr uint32_t kServiceStopPending = 3;
constexpr uint32_t kServiceRunning = 4;
constexpr uint32_t kServiceControlStop = 1;
constexpr uint32_t kServiceControlInterrogate = 4;
constexpr uint32_t kServiceAcceptStop = 1;

// The default "account" of a service created without one.
constexpr const char* kLocalSystemAccount = "LocalSystem";

// The last status code an operation of this layer left on the calling
// thread (0 after a success).
long LastError();
void SetLastError(long code);

// An open service control manager.  Closing is always safe.
class ScManager {
 public:
  ScManager() = default;
  bool IsOpen() const { return open_; }
  bool writable() const { return writable_; }
  void Close() { open_ = false; }

 private:
  friend struct ScmInternals;
  bool open_ = false;
  bool writable_ = false;
};

// An open service.  Closing is always safe.
class ServiceHandle {
 public:
  ServiceHandle() = default;
  bool IsOpen() const { return open_; }
  const std::string& name() const { return name_; }
  uint32_t access() const { return access_; }
  void Close() { open_ = false; }

 private:
  friend struct ScmInternals;
  bool open_ = false;
  std::string name_;  // the key's name as stored
  uint32_t access_ = 0;
};

// A service's configuration as the database holds it.
struct ServiceConfig {
  uint32_t serviceType = 0;
  uint32_t startType = 0;
  uint32_t errorControl = 0;
  std::string binaryPathName;
  std::string loadOrderGroup;
  uint32_t tagId = 0;
  std::vector<std::string> dependencies;
  std::string serviceStartName;  // the account
  std::string displayName;
};

// Opens the manager.  All access requires a writable registry hive
// (otherwise kScmAccessDenied); kScManagerConnect always succeeds when the
// registry can be read.
long OpenSCManager(uint32_t access, ScManager* manager);

// Creates a service.  An empty account means the local system account
// ("LocalSystem" is stored).  dependencies: names of services this one
// needs; none when empty.  kScmServiceExists when it is installed already,
// kScmInvalidName for an empty name or one holding "\" or "/".
long CreateService(const ScManager& manager, const std::string& name,
                   const std::string& displayName, uint32_t access, uint32_t serviceType,
                   uint32_t startType, uint32_t errorControl, const std::string& binaryPathName,
                   const std::vector<std::string>& dependencies, const std::string& account,
                   ServiceHandle* service);

// Opens an installed service; kScmServiceDoesNotExist when it is not.
long OpenService(const ScManager& manager, const std::string& name, uint32_t access,
                 ServiceHandle* service);

// Deletes the service: its key with every subkey.  A running instance is
// not stopped.
long DeleteService(const ServiceHandle& service);

// Reads the configuration.  Needs kServiceQueryConfig.
long QueryServiceConfig(const ServiceHandle& service, ServiceConfig* config);

// Changes the configuration.  kServiceNoChange leaves a number as it is,
// a null pointer leaves a text or the dependency list as it is; an empty
// dependency list removes every dependency.  Needs kServiceChangeConfig.
long ChangeServiceConfig(const ServiceHandle& service, uint32_t serviceType, uint32_t startType,
                         uint32_t errorControl, const std::string* binaryPathName,
                         const std::vector<std::string>* dependencies, const std::string* account,
                         const std::string* displayName);

// A lock file held while the object lives: the database lock, or the
// instance lock of a running service.
class ScLock {
 public:
  ScLock() = default;
  ~ScLock();
  ScLock(ScLock&& other) noexcept;
  ScLock& operator=(ScLock&& other) noexcept;
  ScLock(const ScLock&) = delete;
  ScLock& operator=(const ScLock&) = delete;
  bool IsHeld() const { return fd_ >= 0; }

 private:
  friend long LockServiceDatabase(const ScManager&, ScLock*);
  friend long LockServiceInstance(const std::string&, ScLock*);
  friend long UnlockServiceDatabase(ScLock*);
  int fd_ = -1;
};

// Takes the exclusive database lock without waiting: kScmDatabaseLocked
// when another holder has it (another process or another ScLock).
long LockServiceDatabase(const ScManager& manager, ScLock* lock);
long UnlockServiceDatabase(ScLock* lock);

// The instance lock of a running service: an exclusive lock on the file
// NAME.lock in the registry folder (ServiceInstanceLockPath), which a
// service holds for as long as it runs, so that a second process never
// runs the same service (and its print queue) beside it.  The file is
// opened for reading only, never through a symbolic link and close-on-exec:
// the lock is the open file's, so it stays with the process across a change
// of user, no child inherits it, and a file made by another user (root)
// still serves.  kScmServiceAlreadyRunning when another holder has it,
// kScmAccessDenied when the file can be neither opened nor created.
long LockServiceInstance(const std::string& name, ScLock* lock);
std::string ServiceInstanceLockPath(const std::string& name);

// ---- Running a service ----

// The status record a service reports.
struct ServiceStatus {
  uint32_t serviceType = kServiceWin32OwnProcess;
  uint32_t currentState = kServiceStopped;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;  // milliseconds
};

// The service's handler: receives control codes on the dispatcher's thread.
// It must return promptly.
using ServiceHandlerFunction = std::function<void(uint32_t control)>;
// The service entry, run on the service thread.
using ServiceMainFunction = std::function<void(int argc, char** argv)>;

// Identifies a registered handler for status reports; 0 is none.
using ServiceStatusHandle = uintptr_t;

// Runs the service: blocks SIGTERM and SIGINT in the calling thread (and so
// in every thread created afterwards), starts a service thread on
// serviceMain with (1, {name}) and, while it runs, turns every SIGTERM and
// SIGINT into the stop control for the registered handler (a stop that
// arrives before the handler is registered is delivered at registration).
// Returns 0 when the service entry has returned; the signal mask is then
// restored.  Call it once, from the process's main thread.
long StartServiceCtrlDispatcher(const std::string& name, const ServiceMainFunction& serviceMain);

// Registers the handler of the service that the dispatcher runs.  Returns
// the status handle, or 0 (last error kScmInvalidName) when name is not
// the dispatched service or no dispatcher runs.
ServiceStatusHandle RegisterServiceCtrlHandler(const std::string& name,
                                               const ServiceHandlerFunction& handler);

// Reports the status.  With NOTIFY_SOCKET set: start pending sends
// "STATUS=Starting" and "EXTEND_TIMEOUT_USEC=" the wait hint, running
// "READY=1", stop pending "STOPPING=1" and "EXTEND_TIMEOUT_USEC=", stopped
// "STATUS=Stopped".  Returns 0, or kScmInvalidHandle for an unknown handle.
long SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status);

// The text that SetServiceStatus sends to systemd for the status; empty
// when the state sends nothing.
std::string NotifyText(const ServiceStatus& status);

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_SCM_H_
