#include "service/status/status_server.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <prometheus/registry.h>
#include <utility>

#include "orlendi/render_worker.h"
#include "service/host/event_log_channel.h"
#include "service/host/service_messages.h"
#include "service/status/process_metrics.h"
#include "service/status/service_counters.h"

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

}  // namespace

StatusServer::StatusServer() = default;

StatusServer::~StatusServer() { Stop(); }

bool StatusServer::Start(EventLogChannel* channel, const StatusSettings& settings,
                         StatusProbes probes, bool anyPort) {
  probes_ = std::move(probes);
  std::string error;
  std::string folder = orlendi::WorkerRuntimeFolder(&error);
  if (!folder.empty()) renderSocket_ = folder + "/" + orlendi::kWorkerSocketName;
  if (settings.port == 0 && !anyPort) return true;
  server_ = std::make_unique<BoundedHttpServer>();
  server_->Get("/health", [this](const httplib::Request&, httplib::Response& response) {
    HttpAnswer answer = Health();
    response.status = answer.status;
    response.set_content(answer.body, answer.contentType.c_str());
  });
  server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    HttpAnswer answer = Metrics();
    response.status = answer.status;
    response.set_content(answer.body, answer.contentType.c_str());
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
  nlohmann::json body = {{"status", failing.empty() ? "ok" : "failing"}, {"checks", checks}};
  if (!failing.empty()) body["failing"] = failing;
  body["version"] = probes_.version;
  return {failing.empty() ? 200 : 503, "application/json", body.dump() + "\n"};
}

HttpAnswer StatusServer::Metrics() const {
  MetricFamilies families;
  families.Add(Counters().registry()->Collect());
  families.Gauge("kavelo_intake_connections", "Intake connections open now",
                 probes_.openConnections ? static_cast<double>(probes_.openConnections()) : 0);
  families.Gauge("kavelo_queue_jobs", "Jobs in the print queue, the printing ones too",
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

}  // namespace kavelo::service
