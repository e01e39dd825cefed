#include "printcontrol/job/ostrevo.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <sys/prctl.h>

#include "platform/standby_process.h"
#include "printcontrol/job/ascii_text.h"
#include "printcontrol/job/command_line.h"
#include "printcontrol/job/event_reporting.h"
#include "printcontrol/job/job_note.h"
#include "printcontrol/job/report_job.h"
#include "printcontrol/job/spool_files.h"

namespace kavelo::printcontrol {

namespace {

constexpr const char kUsage[] =
    "usage: Ostrevo \"PROGRAM\" \"PROGRAM\" "
    "xml=FILE;xsl=FILE;fromPage=N;toPage=N;printerName=NAME;copy=N;orien=N\n"
    "       Ostrevo /regserver | /unregserver\n"
    "Prints one report (started by the Brelvane print service) and deletes its\n"
    "XML and XSL files; failures go to the event log under the source \"ostrevo\".\n"
    "/regserver and /unregserver register and remove that event source.\n"
    "       Ostrevo /standby\n"
    "Waits for its job's arguments and environment from the print service on\n"
    "standard input (the service starts the next print control ahead of its job).\n";

// Started ahead of its job: the libraries are loaded by the time the
// service hands the job over.  An input that ends empty lets the program
// go without a job.
int RunStandby() {
  // While it waits, the process's name says so: a tool that looks for
  // running print controls (pgrep -x Ostrevo) passes it over.  Its command
  // line stays "Ostrevo /standby" also while it runs the job.
  ::prctl(PR_SET_NAME, "Ostrevo-standby");
  std::vector<std::string> args;
  const int received = platform::ReceiveStandbyRequest(&args);
  ::prctl(PR_SET_NAME, "Ostrevo");
  if (received == 0) return 0;
  if (received < 0 || args.size() < 2 ||
      EqualsIgnoreCase(args[1].c_str(), platform::kStandbySwitch)) {
    InstallOstrevoMessageTable();
    ReportToEventLog(kOstrevoEventSource, "Error:the print service's job request is not valid.");
    return 2;
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  return RunOstrevo(static_cast<int>(args.size()), argv.data());
}

}  // namespace

int RunOstrevo(int argc, const char* const* argv) {
  if (argc == 2 && EqualsIgnoreCase(argv[1], platform::kStandbySwitch)) return RunStandby();
  InstallOstrevoMessageTable();
  // The job object comes first and lives to the end of the run: its end
  // stops the XML libraries and removes the job's files on every path.
  auto job = std::make_unique<ReportJob>();
  bool librariesUp = job->StartXmlLibraries();
  if (argc < 2) return 0;

  const char* first = argv[1];
  if (EqualsIgnoreCase(first, "/regserver")) {
    InstallEventSource();
    return 0;
  }
  if (EqualsIgnoreCase(first, "/unregserver")) {
    UninstallEventSource();
    return 0;
  }
  if (argc == 2 && (std::string(first) == "--help" || std::string(first) == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }

  std::string commandLine = JoinArguments(argc, argv);
  if (commandLine.size() >= kCommandLineSize) {
    // The job cannot be held, but its spooled files must not stay: they are
    // named from the uncut text, never from a cut one that could name
    // other files.
    char message[ReportJob::kMessageSize];
    std::snprintf(message, sizeof(message), "Error:Command line too long (%zu characters).",
                  commandLine.size());
    ReportToEventLog(job->eventSource, message);
    RemoveSpoolFilesNamedIn(commandLine);
    return 0;
  }
  if (!librariesUp) {
    ReportToEventLog(job->eventSource, "Error:Can't initialize the XML libraries.");
    // Nothing can be printed, but the job's own files are still removed.
    KeyValue xml, xsl;
    job->TakeInputPaths(commandLine.c_str(), &xml, &xsl);
    return 0;
  }
  job->Run(commandLine.c_str());
  WriteJobNote(job->title);
  return 0;
}

}  // namespace kavelo::printcontrol
