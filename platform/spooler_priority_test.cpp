// Choosing job priorities that give a wanted print order.
#include "platform/internal/spooler_priority.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kavelo::platform {
namespace {

struct Case {
  const char* name;
  std::vector<QueuedJob> queue;  // current print order
  size_t from;                   // index of the job that moves
  size_t to;                     // its wanted index
  bool possible;
  int maxChanges;
};

// The print order that the priorities give, as job ids.
std::vector<int32_t> OrderOf(const std::vector<QueuedJob>& jobs, const std::vector<int>& prio) {
  std::vector<size_t> index(jobs.size());
  for (size_t i = 0; i < index.size(); ++i) index[i] = i;
  std::sort(index.begin(), index.end(), [&](size_t a, size_t b) {
    return PrintsBefore(prio[a], jobs[a].jobId, prio[b], jobs[b].jobId);
  });
  std::vector<int32_t> ids;
  for (size_t i : index) ids.push_back(jobs[i].jobId);
  return ids;
}

std::vector<QueuedJob> Plain(int count, int priority = 50) {
  std::vector<QueuedJob> jobs;
  for (int i = 1; i <= count; ++i) jobs.push_back({100 + i, priority, false});
  return jobs;
}

TEST(SpoolerPriorityTest, PlansGiveTheWantedOrder) {
  std::vector<QueuedJob> mixed = {{7, 90, false}, {3, 60, false}, {9, 60, false},
                                  {1, 50, false}, {2, 50, false}, {5, 10, false}};
  std::vector<QueuedJob> printingFirst = Plain(4);
  printingFirst[0].fixed = true;
  std::vector<QueuedJob> allTop = Plain(3, kMaxJobPriority);
  std::vector<QueuedJob> allBottom = Plain(3, kMinJobPriority);
  // Moving job 800 behind 1000, 999, ..., 901 asks for 101 jobs whose ids
  // fall in print order: 101 distinct priorities, one more than there are.
  std::vector<QueuedJob> tooMany = {{800, 80, false}};
  for (int id = 1000; id > 900; --id) tooMany.push_back({id, 50, false});
  std::vector<QueuedJob> fixedAround = {{1, 50, true}, {2, 50, false}, {3, 50, true}};

  const Case cases[] = {
      // The held jobs at 7, 9 and 12 of twelve: 9 moves to 8, then 12 to 9.
      {"9 to 8", Plain(12), 8, 7, true, 4},
      {"12 to 9", Plain(12), 11, 8, true, 4},
      {"last to first", Plain(5), 4, 0, true, 1},
      {"first to last", Plain(5), 0, 4, true, 1},
      {"between priorities", mixed, 5, 1, true, 1},
      {"into a run of equals", mixed, 0, 3, true, 2},
      {"before a printing job", printingFirst, 3, 0, true, 1},
      {"right after a printing job", printingFirst, 3, 1, true, 3},
      {"at the top already", allTop, 2, 0, true, 2},
      {"at the bottom already", allBottom, 0, 2, true, 2},
      {"more than 100 levels", tooMany, 0, 100, false, 0},
      {"fixed on both sides", fixedAround, 1, 1, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<QueuedJob> wanted = c.queue;
    QueuedJob moving = wanted[c.from];
    wanted.erase(wanted.begin() + static_cast<long>(c.from));
    wanted.insert(wanted.begin() + static_cast<long>(c.to), moving);
    std::vector<int> priorities;
    ASSERT_EQ(PlanPriorities(wanted, c.to, &priorities), c.possible);
    if (!c.possible) continue;
    std::vector<int32_t> expected;
    for (const QueuedJob& job : wanted) expected.push_back(job.jobId);
    EXPECT_EQ(OrderOf(wanted, priorities), expected);
    int changes = 0;
    for (size_t i = 0; i < wanted.size(); ++i) {
      EXPECT_GE(priorities[i], kMinJobPriority);
      EXPECT_LE(priorities[i], kMaxJobPriority);
      if (priorities[i] != wanted[i].priority) {
        EXPECT_FALSE(wanted[i].fixed) << "job " << wanted[i].jobId;
        ++changes;
      }
    }
    EXPECT_LE(changes, c.maxChanges);
  }
}

}  // namespace
}  // namespace kavelo::platform
