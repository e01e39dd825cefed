#include "service/status/service_counters.h"

#include <prometheus/counter.h>
#include <prometheus/registry.h>

namespace kavelo::service {

ServiceCounters::ServiceCounters() : registry_(std::make_shared<prometheus::Registry>()) {
  auto& received = prometheus::BuildCounter()
                       .Name("kavelo_jobs_received_total")
                       .Help("Jobs the intake received, by result")
                       .Register(*registry_);
  received_[static_cast<int>(IntakeResult::kQueued)] = &received.Add({{"result", "queued"}});
  received_[static_cast<int>(IntakeResult::kRefused)] = &received.Add({{"result", "refused"}});
  received_[static_cast<int>(IntakeResult::kFailed)] = &received.Add({{"result", "failed"}});
  intakeBytes_ = &prometheus::BuildCounter()
                      .Name("kavelo_intake_bytes_total")
                      .Help("Report and stylesheet bytes the intake wrote to the spool folder")
                      .Register(*registry_)
                      .Add({});
}

ServiceCounters::~ServiceCounters() = default;

void ServiceCounters::JobReceived(IntakeResult result) {
  received_[static_cast<int>(result)]->Increment();
}

void ServiceCounters::IntakeBytes(uint64_t bytes) {
  intakeBytes_->Increment(static_cast<double>(bytes));
}

ServiceCounters& Counters() {
  static ServiceCounters counters;
  return counters;
}

}  // namespace kavelo::service
