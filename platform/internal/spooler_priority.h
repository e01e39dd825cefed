// Queue positions through job priorities.  A CUPS queue prints its active
// jobs by priority (higher first, 1 to 100) and then by id (lower first);
// moving a job to another place means choosing priorities that put it there.
#ifndef KAVELO_PLATFORM_INTERNAL_SPOOLER_PRIORITY_H_
#define KAVELO_PLATFORM_INTERNAL_SPOOLER_PRIORITY_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/spooler.h"

namespace kavelo::platform {

struct QueuedJob {
  int32_t jobId = 0;
  int priority = 50;
  bool fixed = false;  // its priority cannot be changed (a printing job)
};

// True when job a prints before job b.
inline bool PrintsBefore(int priorityA, int32_t idA, int priorityB, int32_t idB) {
  return priorityA > priorityB || (priorityA == priorityB && idA < idB);
}

// Given the jobs in the wanted print order, with the job that moves at
// index moved, gives each job a priority (*priorities, same order) so that
// the print order becomes the wanted one, changing as few jobs as it can
// and never a fixed one.  False when no such priorities exist.
bool PlanPriorities(const std::vector<QueuedJob>& wanted, size_t moved,
                    std::vector<int>* priorities);

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_INTERNAL_SPOOLER_PRIORITY_H_
