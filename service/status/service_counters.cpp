#include "service/status/service_counters.h"

#include <prometheus/counter.h>
#include <prometheus/histogram.h>
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
  auto& ended = prometheus::BuildCounter()
                    .Name("kavelo_jobs_ended_total")
                    .Help("Jobs that ended since the service started, by result")
                    .Register(*registry_);
  ended_[static_cast<int>(EndResult::kPrinted)] = &ended.Add({{"result", "printed"}});
  ended_[static_cast<int>(EndResult::kFailed)] = &ended.Add({{"result", "failed"}});
  ended_[static_cast<int>(EndResult::kCancelled)] = &ended.Add({{"result", "cancelled"}});
  auto& stages = prometheus::BuildHistogram()
                     .Name("kavelo_job_stage_seconds")
                     .Help("Seconds each started job spent per stage (total: received to ended)")
                     .Register(*registry_);
  const prometheus::Histogram::BucketBoundaries bounds = {0.01, 0.05, 0.1, 0.25, 0.5, 1,  2.5,
                                                          5,    10,   30,  60,   300, 1800};
  const char* names[] = {"wait", "transform", "render", "spool", "total"};
  for (int i = 0; i < 5; ++i) stages_[i] = &stages.Add({{"stage", names[i]}}, bounds);
}

void ServiceCounters::JobEnded(EndResult result, const StageSeconds* stages) {
  ended_[static_cast<int>(result)]->Increment();
  if (stages == nullptr) return;
  const double values[] = {stages->wait, stages->transform, stages->render, stages->spool,
                           stages->total};
  for (int i = 0; i < 5; ++i) stages_[i]->Observe(values[i]);
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
