#include "jobs/job_settings.h"

#include <algorithm>
#include <vector>

#include "platform/registry.h"

namespace kavelo::jobs {

namespace {

constexpr const char kServicesPath[] = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr const char kReservedValue[] = "JobNumberReserved";

uint32_t DwordOr(const platform::RegKey& key, const char* name, uint32_t fallback) {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (platform::RegQueryValue(key, name, &type, &data) != platform::kErrorSuccess ||
      type != platform::REG_DWORD || data.size() != 4) {
    return fallback;
  }
  return platform::DwordFromBytes(data.data(), data.size());
}

}  // namespace

HistorySettings ReadHistorySettings(const std::string& serviceName) {
  HistorySettings settings;
  platform::RegKey key;
  if (serviceName.empty() ||
      platform::RegOpenKey(platform::Hive::kLocalMachine,
                           kServicesPath + serviceName + "\\Parameters", platform::KEY_READ,
                           &key) != platform::kErrorSuccess) {
    return settings;
  }
  settings.days = DwordOr(key, "HistoryDays", settings.days);
  settings.jobs = DwordOr(key, "HistoryJobs", settings.jobs);
  settings.keepFailedHours = DwordOr(key, "KeepFailedHours", settings.keepFailedHours);
  return settings;
}

bool JobNumbers::Start(const std::string& serviceName, int64_t floor) {
  std::lock_guard<std::mutex> lock(mutex_);
  keyPath_ = serviceName.empty() ? "" : kServicesPath + serviceName;
  int64_t reserved = 0;
  bool ok = true;
  if (!keyPath_.empty()) {
    platform::RegKey key;
    long status = platform::RegOpenKey(platform::Hive::kLocalMachine, keyPath_,
                                       platform::KEY_READ, &key);
    uint32_t type = 0;
    std::vector<uint8_t> data;
    if (status == platform::kErrorSuccess) {
      status = platform::RegQueryValue(key, kReservedValue, &type, &data);
    }
    if (status == platform::kErrorSuccess && type == platform::REG_QWORD && data.size() == 8) {
      for (int i = 7; i >= 0; --i) reserved = (reserved << 8) | data[static_cast<size_t>(i)];
    } else if (status != platform::kErrorFileNotFound) {
      ok = false;
    }
  }
  next_ = std::max(reserved, floor + 1);
  reservedEnd_ = next_;
  return ok;
}

int64_t JobNumbers::Next(bool* reserveFailed) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (reserveFailed != nullptr) *reserveFailed = false;
  if (next_ >= reservedEnd_ && !keyPath_.empty()) {
    // A short durable write once per block.
    int64_t end = next_ + kBlock;
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(static_cast<uint64_t>(end) >> (8 * i));
    platform::RegKey key;
    long status = platform::RegCreateKey(platform::Hive::kLocalMachine, keyPath_,
                                         platform::KEY_ALL_ACCESS, &key);
    if (status == platform::kErrorSuccess) {
      status = platform::RegSetValue(key, kReservedValue, platform::REG_QWORD, bytes, 8);
    }
    if (status == platform::kErrorSuccess) {
      reservedEnd_ = end;
    } else if (reserveFailed != nullptr) {
      *reserveFailed = true;
    }
  }
  return next_++;
}

}  // namespace kavelo::jobs
