// The one JSON form of jobs: what `kavelo-jobs --json` prints and what every
// other reader of the history hands out.  Field names are the history's
// (docs/jobs.md lists them).  The job command line and the print order stay
// inside the service.
#ifndef KAVELO_JOBS_JOB_JSON_H_
#define KAVELO_JOBS_JOB_JSON_H_

#include <string>
#include <vector>

#include <functional>

#include "jobs/job_history.h"
#include "jobs/job_record.h"

namespace kavelo::jobs {

// {"jobs": [JOB, ...]}, in the order given.
std::string JobListJson(const std::vector<JobRecord>& jobs);
// The same document a job at a time, for listings too long to hold: Begin,
// then Job for each (with its place), then End give JobListJson's text.
std::string JobListJsonBegin();
std::string JobListJsonItem(const JobRecord& job, bool first);
std::string JobListJsonEnd();
// {"job": JOB} with JOB's "events": [{"time", "level", "text"}, ...].
std::string JobDetailJson(const JobRecord& job, const std::vector<JobEvent>& events);

// The listing's JSON document straight from the history, handed to sink in
// pieces of about 64 KiB (what `kavelo-jobs --json` prints and
// /api/jobs serves).  False (lastError of the history) when it cannot be
// read; pieces already handed over are then no whole document.
bool WriteJobListJson(JobHistory& history, const ListingOptions& options,
                      const std::function<void(const std::string&)>& sink);

// A time as "2026-12-09T08:15:02.125Z"; empty for 0.
std::string FormatUtcTime(int64_t ms);

}  // namespace kavelo::jobs

#endif  // KAVELO_JOBS_JOB_JSON_H_
