// The dispatcher: the service entry on a service thread, SIGTERM and SIGINT
// as the stop control, and the status reports to systemd.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>

#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>

#include "platform/scm.h"

namespace kavelo::platform {

namespace {

// What the one dispatcher of the process knows of its service.
struct Dispatcher {
  std::mutex mutex;
  bool running = false;                // guarded by mutex
  std::string name;                    // guarded by mutex
  ServiceHandlerFunction handler;      // guarded by mutex
  bool pendingStop = false;            // guarded by mutex: a stop before registration
  ServiceStatusHandle handle = 0;      // guarded by mutex
  ServiceStatusHandle nextHandle = 1;  // guarded by mutex
};

Dispatcher& TheDispatcher() {
  static Dispatcher dispatcher;
  return dispatcher;
}

// Hands the stop control to the registered handler, or keeps it until one
// is registered.  Runs on the dispatcher's thread.
void DeliverStop() {
  Dispatcher& d = TheDispatcher();
  ServiceHandlerFunction handler;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (!d.handler) {
      d.pendingStop = true;
      return;
    }
    handler = d.handler;
  }
  handler(kServiceControlStop);
}

// Reads every queued signal of the signal descriptor; true when one came.
bool DrainSignals(int signalFd) {
  bool any = false;
  signalfd_siginfo info;
  while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) any = true;
  return any;
}

}  // namespace

long StartServiceCtrlDispatcher(const std::string& name, const ServiceMainFunction& serviceMain) {
  Dispatcher& d = TheDispatcher();
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.running) {
      SetLastError(kScmServiceAlreadyRunning);
      return kScmServiceAlreadyRunning;
    }
    d.running = true;
    d.name = name;
    d.handler = nullptr;
    d.pendingStop = false;
    d.handle = 0;
  }

  // Blocked before the service thread exists, so that every thread of the
  // service inherits the mask and the signals reach only the descriptor.
  sigset_t stopSignals, oldMask;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, &oldMask);
  int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
  int doneFd = eventfd(0, EFD_CLOEXEC);
  long result = kScmOk;
  if (signalFd < 0 || doneFd < 0) {
    result = kScmControllerConnect;
  } else {
    std::thread serviceThread([&name, &serviceMain, doneFd] {
      std::string argument = name;
      char* argv[] = {argument.data(), nullptr};
      try {
        serviceMain(1, argv);
      } catch (...) {
        // The service entry guards itself; nothing may end the process here.
      }
      uint64_t one = 1;
      while (write(doneFd, &one, sizeof one) < 0 && errno == EINTR) {
      }
    });
    for (;;) {
      pollfd fds[2] = {{signalFd, POLLIN, 0}, {doneFd, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;  // cannot happen with valid descriptors; the join below still waits
      }
      if ((fds[0].revents & POLLIN) && DrainSignals(signalFd)) DeliverStop();
      if (fds[1].revents & POLLIN) break;
    }
    serviceThread.join();
    // A stop signal that arrived after the service ended must not kill the
    // process once the mask is restored.
    DrainSignals(signalFd);
  }
  if (signalFd >= 0) close(signalFd);
  if (doneFd >= 0) close(doneFd);
  pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.running = false;
    d.handler = nullptr;
    d.pendingStop = false;
    d.handle = 0;
  }
  SetLastError(result);
  return result;
}

ServiceStatusHandle RegisterServiceCtrlHandler(const std::string& name,
                                               const ServiceHandlerFunction& handler) {
  Dispatcher& d = TheDispatcher();
  bool deliver = false;
  ServiceStatusHandle handle = 0;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (!d.running || !handler || strcasecmp(name.c_str(), d.name.c_str()) != 0) {
      SetLastError(kScmServiceDoesNotExist);
      return 0;
    }
    d.handler = handler;
    d.handle = d.nextHandle++;
    handle = d.handle;
    deliver = d.pendingStop;
    d.pendingStop = false;
  }
  if (deliver) handler(kServiceControlStop);
  SetLastError(kScmOk);
  return handle;
}

std::string NotifyText(const ServiceStatus& status) {
  std::string extend;
  if (status.waitHint > 0) {
    extend = "\nEXTEND_TIMEOUT_USEC=" + std::to_string(uint64_t{status.waitHint} * 1000);
  }
  switch (status.currentState) {
    case kServiceStartPending:
      return "STATUS=Starting" + extend;
    case kServiceRunning:
      return "READY=1";
    case kServiceStopPending:
      return "STOPPING=1" + extend;
    case kServiceStopped:
      return "STATUS=Stopped";
    default:
      return "";
  }
}

long SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
  Dispatcher& d = TheDispatcher();
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (handle == 0 || handle != d.handle) {
      SetLastError(kScmInvalidHandle);
      return kScmInvalidHandle;
    }
  }
  std::string text = NotifyText(status);
  // sd_notify does nothing (and returns 0) when NOTIFY_SOCKET is unset; a
  // report that cannot be sent is not an error of the service.
  if (!text.empty()) sd_notify(0, text.c_str());
  SetLastError(kScmOk);
  return kScmOk;
}

}  // namespace kavelo::platform
