// Brelvane, the print service: run by systemd (or from a terminal) with an
// empty command line it runs as the service "Brelvane" in the foreground;
// with a command it installs, removes or describes itself.
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <string>

#include "platform/sysinfo.h"
#include "protocol/arguments.h"
#include "service/host/service_messages.h"
#include "service/host/service_module.h"
#include "service/host/service_texts.h"

namespace {

// The program's one service module; it lives as long as the process.
kavelo::service::ServiceModule theModule;

// The program's file name as the usage text names it.
std::string ProgramTitle(const char* argv0) {
  std::string path = kavelo::platform::ProgramPath();
  if (path.empty() && argv0) path = argv0;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Every open connection holds a socket and two spool files: let the service
// use as many descriptors as the system allows it.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A client that goes away mid-send must not end the service.
  signal(SIGPIPE, SIG_IGN);
  RaiseDescriptorLimit();
  kavelo::service::InstallServiceMessageTable();
  theModule.Init(kavelo::service::kServiceNameText, kavelo::service::kDisplayNameText,
                 kavelo::service::kDescriptionText, kavelo::platform::kServiceWin32OwnProcess,
                 kavelo::platform::kServiceAcceptStop);
  return theModule.Run(kavelo::protocol::JoinEveryArgument(argc, argv), ProgramTitle(argv[0]), stdout);
}
