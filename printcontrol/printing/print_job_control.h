// Print job control: what the print control does with the print spooler.
// Resolving the printer name of a job, testing whether the printer may be
// administered, finding the spooler job that orlendi made for an HTML file,
// and, for held chunk printing, pausing, resuming, cancelling and reordering
// jobs.
//
// Every operation works on a platform::Spooler that the caller keeps alive
// for the call and uses on the calling thread only.  The overloads without a
// spooler open the one chosen by KAVELO_SPOOLER for the call.
#ifndef KAVELO_PRINTCONTROL_PRINT_JOB_CONTROL_H_
#define KAVELO_PRINTCONTROL_PRINT_JOB_CONTROL_H_

#include <cstddef>
#include <cstdint>

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

// 0 when the printer opens with full access (the user may administer its
// queue), else -1.
int CanManagePrinter(platform::Spooler& spooler, const char* printerName);

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

// Runs the command on the job, with full access.  0 or -1.
int ControlJob(platform::Spooler& spooler, const char* printerName, int32_t jobId,
               platform::JobCommand command);

// Resumes a paused printer, with full access.  0 or -1.
int ResumePrinter(platform::Spooler& spooler, const char* printerName);

// Puts the held jobs (a "string2" list of decimal job ids, in chunk order) into consecutive queue
// positions behind the first of them, in up to 20 attempts 100 ms apart, and
// then resumes every one of them whatever the attempts gave.  The text that
// ended the attempts early ("Error:OpenPrinter, errorcode:%d", "Can't get
// printer job position.", "Error:GetJob, errorcode:%d", "Error:SetJob,
// errorcode:%d") goes to errorText when it is given; it stays empty when the
// order test passed or the attempts ran out.  Nobody reports these texts;
// they only end the attempts.
void ReleaseHeldJobs(platform::Spooler& spooler, const char* printerName, const StringList& heldIds,
                     char* errorText = nullptr, size_t errorSize = 0);

// The attempts and the pause between them.
constexpr int kReleaseAttempts = 20;
constexpr int kReleaseAttemptPauseMs = 100;

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_PRINT_JOB_CONTROL_H_
