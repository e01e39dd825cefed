// Snapshots of spooler jobs as the print control keeps them: fixed text
// fields, copied in bounded, so a record never points into the spooler's
// own data.
#ifndef KAVELO_PRINTCONTROL_SPOOL_JOB_LIST_H_
#define KAVELO_PRINTCONTROL_SPOOL_JOB_LIST_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kavelo::platform {
struct SpoolerJob;
}  // namespace kavelo::platform

namespace kavelo::printcontrol {

constexpr size_t kSpoolTextSize = 512;  // 511 characters and the NUL

// One spooler job at the moment it was listed.
struct SpoolJobInfo {
  char userName[kSpoolTextSize] = {};
  char machineName[kSpoolTextSize] = {};
  char documentName[kSpoolTextSize] = {};
  int32_t position = 0;
  int32_t status = 0;  // job status bits (platform::kJobStatus*)
  int32_t jobId = 0;
};

// Fills *info from a job as the spooler lists it; texts longer than 511
// characters are cut.
void CopySpoolJob(const platform::SpoolerJob& job, SpoolJobInfo* info);

// An ordered list of job snapshots, in the order the spooler listed them.
// Add copies the record.  The list grows in steps of 50 records.
class SpoolJobList {
 public:
  static constexpr int kGrowStep = 50;

  SpoolJobList() = default;
  SpoolJobList(const SpoolJobList&) = delete;
  SpoolJobList& operator=(const SpoolJobList&) = delete;

  // Appends a copy of the record; returns the new count.
  int Add(const SpoolJobInfo& info);
  // The record at index (0 .. Count() - 1), or null outside that range.
  const SpoolJobInfo* Item(int index) const;
  int Count() const { return static_cast<int>(items_.size()); }
  int Capacity() const { return static_cast<int>(items_.capacity()); }
  // Drops every record and releases the storage.
  void Clear();

 private:
  std::vector<SpoolJobInfo> items_;
};

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_SPOOL_JOB_LIST_H_
