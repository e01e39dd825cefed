// ServiceModule: the print service as one object.  It is both the service
// and its own installer: the command table acts on the command line, the
// service entry runs the control loop with the start and stop routines, and
// the installation operations keep the service database entry.
// Its members are defined by part: service_module.cpp (life cycle, control
// loop, status), service_module_commands.cpp (command table),
// service_module_install.cpp (installation), service_module_startup.cpp
// (start-up checks).
#ifndef KAVELO_SERVICE_SERVICE_MODULE_H_
#define KAVELO_SERVICE_SERVICE_MODULE_H_

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/scm.h"
#include "service/host/control_queue.h"

namespace kavelo {
class ServiceParameters;
struct ParameterValues;
}  // namespace kavelo

namespace kavelo::service {

class EventLogChannel;
class PrintThread;
class IntakeListener;
class ControlSocket;
struct ClientLimits;
class StatusServer;

// The version the Version command prints.
constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 0;
constexpr int kVersionPatch = 0;

class ServiceModule {
 public:
  // Constructs the object members in this order: event-log channel,
  // parameters, print thread (wake-on-stop), listener, control socket,
  // status side.
  ServiceModule();
  // Destroys them in reverse order.
  ~ServiceModule();
  ServiceModule(const ServiceModule&) = delete;
  ServiceModule& operator=(const ServiceModule&) = delete;

  // Sets the identity texts and the status record: service type,
  // controls accepted; wait hint 30000, check point 1.  Main thread, before
  // the command line.
  void Init(const std::string& serviceName, const std::string& displayName,
            const std::string& description, uint32_t serviceType, uint32_t controlsAccepted);

  // Acts on the command line (the text after the program name) and runs
  // the service when it is empty or holds a Hint token.  Command output
  // goes to out, flushed after every text.  programTitle is the program's
  // file name for the usage text.  Returns the process exit code.
  int Run(const std::string& commandLine, const std::string& programTitle, std::FILE* out);

  // ---- Service entry points ----

  // Posts the control code to the control queue; nothing else.  Runs on the
  // dispatcher's thread.
  void Handler(uint32_t code);
  // The service entry, on the service thread.
  void ServiceMain(int argc, char** argv);
  // The start sequence; true when the service runs.  Service thread.
  bool OnStart(int argc, char** argv);
  // The stop sequence.  Service thread.  The service accepts only the stop
  // control, so no other control has a routine.
  void OnStop();

  // ---- Installation ----

  // True when the service database holds an installed service of the name.
  // Throws NullPointerException for a null name, IllegalArgumentException
  // for an empty one.
  bool IsInstalled(const char* name);
  // Creates the service (demand start, own process, no account) and its
  // event source.  False when it is installed already or a step failed.
  bool Install();
  // Deletes the service (without stopping it) and its event source.
  bool Uninstall();
  // Makes the service depend on "RPCSS" when such a service exists, and
  // writes the systemd unit where systemd runs the machine.
  bool RegisterServer();
  // Removes the systemd unit.  True.
  bool UnregisterServer();
  // Sets the dependencies to those of names that are installed services.
  bool SetDependencies(const std::vector<std::string>& names);

  // ---- Start-up validation ----

  // The start-up checks in order; the first that fails reports its message
  // and ends them: the account (to which a service started by root switches
  // for good), what the account must write, the instance lock (taken and
  // then held until Run returns), the printer, the print control program,
  // the spool directory.  On success values->printerName holds the printer
  // to use.  Service thread, before any other thread of the service runs.
  bool ValidateStartup(ParameterValues* values);
  // Reads who may print and how much (ListenAddress, AllowedClients,
  // SpoolReserveMB and the per-client bounds) into *limits and
  // *listenAddress.  An entry of AllowedClients, or a ListenAddress, that
  // is not a valid address is named in message 37 and the check fails: a
  // typo must not open or close the door silently.
  bool CheckClientLimits(const ParameterValues& values, ClientLimits* limits,
                         std::string* listenAddress);
  // The account the service database names for the service; empty when it
  // cannot be read.
  std::string ServiceAccountName(const char* name);

  // ---- Status ----

  void ReportStatus(uint32_t state, uint32_t checkPoint, uint32_t waitHint, uint32_t exitCode,
                    uint32_t specificCode);
  // Reports the pending state with the current check point and the wait
  // hint, then advances the check point.
  void ReportPending(uint32_t state);
  // Takes controls from the queue until the stop routine has run.
  void RunControlLoop();

  const std::string& serviceName() const { return serviceName_; }
  const std::string& displayName() const { return displayName_; }
  const std::string& description() const { return description_; }
  uint32_t waitHint() const { return waitHint_; }
  const platform::ServiceStatus& status() const { return status_; }

 private:
  bool CheckAccount();
  bool CheckAccountReach();
  bool TakeInstanceLock();
  bool CheckPrinter(ParameterValues* values);
  bool CheckPrinterApplication(const ParameterValues& values);
  bool CheckSpoolerDirectory(const ParameterValues& values);
  void StartStatus(const ParameterValues& values);

  std::string serviceName_;
  std::string displayName_;
  std::string description_;    // held, not registered
  int32_t loopFlag_ = 0;       // service thread only
  uint32_t checkPoint_ = 1;    // service thread only
  uint32_t waitHint_ = 30000;  // set on the main thread before the dispatcher runs
  ControlQueue controlQueue_;
  platform::ServiceStatusHandle statusHandle_ = 0;
  platform::ServiceStatus status_;  // service thread only
  std::unique_ptr<EventLogChannel> eventLog_;
  std::unique_ptr<ServiceParameters> parameters_;
  std::unique_ptr<PrintThread> printThread_;
  std::unique_ptr<IntakeListener> listener_;
  std::unique_ptr<ControlSocket> controlSocket_;
  // The read-only HTTP side (StatusPort), started after the listener and
  // stopped first.
  std::unique_ptr<StatusServer> statusServer_;
  // At a stop with DrainSeconds set: /health answers 503 for that long
  // before the listener stops.
  uint32_t drainSeconds_ = 0;  // service thread only
  std::atomic<bool> draining_{false};
  // Held from the start routine until Run returns: no second process runs
  // the service, and so its print queue, beside this one.
  platform::ScLock instanceLock_;
  // Set when the service ran and failed: its start routine failed or an
  // exception ended it.  Read by Run after the dispatcher has returned.
  bool serviceFailed_ = false;
  int argc_ = 0;  // the service entry's arguments, for the start routine
  char** argv_ = nullptr;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_SERVICE_MODULE_H_
