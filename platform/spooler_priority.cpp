#include "platform/internal/spooler_priority.h"

#include <cstdlib>

namespace kavelo::platform {
namespace {

// Keeps the current priorities from the front and lowers the later jobs
// where the order needs it.
std::vector<int> ForwardPlan(const std::vector<QueuedJob>& wanted) {
  std::vector<int> plan(wanted.size());
  for (size_t i = 0; i < wanted.size(); ++i) {
    plan[i] = wanted[i].priority;
    if (i == 0 || PrintsBefore(plan[i - 1], wanted[i - 1].jobId, plan[i], wanted[i].jobId)) {
      continue;
    }
    plan[i] = wanted[i].jobId > wanted[i - 1].jobId ? plan[i - 1] : plan[i - 1] - 1;
  }
  return plan;
}

// Keeps the current priorities from the back and raises the earlier jobs
// where the order needs it.  With renumber, every priority is chosen anew
// from the lowest up, which needs the fewest distinct values.
std::vector<int> BackwardPlan(const std::vector<QueuedJob>& wanted, bool renumber) {
  std::vector<int> plan(wanted.size());
  for (size_t k = wanted.size(); k-- > 0;) {
    if (k + 1 == wanted.size()) {
      plan[k] = renumber ? kMinJobPriority : wanted[k].priority;
      continue;
    }
    plan[k] = wanted[k].priority;
    if (!renumber && PrintsBefore(plan[k], wanted[k].jobId, plan[k + 1], wanted[k + 1].jobId)) {
      continue;
    }
    plan[k] = wanted[k].jobId < wanted[k + 1].jobId ? plan[k + 1] : plan[k + 1] + 1;
  }
  return plan;
}

// Changes only the moved job: the priority nearest its current one that
// puts it between its wanted neighbours.  Empty when there is none.
std::vector<int> SingleChangePlan(const std::vector<QueuedJob>& wanted, size_t moved) {
  const QueuedJob& job = wanted[moved];
  int best = -1;
  for (int p = kMinJobPriority; p <= kMaxJobPriority; ++p) {
    if (moved > 0 &&
        !PrintsBefore(wanted[moved - 1].priority, wanted[moved - 1].jobId, p, job.jobId)) {
      continue;
    }
    if (moved + 1 < wanted.size() &&
        !PrintsBefore(p, job.jobId, wanted[moved + 1].priority, wanted[moved + 1].jobId)) {
      continue;
    }
    if (best < 0 || std::abs(p - job.priority) < std::abs(best - job.priority)) best = p;
  }
  if (best < 0) return {};
  std::vector<int> plan;
  for (const QueuedJob& queued : wanted) plan.push_back(queued.priority);
  plan[moved] = best;
  return plan;
}

// The number of changed jobs, or -1 when the plan is out of range, changes
// a fixed job or does not give the wanted order.
int Cost(const std::vector<QueuedJob>& wanted, const std::vector<int>& plan) {
  if (plan.size() != wanted.size()) return -1;
  int changes = 0;
  for (size_t i = 0; i < plan.size(); ++i) {
    if (plan[i] < kMinJobPriority || plan[i] > kMaxJobPriority) return -1;
    if (i > 0 && !PrintsBefore(plan[i - 1], wanted[i - 1].jobId, plan[i], wanted[i].jobId)) {
      return -1;
    }
    if (plan[i] != wanted[i].priority) {
      if (wanted[i].fixed) return -1;
      ++changes;
    }
  }
  return changes;
}

}  // namespace

bool PlanPriorities(const std::vector<QueuedJob>& wanted, size_t moved,
                    std::vector<int>* priorities) {
  if (moved >= wanted.size()) return false;
  const std::vector<int> candidates[] = {
      SingleChangePlan(wanted, moved),
      ForwardPlan(wanted),
      BackwardPlan(wanted, false),
      BackwardPlan(wanted, true),
  };
  int bestCost = -1;
  for (const std::vector<int>& plan : candidates) {
    int cost = Cost(wanted, plan);
    if (cost >= 0 && (bestCost < 0 || cost < bestCost)) {
      bestCost = cost;
      *priorities = plan;
    }
  }
  return bestCost >= 0;
}

}  // namespace kavelo::platform
