// kavelo-jobs: lists the service's jobs from its history and asks the
// running service, over its control socket, to cancel, hold, release or
// retry one.  The program's entry is kavelo_jobs_main.cpp; everything is
// here so the tests run it in-process.
#ifndef KAVELO_TOOLS_JOBS_COMMAND_H_
#define KAVELO_TOOLS_JOBS_COMMAND_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "jobs/job_record.h"

namespace kavelo {

constexpr int kJobsExitOk = 0;
constexpr int kJobsExitNoJob = 1;  // no such job, or not allowed
constexpr int kJobsExitUsage = 2;
constexpr int kJobsExitUnreachable = 3;  // the service (or its history) cannot be reached

// Runs kavelo-jobs with args (without the program name); returns the exit
// status.  The history and the control socket are found in the registry
// folder (KAVELO_REGISTRY_DIR, else the default).
int RunJobsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// "90s", "15m", "2h", "7d" (a bare number is seconds) as milliseconds;
// false for anything else.
bool ParseDuration(const std::string& text, int64_t* ms);

// One listing line: number, state, age, printer, copies, pages, size,
// title, client.
std::string FormatJobLine(const jobs::JobRecord& job, int64_t nowMs);
// The header above the lines.
std::string JobLineHeader();

}  // namespace kavelo

#endif  // KAVELO_TOOLS_JOBS_COMMAND_H_
