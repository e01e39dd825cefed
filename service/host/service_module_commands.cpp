// The command table of the service program: RegServer, UnregServer,
// Version, Hint, Help and "?".
#include <strings.h>

#include <string>

#include "platform/scm.h"
#include "service/host/command_line.h"
#include "service/host/service_module.h"

namespace kavelo::service {

namespace {

// Writes one text followed by a newline and flushes, so that the output of
// each command is out before the next one acts.
void Say(std::FILE* out, const std::string& text) {
  std::fprintf(out, "%s\n", text.c_str());
  std::fflush(out);
}

std::string Format(const char* format, const std::string& text, long number) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, text.c_str(), static_cast<int>(number));
  return buffer;
}

bool Is(const std::string& token, const char* command) {
  return strcasecmp(token.c_str(), command) == 0;
}

}  // namespace

int ServiceModule::Run(const std::string& commandLine, const std::string& programTitle,
                       std::FILE* out) {
  bool runService = commandLine.empty();
  bool failed = false;
  for (const std::string& token : SplitCommandTokens(commandLine)) {
    if (IsHintToken(token)) {
      ReadHintValue(token, &waitHint_);
      runService = true;
    }
    if (Is(token, "RegServer")) {
      platform::SetLastError(0);
      // A failed installation still lets the registrations run; the error
      // printed is that of the first failure.
      bool ok = IsInstalled(serviceName_.c_str()) || Install();
      long firstError = platform::LastError();
      if (!RegisterServer() && ok) {
        ok = false;
        firstError = platform::LastError();
      }
      if (ok) {
        Say(out, Format("%s registered\n", serviceName_, 0));
      } else {
        Say(out, Format("%s failed to register. Error %d\n", serviceName_, firstError));
        failed = true;
      }
    }
    if (Is(token, "UnregServer")) {
      platform::SetLastError(0);
      bool ok = UnregisterServer() && (!IsInstalled(serviceName_.c_str()) || Uninstall());
      if (ok) {
        Say(out, Format("%s unregistered\n", serviceName_, 0));
      } else {
        Say(out,
            Format("%s failed to unregister. Error %d\n", serviceName_, platform::LastError()));
        failed = true;
      }
    }
    if (Is(token, "Version")) {
      char version[512];
      std::snprintf(version, sizeof version, "%s Version %d.%d.%d", serviceName_.c_str(),
                    kVersionMajor, kVersionMinor, kVersionPatch);
      Say(out, version);
      Say(out, IsInstalled(serviceName_.c_str()) ? "This service is currently installed"
                                                 : "This service is currently not installed");
    }
    if (Is(token, "?") || Is(token, "help")) {
      Say(out, programTitle + "\t[RegServer]");
      Say(out, "\t\t[UnregServer]");
      Say(out, "\t\t[Version]");
      Say(out, "\t\t[Hint HintTime]");
      Say(out, "\t\t[Help]");
    }
  }
  if (runService) {
    platform::StartServiceCtrlDispatcher(
        serviceName_, [this](int argc, char** argv) { ServiceMain(argc, argv); });
    // The service has stopped and its threads have ended: another instance
    // may start now.
    platform::UnlockServiceDatabase(&instanceLock_);
    if (serviceFailed_) failed = true;
  }
  // A failed registration or a failed start is a failure for the caller as
  // well: an install script or systemd must be able to tell it from success.
  return failed ? 1 : 0;
}

}  // namespace kavelo::service
