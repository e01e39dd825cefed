// The service's life: the service entry, the control loop, the status
// reports and the start and stop sequences.
#include "service/host/service_module.h"

#include <chrono>
#include <exception>
#include <thread>
#include <utility>

#include "common/exceptions.h"
#include "common/service_parameters.h"
#include "jobs/job_history.h"
#include "platform/eventlog.h"
#include "platform/registry.h"
#include "service/host/control_socket.h"
#include "service/host/event_log_channel.h"
#include "service/host/service_messages.h"
#include "service/intake/client_admission.h"
#include "service/intake/intake_listener.h"
#include "service/queue/print_thread.h"
#include "service/queue/thread_state.h"
#include "service/status/status_server.h"

namespace kavelo::service {

namespace {

// An exception's report text is cut to what a 256-byte buffer holds.
constexpr size_t kExceptionTextLimit = 255;

}  // namespace

ServiceModule::ServiceModule()
    : eventLog_(std::make_unique<EventLogChannel>()),
      parameters_(std::make_unique<ServiceParameters>()),
      printThread_(std::make_unique<PrintThread>()),
      listener_(std::make_unique<IntakeListener>()),
      controlSocket_(std::make_unique<ControlSocket>()),
      statusServer_(std::make_unique<StatusServer>()) {}

// The members go in reverse order of their construction: status side,
// control socket, listener, print thread, parameters, event-log channel.
ServiceModule::~ServiceModule() = default;

void ServiceModule::Init(const std::string& serviceName, const std::string& displayName,
                         const std::string& description, uint32_t serviceType,
                         uint32_t controlsAccepted) {
  serviceName_ = serviceName;
  displayName_ = displayName;
  description_ = description;
  status_ = platform::ServiceStatus();
  status_.serviceType = serviceType;
  status_.controlsAccepted = controlsAccepted;
  waitHint_ = 30000;
  checkPoint_ = 1;
}

void ServiceModule::Handler(uint32_t code) { controlQueue_.Post(code); }

void ServiceModule::ServiceMain(int argc, char** argv) {
  argc_ = argc;
  argv_ = argv;
  statusHandle_ =
      platform::RegisterServiceCtrlHandler(serviceName_, [this](uint32_t code) { Handler(code); });
  bool caught = false;
  try {
    RunControlLoop();
  } catch (const std::exception& e) {
    caught = true;
    std::string text = ExceptionMessage(e).substr(0, kExceptionTextLimit);
    eventLog_->Report(platform::EventType::kError, kMsgExceptionCaught, text.c_str());
  } catch (...) {
    caught = true;
    eventLog_->Report(platform::EventType::kError, kMsgExceptionCaught, "Unknown");
  }
  if (caught) {
    serviceFailed_ = true;
    // Whatever the start routine had started is ended before the service
    // reports itself stopped: the process exits after this.
    try {
      statusServer_->Stop();
      listener_->Stop();
      controlSocket_->Stop();
      printThread_->Stop();
    } catch (...) {
    }
  }
  ReportStatus(platform::kServiceStopped, 0, 0, 0, 0);
}

void ServiceModule::RunControlLoop() {
  if (statusHandle_ == 0 || !controlQueue_.Create()) {
    serviceFailed_ = true;
    return;
  }
  if (!OnStart(argc_, argv_)) {
    serviceFailed_ = true;
    controlQueue_.Close();
    return;
  }
  ReportStatus(platform::kServiceRunning, 0, 0, 0, 0);
  loopFlag_ = 1;
  while (loopFlag_ != 0) {
    uint32_t code = 0;
    if (!controlQueue_.Take(&code)) break;
    switch (code) {
      case platform::kServiceControlStop:
        if (status_.currentState != platform::kServiceStopPending) OnStop();
        break;
      case platform::kServiceControlInterrogate:
        ReportStatus(status_.currentState, 0, 0, 0, 0);
        break;
      default:
        break;  // the service accepts only the stop control
    }
    std::this_thread::yield();
  }
  controlQueue_.Close();
}

void ServiceModule::ReportStatus(uint32_t state, uint32_t checkPoint, uint32_t waitHint,
                                 uint32_t exitCode, uint32_t specificCode) {
  status_.currentState = state;
  status_.checkPoint = checkPoint;
  status_.waitHint = waitHint;
  status_.win32ExitCode = exitCode;
  status_.serviceSpecificExitCode = specificCode;
  platform::SetServiceStatus(statusHandle_, status_);
}

void ServiceModule::ReportPending(uint32_t state) {
  ReportStatus(state, checkPoint_, waitHint_, 0, 0);
  ++checkPoint_;
}

bool ServiceModule::OnStart(int argc, char** argv) {
  (void)argc;
  (void)argv;
  eventLog_->Register(serviceName_.c_str(), nullptr);
  checkPoint_ = 1;
  ReportPending(platform::kServiceStartPending);

  parameters_->Bind(serviceName_.c_str(), platform::Hive::kLocalMachine);
  parameters_->Load();
  ParameterValues values = parameters_->values();
  ClientLimits limits;
  std::string listenAddress;
  if (!ValidateStartup(&values) || !CheckClientLimits(values, &limits, &listenAddress)) {
    eventLog_->Report(platform::EventType::kError, kMsgServiceInitFailed);
    return false;
  }
  eventLog_->Report(platform::EventType::kInformation, kMsgServiceStarted);

  // What each client has queued is counted before the first of those jobs
  // prints.  The print thread runs before the listener accepts its first
  // connection, so that every accepted job finds a consumer.
  listener_->Initialize(eventLog_.get(), printThread_.get(), values, listenAddress, limits);
  std::vector<std::string> names, persisted;
  parameters_->ListPersistedJobs(&names, &persisted);
  listener_->admission().CountQueuedJobs(persisted);
  printThread_->BindLog(serviceName_.c_str());
  printThread_->set_default_printer(values.printerName);
  printThread_->StartPrinting();
  // The operators' actions; a service without it still prints.
  controlSocket_->Start(eventLog_.get(), printThread_.get(), jobs::DefaultControlSocketPath());
  listener_->Start(0);
  StartStatus(values);
  return true;
}

void ServiceModule::OnStop() {
  checkPoint_ = 1;
  ReportPending(platform::kServiceStopPending);
  loopFlag_ = 0;
  if (drainSeconds_ > 0 && statusServer_->port() != 0) {
    // Out of the load balancer's rotation before the door closes: /health
    // answers 503 while the intake still takes what is sent meanwhile, then
    // the exchanges begun are let finish within the same time.
    draining_ = true;
    const int drainMs = static_cast<int>(drainSeconds_) * 1000;
    std::this_thread::sleep_for(std::chrono::milliseconds(drainMs));
    listener_->WaitConnectionsIdle(drainMs);
  }
  statusServer_->Stop();
  listener_->Stop();
  controlSocket_->Stop();
  // Lets a running print control go on for at most the stop grace, then
  // ends it (PrintThread::kStopGraceMs).
  printThread_->Stop();
  eventLog_->Report(platform::EventType::kInformation, kMsgServiceStopped);
}

void ServiceModule::StartStatus(const ParameterValues& values) {
  StatusProbes probes;
  probes.intakeListening = [this] {
    return listener_->running() && listener_->WaitListening(0) > 0;
  };
  probes.printThreadAlive = [this] {
    return printThread_->running() && printThread_->state() == ThreadState::kRunning;
  };
  probes.openConnections = [this] { return listener_->activeConnections(); };
  probes.waitingJobs = [this] { return static_cast<int64_t>(printThread_->jobs().size()); };
  probes.spoolDirectory = values.spoolerDirectory;
  probes.historyPath = jobs::DefaultHistoryPath();
  probes.version = std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
                   std::to_string(kVersionPatch);
  probes.draining = [this] { return draining_.load(); };
  // A status side that cannot listen is reported; the service prints on.
  StatusSettings settings = ReadStatusSettings(serviceName_);
  drainSeconds_ = settings.drainSeconds;
  statusServer_->Start(eventLog_.get(), settings, std::move(probes));
}

}  // namespace kavelo::service
