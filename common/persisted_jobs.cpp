// The persisted print queue of ServiceParameters.
#include <string.h>
#include <strings.h>

#include "common/exceptions.h"
#include "common/registry_access.h"
#include "common/service_parameters.h"
#include "platform/sysinfo.h"

namespace kavelo {
namespace {

void CheckText(const char* text) {
  if (!text) throw NullPointerException();
  if (!*text) throw IllegalArgumentException();
}

}  // namespace

long ServiceParameters::PersistJob(const char* jobCommandLine) {
  CheckText(jobCommandLine);
  if (!rootKey_) return platform::kErrorInvalidHandle;
  RegistryAccess access(*rootKey_, ParametersKeyPath());
  std::lock_guard<std::mutex> guard(lock_);
  // A value the listing cannot read would never be printed nor removed.
  if (strlen(jobCommandLine) + 1 > RegistryAccess::kListBufferSize) return platform::kErrorMoreData;
  std::string name = platform::NewGuidText();
  if (name.empty()) return 1;
  return access.WriteString(kPrintQueueSubkey, name.c_str(), jobCommandLine);
}

int ServiceParameters::RemovePersistedJob(const char* jobCommandLine) {
  CheckText(jobCommandLine);
  if (!rootKey_) return 1;
  RegistryAccess access(*rootKey_, ParametersKeyPath());
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<std::string> names, texts;
  long status = access.ReadStringValuesStatus(&names, &texts, kPrintQueueSubkey, platform::REG_SZ);
  // A queue that could not be read may still hold the job: the caller says
  // so, since the job would print again at the next start.
  if (status == platform::kErrorFileNotFound) return 1;
  if (status != platform::kErrorSuccess) return 0;
  for (size_t i = 0; i < names.size(); ++i) {
    if (!names[i].empty() && strcasecmp(texts[i].c_str(), jobCommandLine) == 0) {
      return access.DeleteValue(kPrintQueueSubkey, names[i].c_str()) == platform::kErrorSuccess
                 ? 1
                 : 0;
    }
  }
  return 1;
}

int ServiceParameters::ListPersistedJobs(std::vector<std::string>* names,
                                         std::vector<std::string>* texts) {
  if (!names || !texts) throw NullPointerException();
  if (!rootKey_) return 1;
  RegistryAccess access(*rootKey_, ParametersKeyPath());
  std::lock_guard<std::mutex> guard(lock_);
  access.ReadStringValues(names, texts, kPrintQueueSubkey, platform::REG_SZ);
  return 1;
}

int ServiceParameters::RemoveUnlistableJobs(std::vector<std::string>* removed) {
  if (!removed) throw NullPointerException();
  if (!rootKey_) return 1;
  RegistryAccess access(*rootKey_, ParametersKeyPath());
  std::lock_guard<std::mutex> guard(lock_);
  platform::RegKey key;
  if (platform::RegOpenKey(*rootKey_, access.FullPath(kPrintQueueSubkey), platform::KEY_READ,
                           &key) != platform::kErrorSuccess) {
    return 1;
  }
  std::vector<platform::RegValue> values;
  if (platform::RegQueryValues(key, &values) != platform::kErrorSuccess) return 1;
  for (const platform::RegValue& value : values) {
    bool listable = value.name.size() < RegistryAccess::kListBufferSize &&
                    value.data.size() <= RegistryAccess::kListBufferSize;
    if (listable || value.type != platform::REG_SZ) continue;
    if (access.DeleteValue(kPrintQueueSubkey, value.name.c_str()) == platform::kErrorSuccess) {
      removed->push_back(value.name + " (" + std::to_string(value.data.size()) + " bytes)");
    }
  }
  return 1;
}

}  // namespace kavelo
