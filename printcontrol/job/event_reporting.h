// Event reporting of the print control: its event source "ostrevo", the
// source's registration, and one error event per reported failure.
#ifndef KAVELO_PRINTCONTROL_EVENT_REPORTING_H_
#define KAVELO_PRINTCONTROL_EVENT_REPORTING_H_

namespace kavelo::printcontrol {

// The print control's event source name.
constexpr const char kOstrevoEventSource[] = "ostrevo";
// Registry key of the event source below HKEY_LOCAL_MACHINE.
constexpr const char kOstrevoEventSourceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\ostrevo";
// An event text holds at most this many characters; longer ones are cut.
constexpr int kMaxEventText = 1023;

// Installs the print control's message table (1 "Ostrevo: %1", 2 "Second
// category event").  Call once at program start.
void InstallOstrevoMessageTable();

// Registers the event source: its key gets EventMessageFile (REG_EXPAND_SZ,
// the program's own full path) and TypesSupported (REG_DWORD 7).  Nothing
// happens when the program's path cannot be read.  On failure writes
// "fail to install ostrevo." to standard output.
void InstallEventSource();

// Deletes the event source's key.  On failure (also when it does not exist)
// writes "fail to uninstall ostrevo\n." to standard output.
void UninstallEventSource();

// Reports message as one error event with id 1 under sourceName; its text
// is "Ostrevo: MESSAGE", at most 1023 characters; the same text becomes the
// job's failure in the job history (job_note.h).  Nothing happens when the
// source name or the message is empty; failures of the event log are
// ignored, reporting never fails the job.
void ReportToEventLog(const char* sourceName, const char* message);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_EVENT_REPORTING_H_
