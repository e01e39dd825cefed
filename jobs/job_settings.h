// The history's settings and the job number counter, in the service's keys
// below HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\<service>.
#ifndef KAVELO_JOBS_JOB_SETTINGS_H_
#define KAVELO_JOBS_JOB_SETTINGS_H_

#include <cstdint>
#include <mutex>
#include <string>

namespace kavelo::jobs {

// REG_DWORD values of the Parameters key; a missing value gives the default.
struct HistorySettings {
  static constexpr uint32_t kDefaultDays = 30;         // "HistoryDays"
  static constexpr uint32_t kDefaultJobs = 100000;     // "HistoryJobs"
  static constexpr uint32_t kDefaultKeepFailedHours = 24;  // "KeepFailedHours", 0: never
  uint32_t days = kDefaultDays;
  uint32_t jobs = kDefaultJobs;
  uint32_t keepFailedHours = kDefaultKeepFailedHours;
};
HistorySettings ReadHistorySettings(const std::string& serviceName);

// The environment variables by which the service tells a print control its
// job number and whether it keeps a failed job's spooled files.
constexpr const char kJobNumberVariable[] = "KAVELO_JOB_NUMBER";
constexpr const char kKeepFailedVariable[] = "KAVELO_KEEP_FAILED";

// Job numbers, unique over the service's whole life: numbers are reserved
// in blocks, the block's end written (REG_QWORD "JobNumberReserved" in the
// service's key) before its first number is given, so no number is given
// twice after a restart or a crash (a crash leaves a gap).  Thread safe.
class JobNumbers {
 public:
  static constexpr int64_t kBlock = 256;

  // Reads the reservation; the first number is above it and above floor
  // (the highest number the history holds).  False when the reservation
  // cannot be read (a missing one is 0).
  bool Start(const std::string& serviceName, int64_t floor);
  // The next number.  *reserveFailed is set when the reservation could not
  // be written: the number is still unique in this run.
  int64_t Next(bool* reserveFailed = nullptr);

 private:
  std::mutex mutex_;
  std::string keyPath_;     // empty: nothing persisted (a service without name)
  int64_t next_ = 1;        // guarded by mutex_
  int64_t reservedEnd_ = 0; // guarded by mutex_: numbers below it are reserved
};

}  // namespace kavelo::jobs

#endif  // KAVELO_JOBS_JOB_SETTINGS_H_
