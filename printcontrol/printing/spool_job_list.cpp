#include "printcontrol/printing/spool_job_list.h"

#include <cstdio>

#include "platform/spooler.h"

namespace kavelo::printcontrol {

namespace {

void CopyText(char* dest, const std::string& src) {
  std::snprintf(dest, kSpoolTextSize, "%s", src.c_str());
}

}  // namespace

void CopySpoolJob(const platform::SpoolerJob& job, SpoolJobInfo* info) {
  CopyText(info->userName, job.userName);
  CopyText(info->machineName, job.machineName);
  CopyText(info->documentName, job.documentName);
  info->position = job.position;
  info->status = static_cast<int32_t>(job.status);
  info->jobId = job.jobId;
}

int SpoolJobList::Add(const SpoolJobInfo& info) {
  if (items_.size() == items_.capacity()) items_.reserve(items_.capacity() + kGrowStep);
  items_.push_back(info);
  return Count();
}

const SpoolJobInfo* SpoolJobList::Item(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return &items_[static_cast<size_t>(index)];
}

void SpoolJobList::Clear() {
  items_.clear();
  items_.shrink_to_fit();
}

}  // namespace kavelo::printcontrol
