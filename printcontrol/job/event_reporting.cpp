#include "printcontrol/job/event_reporting.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/eventlog.h"
#include "printcontrol/job/job_note.h"
#include "platform/status.h"
#include "platform/sysinfo.h"

namespace kavelo::printcontrol {

namespace {

constexpr platform::MessageEntry kOstrevoMessages[] = {
    {1, "Ostrevo: %1\r\n"},
    {2, "Second category event\r\n"},
};

constexpr uint32_t kEventId = 1;

void Say(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

}  // namespace

void InstallOstrevoMessageTable() {
  platform::SetMessageTable(kOstrevoMessages,
                            sizeof(kOstrevoMessages) / sizeof(kOstrevoMessages[0]));
}

void InstallEventSource() {
  // The message file is the program itself: on this system its name keeps
  // its capital letter, so it is the running program's own path rather than
  // a name made from the source name.
  std::string programPath = platform::ProgramPath();
  if (programPath.empty()) return;
  // Any failure, of the key or of a value, fails the installation.
  if (!platform::AddEventSource(programPath, kOstrevoEventSource, platform::kEventTypesSupported)
           .ok()) {
    Say("fail to install ostrevo.");
  }
}

void UninstallEventSource() {
  if (platform::RemoveEventSource(kOstrevoEventSource) != platform::kErrorSuccess) {
    Say("fail to uninstall ostrevo\n.");
  }
}

void ReportToEventLog(const char* sourceName, const char* message) {
  if (sourceName == nullptr || sourceName[0] == '\0' || message == nullptr || message[0] == '\0') {
    return;
  }
  char text[kMaxEventText + 1];
  std::snprintf(text, sizeof(text), "%s: %s", "Ostrevo", message);
  // Every event of the print control reports a failure of its job.
  NoteFailure(text);
  std::unique_ptr<platform::EventSource> source = platform::RegisterEventSource("", sourceName);
  if (source == nullptr) return;
  platform::ReportEvent(source.get(), platform::EventType::kError, 0, kEventId, {text});
}

}  // namespace kavelo::printcontrol
