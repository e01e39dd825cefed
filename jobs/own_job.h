// For the programs a print control runs under a job number (itself and
// orlendi): the number the service gave the job (KAVELO_JOB_NUMBER), and
// the job's failure written into the service's history.  A history that
// cannot be written never fails the job: nothing is raised or reported.
#ifndef KAVELO_JOBS_OWN_JOB_H_
#define KAVELO_JOBS_OWN_JOB_H_

#include <cstdint>
#include <string>

namespace kavelo::jobs {

// The job number of this run; 0 when none (a program run by hand).
int64_t OwnJobNumber();
// The text of the event that reported the job's failure; the first one
// stays the job's failure, each is one of its events.
void RecordOwnJobFailure(const std::string& eventText);

}  // namespace kavelo::jobs

#endif  // KAVELO_JOBS_OWN_JOB_H_
