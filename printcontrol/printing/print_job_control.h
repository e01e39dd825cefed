// Print job control: what the print control does with the print spooler.
// Resolving the printer name of a job, testing whether its own jobs may be
// held on the printer, finding the spooler job of an HTML file or chunk
// document name, and, for held chunk printing, keeping its own jobs together,
// releasing and cancelling them.  None of it needs the administrator's
// right: what does (resuming a stopped printer, moving other users' jobs)
// is tried, and a refusal only leaves it out.
//
// Every operation works on a platform::Spooler that the caller keeps alive
// for the call and uses on the calling thread only.  The overloads without a
// spooler open the one chosen by KAVELO_SPOOLER for the call.
#ifndef KAVELO_PRINTCONTROL_PRINT_JOB_CONTROL_H_
#define KAVELO_PRINTCONTROL_PRINT_JOB_CONTROL_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/spooler.h"

namespace kavelo::printcontrol {

struct SpoolJobInfo;
class SpoolJobList;
class StringList;

// The printer name to use for a name given on a command line, written into
// result (resultSize bytes, always NUL-terminated when resultSize > 0):
// - the given name itself, letters unchanged, when a printer of that name
//   exists (compared without regard to case);
// - else the name of the first printer whose port name equals the given
//   name without regard to case (a device URI names its queue);
// - else empty, and the caller keeps the given name.
// A printer name that does not fit into result counts as not found: a cut
// name would name another printer or none.
void ResolvePrinterName(platform::Spooler& spooler, const char* givenName, char* result,
                        size_t resultSize);
void ResolvePrinterName(const char* givenName, char* result, size_t resultSize);

// 0 when the user may hold, release, cancel and raise the priority of its
// own jobs on the printer (PrinterAccess::kOwnJobs), else -1.
int CanHoldOwnJobs(platform::Spooler& spooler, const char* printerName);

// Replaces *jobs with the printer's active jobs in the spooler's order.
// 0, or -1 when the printer cannot be opened with the access or its jobs
// cannot be listed (*jobs is then empty).
int SnapshotJobs(platform::Spooler& spooler, const char* printerName, SpoolJobList* jobs,
                 platform::PrinterAccess access);

// True when the job was printed by the own user (names compared without
// regard to case) and its document name ends with the HTML file's name (the
// part of htmlPath after its last "/", compared without regard to case).
// A path without "/", a path that ends in "/", or a document name shorter
// than the file name does not match.
bool JobMatchesFile(const char* ownUserName, const SpoolJobInfo& job, const char* htmlPath);

// The id of the first job of the printer that matches the HTML file, or -1.
int FindJobOfFile(platform::Spooler& spooler, const char* printerName, const char* ownUserName,
                  const char* htmlPath);

// Runs the command on the job (the owner's right for its own job).  0 or -1.
int ControlJob(platform::Spooler& spooler, const char* printerName, int32_t jobId,
               platform::JobCommand command);

// Resumes a paused printer (the administrator's right).  0 or -1.
int ResumePrinter(platform::Spooler& spooler, const char* printerName);

// Gives the active jobs of the list (a "string2" list of decimal job ids,
// in chunk order, hence in id order) that are not printing one priority,
// the lowest that lets no waiting job of others print between them: above
// every waiting job whose id lies between theirs at their priority, and,
// once one of them has printed or is printing, above every waiting job.
// Nothing is raised while no such job waits; a raise also puts them ahead
// of jobs waiting since before them at the old priority.  The highest
// priority (100) is the limit.  Only the user's own jobs change.  0, or -1
// when the queue could not be read or a priority was refused.
int KeepHeldJobsTogether(platform::Spooler& spooler, const char* printerName,
                         const StringList& heldIds);

// Keeps the held jobs together (KeepHeldJobsTogether), then, while they
// still do not stand in consecutive places, tries up to 20 times, 100 ms
// apart, to move them behind the first (which moves other users' jobs: a
// refusal ends the attempts), and then releases every one of them that is
// still held whatever the attempts gave.  The text that ended the attempts
// early ("Can't get printer job position.", "Error:GetJob, errorcode:%d",
// "Error:SetJob, errorcode:N") goes to *errorText when it is given; it stays empty when
// the order test passed or the attempts ran out.  Nobody reports these texts.
// 0, or -1 when a job that is still active could not be released (it stays
// held).
int ReleaseHeldJobs(platform::Spooler& spooler, const char* printerName, const StringList& heldIds,
                    std::string* errorText = nullptr);

// The attempts and the pause between them.
constexpr int kReleaseAttempts = 20;
constexpr int kReleaseAttemptPauseMs = 100;

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_PRINT_JOB_CONTROL_H_
