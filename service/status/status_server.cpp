#include "service/status/status_server.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>
#include <nlohmann/json.hpp>
#include <prometheus/registry.h>
#include <utility>

#include "jobs/job_json.h"
#include "orlendi/render_worker.h"
#include "service/host/event_log_channel.h"
#include "service/host/service_messages.h"
#include "service/status/process_metrics.h"
#include "service/status/service_counters.h"
#include "service/status/status_page.h"

namespace kavelo::service {

namespace {

// A file can be made in the folder now: one nameless file where the file
// system has them, else a named one removed at once.  "" or the reason.
std::string SpoolWritableProblem(const std::string& folder) {
  int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    std::string probe = folder + "/.health-" + std::to_string(getpid());
    fd = open(probe.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) unlink(probe.c_str());
  }
  if (fd < 0) return std::string("not writable: ") + std::strerror(errno);
  close(fd);
  return "";
}

constexpr int64_t kDayMs = 24 * 3600 * 1000LL;
// The failures (of the last day) and the ended jobs the page shows: the
// newest this many.
constexpr size_t kPageJobs = 20;
// How much later than a newer job's end a job's end may be written and
// still be counted.
constexpr int64_t kLateEndMs = 60 * 1000;

void Answer(const HttpAnswer& answer, httplib::Response* response) {
  response->status = answer.status;
  response->set_content(answer.body, answer.contentType.c_str());
}

HttpAnswer Html(int status, std::string body) {
  return {status, "text/html; charset=utf-8", std::move(body)};
}

HttpAnswer JsonError(int status, const std::string& text) {
  return {status, "application/json", nlohmann::json{{"error", text}}.dump() + "\n"};
}

// A job number as a path gives it: digits only, no sign, no leading zero
// run longer than the number.
bool ParseJobNumber(const std::string& text, int64_t* number) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *number = std::stoll(text);
  return *number > 0;
}

int64_t QueryNumber(const httplib::Request& request, const char* name, int64_t fallback) {
  if (!request.has_param(name)) return fallback;
  int64_t value = 0;
  return ParseJobNumber(request.get_param_value(name), &value) ? value : fallback;
}

bool QueryFlag(const httplib::Request& request, const char* name) {
  if (!request.has_param(name)) return false;
  std::string value = request.get_param_value(name);
  return value.empty() || value == "1" || value == "true" || value == "yes";
}

}  // namespace

StatusServer::StatusServer() = default;

StatusServer::~StatusServer() { Stop(); }

bool StatusServer::Start(EventLogChannel* channel, const StatusSettings& settings,
                         StatusProbes probes, bool anyPort) {
  probes_ = std::move(probes);
  startedMs_ = jobs::NowMs();
  // The first look reads the last day: today's counts and failures.
  ended_ = EndedJobs();
  ended_.newestMs = startedMs_ - kDayMs + kLateEndMs;
  std::string error;
  std::string folder = orlendi::WorkerRuntimeFolder(&error);
  if (!folder.empty()) renderSocket_ = folder + "/" + orlendi::kWorkerSocketName;
  if (settings.port == 0 && !anyPort) return true;
  server_ = std::make_unique<BoundedHttpServer>();
  server_->Get("/health", [this](const httplib::Request&, httplib::Response& response) {
    Answer(Health(), &response);
  });
  server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    Answer(Metrics(), &response);
  });
  server_->Get("/", [this](const httplib::Request&, httplib::Response& response) {
    Answer(Page(), &response);
  });
  server_->Get(R"(/jobs/([^/]+))", [this](const httplib::Request& request,
                                          httplib::Response& response) {
    Answer(JobPage(request.matches[1]), &response);
  });
  server_->Get("/api/jobs", [this](const httplib::Request& request, httplib::Response& response) {
    int64_t limit = QueryNumber(request, "limit", static_cast<int64_t>(kDefaultListLimit));
    Answer(JobsJson(QueryFlag(request, "all"), QueryFlag(request, "failed"),
                    QueryNumber(request, "since", 0), static_cast<size_t>(limit)),
           &response);
  });
  server_->Get(R"(/api/jobs/([^/]+))", [this](const httplib::Request& request,
                                              httplib::Response& response) {
    Answer(JobJson(request.matches[1]), &response);
  });
  server_->set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.body.empty()) {
      Answer(Html(response.status, RenderNotFoundPage("No such page.")), &response);
    }
  });
  port_ = server_->Open(settings.address, static_cast<int>(settings.port));
  if (port_ == 0) {
    std::string text = "The status listener cannot listen on " + settings.address + " port " +
                       std::to_string(settings.port);
    if (channel != nullptr) {
      channel->Report(platform::EventType::kError, kMsgExceptionCaught, text.c_str());
    }
    server_.reset();
    return false;
  }
  server_->Start();
  return true;
}

void StatusServer::Stop() {
  if (server_ != nullptr) server_->Close();
  server_.reset();
  port_ = 0;
}

HttpAnswer StatusServer::Health() const {
  HttpAnswer answer{200, "application/json", ""};
  HealthSummary(&answer.status, &answer.body);
  return answer;
}

std::string StatusServer::HealthSummary(int* status, std::string* json) const {
  nlohmann::json checks = nlohmann::json::object();
  nlohmann::json failing = nlohmann::json::array();
  auto check = [&](const char* name, const std::string& problem) {
    checks[name] = problem.empty() ? "ok" : problem;
    if (!problem.empty()) failing.push_back(name);
  };
  check("intake", probes_.intakeListening && probes_.intakeListening() ? "" : "not listening");
  check("print_thread",
        probes_.printThreadAlive && probes_.printThreadAlive() ? "" : "not running");
  check("spool", SpoolWritableProblem(probes_.spoolDirectory));
  if (probes_.draining && probes_.draining()) check("service", "stopping");
  nlohmann::json body = {{"status", failing.empty() ? "ok" : "failing"}, {"checks", checks}};
  if (!failing.empty()) body["failing"] = failing;
  body["version"] = probes_.version;
  if (status != nullptr) *status = failing.empty() ? 200 : 503;
  if (json != nullptr) *json = body.dump() + "\n";
  std::string summary;
  for (const auto& name : failing) {
    std::string failed = name.get<std::string>();
    summary += (summary.empty() ? "" : ", ") + failed + " " + checks[failed].get<std::string>();
  }
  return failing.empty() ? "ok" : summary;
}

jobs::JobHistory* StatusServer::History() {
  if (probes_.historyPath.empty()) return nullptr;
  if (!history_.IsOpen() && !history_.Open(probes_.historyPath, jobs::JobHistory::Mode::kReadOnly)) {
    return nullptr;
  }
  return &history_;
}

void StatusServer::LookAtEndedJobs() {
  jobs::JobHistory* history = History();
  std::vector<jobs::JobRecord> ended;
  jobs::HistoryFilter filter;
  filter.sinceMs = ended_.newestMs - kLateEndMs;
  if (history == nullptr || !history->ListHistory(filter, &ended)) return;
  const int64_t now = jobs::NowMs();
  if (ended_.day != now / kDayMs) {
    ended_.day = now / kDayMs;
    ended_.today.clear();
  }
  // Oldest first, so that the newest end ends up in front.
  for (auto job = ended.rbegin(); job != ended.rend(); ++job) {
    if (!ended_.recent.emplace(job->number, job->endedMs).second) continue;
    ended_.newestMs = std::max(ended_.newestMs, job->endedMs);
    EndResult result = job->state == jobs::JobState::kPrinted  ? EndResult::kPrinted
                       : job->state == jobs::JobState::kFailed ? EndResult::kFailed
                                                               : EndResult::kCancelled;
    if (job->endedMs >= startedMs_) {
      StageSeconds stages;
      stages.wait = job->waitSeconds;
      stages.transform = job->transformSeconds;
      stages.render = job->renderSeconds;
      stages.spool = job->spoolSeconds;
      stages.total = static_cast<double>(job->endedMs - job->receivedMs) / 1000.0;
      Counters().JobEnded(result, job->startedMs != 0 ? &stages : nullptr);
    }
    if (job->endedMs / kDayMs == ended_.day) {
      PrinterDay& day = ended_.today[job->printer];
      ++(result == EndResult::kPrinted ? day.printed
         : result == EndResult::kFailed ? day.failed
                                        : day.cancelled);
    }
    if (result == EndResult::kFailed) ended_.failures.push_front(*job);
    ended_.ended.push_front(*job);
  }
  // A job whose end was written late may stand behind a newer one.
  for (std::deque<jobs::JobRecord>* list : {&ended_.failures, &ended_.ended}) {
    std::stable_sort(list->begin(), list->end(), [](const auto& a, const auto& b) {
      return a.endedMs > b.endedMs;
    });
    if (list->size() > kPageJobs) list->resize(kPageJobs);
  }
  for (auto it = ended_.recent.begin(); it != ended_.recent.end();) {
    it = it->second < ended_.newestMs - kLateEndMs ? ended_.recent.erase(it) : std::next(it);
  }
}

HttpAnswer StatusServer::Metrics() {
  MetricFamilies families;
  std::map<std::string, double> states = {{"queued", 0}, {"held", 0}, {"printing", 0}};
  double oldestQueuedSeconds = 0;
  {
    std::lock_guard<std::mutex> lock(historyMutex_);
    const int64_t now = jobs::NowMs();
    if (now - queueCountsMs_ >= probes_.historyReadIntervalMs || now < queueCountsMs_) {
      LookAtEndedJobs();
      queueCounts_ = QueueCounts();
      if (probes_.historyPath.empty() ||
          !queueCounter_.Count(probes_.historyPath, &queueCounts_)) {
        queueCounts_ = QueueCounts();
      }
      queueCountsMs_ = now;
    }
    for (const auto& [state, count] : queueCounts_.byState) {
      states[state] = static_cast<double>(count);
    }
    if (queueCounts_.oldestQueuedMs != 0) {
      oldestQueuedSeconds =
          std::max(0.0, static_cast<double>(now - queueCounts_.oldestQueuedMs) / 1000.0);
    }
  }
  families.Add(Counters().registry()->Collect());
  families.LabelledGauge("kavelo_queue_jobs", "Jobs in the job history's queue, by state",
                         "state", states);
  families.Gauge("kavelo_oldest_queued_job_age_seconds",
                 "Seconds the oldest queued job has waited (0: none waits)", oldestQueuedSeconds);
  families.Gauge("kavelo_intake_connections", "Intake connections open now",
                 probes_.openConnections ? static_cast<double>(probes_.openConnections()) : 0);
  families.Gauge("kavelo_print_queue_jobs", "Jobs the print thread holds, the printing ones too",
                 probes_.waitingJobs ? static_cast<double>(probes_.waitingJobs()) : 0);
  struct statvfs space {};
  if (statvfs(probes_.spoolDirectory.c_str(), &space) == 0) {
    families.Gauge("kavelo_spool_free_bytes", "Bytes free for the service in the spool folder",
                   static_cast<double>(space.f_bavail) * static_cast<double>(space.f_frsize));
  }
  families.Gauge("kavelo_render_workers", "Warm renderers running for the service's account",
                 static_cast<double>(CountListeningSockets(renderSocket_)));
  AddProcessMetrics(&families);
  return {200, "text/plain; version=0.0.4; charset=utf-8", families.Text()};
}

HttpAnswer StatusServer::Page() {
  StatusPageData data;
  data.version = probes_.version;
  data.nowMs = jobs::NowMs();
  data.startedMs = startedMs_;
  data.health = HealthSummary(nullptr, nullptr);
  std::lock_guard<std::mutex> lock(historyMutex_);
  jobs::JobHistory* history = History();
  if (history == nullptr) return Html(200, RenderStatusPage(data));
  data.historyOpen = history->ListCurrent(&data.current);
  LookAtEndedJobs();
  for (const jobs::JobRecord& job : ended_.failures) {
    if (job.endedMs >= data.nowMs - kDayMs) data.failures.push_back(job);
  }
  for (const jobs::JobRecord& job : ended_.ended) {
    if (job.endedMs >= data.nowMs - kDayMs) data.ended.push_back(job);
  }
  data.today = ended_.today;
  return Html(200, RenderStatusPage(data));
}

bool StatusServer::FindJob(const std::string& number, jobs::JobRecord* job,
                           std::vector<jobs::JobEvent>* events) {
  int64_t n = 0;
  jobs::JobHistory* history = History();
  return ParseJobNumber(number, &n) && history != nullptr && history->Find(n, job, events);
}

HttpAnswer StatusServer::JobPage(const std::string& number) {
  jobs::JobRecord job;
  std::vector<jobs::JobEvent> events;
  std::lock_guard<std::mutex> lock(historyMutex_);
  if (!FindJob(number, &job, &events)) {
    return Html(404, RenderNotFoundPage("No job " + number + "."));
  }
  return Html(200, RenderJobPage(job, events, probes_.version));
}

HttpAnswer StatusServer::JobsJson(bool all, bool failedOnly, int64_t sinceSeconds, size_t limit) {
  // Written as the jobs are read, as kavelo-jobs writes them; the ended jobs
  // past the limit are read but not kept.
  std::string text = jobs::JobListJsonBegin();
  bool first = true;
  size_t ended = 0;
  auto write = [&](const jobs::JobRecord& job) {
    if (jobs::HasEnded(job.state) && ++ended > limit) return;
    text += jobs::JobListJsonItem(job, first);
    first = false;
  };
  jobs::HistoryFilter filter;
  filter.failedOnly = failedOnly;
  if (sinceSeconds > 0) filter.sinceMs = jobs::NowMs() - sinceSeconds * 1000;
  std::lock_guard<std::mutex> lock(historyMutex_);
  jobs::JobHistory* history = History();
  if (history == nullptr || !history->VisitCurrent(write) ||
      (all && !history->VisitHistory(filter, write))) {
    return JsonError(503, "the job history cannot be read");
  }
  return {200, "application/json", text + jobs::JobListJsonEnd()};
}

HttpAnswer StatusServer::JobJson(const std::string& number) {
  jobs::JobRecord job;
  std::vector<jobs::JobEvent> events;
  std::lock_guard<std::mutex> lock(historyMutex_);
  if (!FindJob(number, &job, &events)) return JsonError(404, "no such job");
  return {200, "application/json", jobs::JobDetailJson(job, events)};
}

}  // namespace kavelo::service
