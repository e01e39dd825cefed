// What the print control can read of a job, checked before the service
// queues the job: a job that would be misread or cut is refused at the
// intake, and a spool directory whose paths could never be read is refused
// at start.
#ifndef KAVELO_SERVICE_JOB_LIMITS_H_
#define KAVELO_SERVICE_JOB_LIMITS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/parameter_values.h"
#include "protocol/job_command_line.h"
#include "service/queue/job_values.h"

namespace kavelo::service {

// The most copies a job may ask for (the usual spooler maximum).  Every
// copy of a split report is one run of the HTML printer per chunk, so a
// huge count would hold the print queue for years.
constexpr int32_t kMaxCopies = 9999;
// The print control holds its command line (its arguments joined with
// single blanks) in 1024 bytes and each path and value in 512 bytes.
constexpr size_t kControlCommandLineSize = protocol::kJobCommandLineSize;
constexpr size_t kControlValueSize = protocol::kJobValueSize;
// The print control writes files of its own beside the spooled report
// (HTML, chunk and stylesheet copies): names of up to this many characters.
constexpr size_t kControlFileNameRoom = 40;

// Why the print control would not read jobCommandLine (made by
// FormatJobCommandLine from job) as written, or the empty text when it
// reads every value back unchanged: the text it receives after the split
// into arguments fits its 1023 characters, the XML and XSL paths come back
// whole and exact, the printer name fits its 511 characters, and the
// numbers read back as written (a printer name holding "copy=" would
// otherwise give the copy count).  Also refuses a line longer than the
// persisted print queue lists.
std::string CommandLineFault(const std::string& jobCommandLine, const JobValues& job);

// Why the intake refuses the job, or the empty text: copies above
// kMaxCopies, or a CommandLineFault.
std::string JobRefusal(const JobValues& job);

// Why the spool directory of these parameters cannot hold jobs that print,
// or the empty text: the longest spool paths the listener makes there must
// leave room for the print control's own files within its 511-character
// paths, and a job with the settled printer and the widest numbers must
// pass CommandLineFault.
std::string SpoolDirectoryFault(const ParameterValues& values);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_JOB_LIMITS_H_
