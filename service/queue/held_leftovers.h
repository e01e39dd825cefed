// The spooler jobs a print control leaves held when it ends without
// finishing (its time limit, a signal, a stop after its grace): the print
// thread cancels them, so that nothing of the job waits in a printer's
// queue for good, and a job queued again after a stop prints once.
#ifndef KAVELO_SERVICE_HELD_LEFTOVERS_H_
#define KAVELO_SERVICE_HELD_LEFTOVERS_H_

#include <string>

#include "platform/spooler.h"

namespace kavelo::service {

// Cancels the held jobs that the held-jobs file in workFolder names
// (protocol/held_jobs_file.h): each listed id that is still held, and each
// held job of ownUser whose document name is a listed HTML file's path (or
// its last 255 bytes, as CUPS keeps a long name).  Jobs no longer held (released, printing, printed) are left.
// Reads at most protocol::kHeldJobsFileLimit bytes of the file; stops at
// the first printer whose queue cannot be read and at the first request the
// scheduler does not answer in time.  Returns how many it
// cancelled.
int CancelHeldLeftovers(platform::Spooler& spooler, const std::string& workFolder,
                        const std::string& ownUser);

// The same for the job of the job command line (its work folder), on the
// spooler chosen by KAVELO_SPOOLER, as the calling user.
int CancelHeldLeftovers(const std::string& jobCommandLine);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_HELD_LEFTOVERS_H_
