#include "printcontrol/job/report_name.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "printcontrol/job/text_field.h"

namespace kavelo::printcontrol {

namespace {

std::atomic<int> fallbackCounter{0};

}  // namespace

void MakeReportName(char* destination, size_t size) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  bool haveTime = now != static_cast<std::time_t>(-1) && localtime_r(&now, &local) != nullptr;
  FormatReportName(haveTime ? &local : nullptr, destination, size);
}

void FormatReportName(const std::tm* localTime, char* destination, size_t size) {
  if (destination == nullptr || size == 0) return;
  char name[64] = "";
  if (localTime != nullptr) {
    std::snprintf(name, sizeof(name), "%02d%02d%02d", localTime->tm_hour, localTime->tm_min,
                  localTime->tm_sec);
  }
  if (std::strlen(name) != 6) {
    // No usable local time: a number that differs between processes and
    // between calls of one process.  The generator is deliberately not
    // seeded, as the name only needs to be unlikely to repeat.
    long pid = static_cast<long>(getpid());
    if (pid < 0) pid = -pid;
    long value = static_cast<long>(std::rand() % 1000) + pid + fallbackCounter.fetch_add(1);
    std::snprintf(name, sizeof(name), "%ld", value);
  }
  CopyText(destination, size, name);
}

}  // namespace kavelo::printcontrol
