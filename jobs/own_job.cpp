#include "jobs/own_job.h"

#include <cstdlib>

#include "jobs/job_history.h"
#include "jobs/job_settings.h"

namespace kavelo::jobs {

int64_t OwnJobNumber() {
  const char* text = std::getenv(kJobNumberVariable);
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  long long number = std::strtoll(text, &end, 10);
  return end != nullptr && *end == '\0' && number > 0 ? number : 0;
}

void RecordOwnJobFailure(const std::string& eventText) {
  const int64_t number = OwnJobNumber();
  if (number == 0) return;
  JobHistory history;
  if (history.Open(DefaultHistoryPath(), JobHistory::Mode::kReadWrite)) {
    history.RecordFailure(number, NowMs(), eventText);
  }
}

}  // namespace kavelo::jobs
