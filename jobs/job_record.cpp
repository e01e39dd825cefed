#include "jobs/job_record.h"

#include <chrono>

namespace kavelo::jobs {

namespace {
constexpr const char* kStateNames[] = {"queued", "held", "printing", "printed", "failed",
                                       "cancelled"};
}  // namespace

const char* JobStateName(JobState state) { return kStateNames[static_cast<int>(state)]; }

bool ParseJobState(const std::string& text, JobState* state) {
  for (int i = 0; i < 6; ++i) {
    if (text == kStateNames[i]) {
      *state = static_cast<JobState>(i);
      return true;
    }
  }
  return false;
}

bool HasEnded(JobState state) {
  return state == JobState::kPrinted || state == JobState::kFailed ||
         state == JobState::kCancelled;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace kavelo::jobs
