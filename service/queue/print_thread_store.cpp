// The print thread's persisted queue: each operation works on a fresh
// ServiceParameters bound to the thread's service name below
// HKEY_LOCAL_MACHINE, so concurrent connection threads share nothing but
// the registry (every job is its own value).
#include "common/service_parameters.h"
#include "service/queue/print_thread.h"

namespace kavelo::service {

long PrintThread::PersistJob(const std::string& jobCommandLine) {
  ServiceParameters parameters;
  parameters.Bind(serviceName(), platform::Hive::kLocalMachine);
  return parameters.PersistJob(jobCommandLine);
}

bool PrintThread::RemovePersistedJob(const std::string& jobCommandLine) {
  ServiceParameters parameters;
  parameters.Bind(serviceName(), platform::Hive::kLocalMachine);
  return parameters.RemovePersistedJob(jobCommandLine) == 1;
}

void PrintThread::ListPersistedJobs(std::vector<std::string>* names,
                                    std::vector<std::string>* texts) {
  ServiceParameters parameters;
  parameters.Bind(serviceName(), platform::Hive::kLocalMachine);
  parameters.ListPersistedJobs(names, texts);
}

void PrintThread::RemoveUnlistableJobs(std::vector<std::string>* removed) {
  ServiceParameters parameters;
  parameters.Bind(serviceName(), platform::Hive::kLocalMachine);
  parameters.RemoveUnlistableJobs(removed);
}

}  // namespace kavelo::service
