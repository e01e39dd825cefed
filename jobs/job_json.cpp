#include "jobs/job_json.h"

#include <ctime>

#include <nlohmann/json.hpp>

namespace kavelo::jobs {

namespace {

using json = nlohmann::ordered_json;

json TimeOrNull(int64_t ms) { return ms == 0 ? json(nullptr) : json(FormatUtcTime(ms)); }
json NumberOrNull(int64_t n) { return n == 0 ? json(nullptr) : json(n); }

json JobObject(const JobRecord& job) {
  return json{
      {"number", job.number},
      {"state", JobStateName(job.state)},
      {"received", TimeOrNull(job.receivedMs)},
      {"started", TimeOrNull(job.startedMs)},
      {"ended", TimeOrNull(job.endedMs)},
      {"client_address", job.clientAddress},
      {"client_port", job.clientPort},
      {"title", job.title},
      {"printer", job.printer},
      {"copies", job.copies},
      {"from_page", job.fromPage},
      {"to_page", job.toPage},
      {"orientation", job.orientation},
      {"xml_bytes", job.xmlBytes},
      {"xsl_bytes", job.xslBytes},
      {"documents", job.documents},
      {"wait_seconds", job.waitSeconds},
      {"transform_seconds", job.transformSeconds},
      {"render_seconds", job.renderSeconds},
      {"spool_seconds", job.spoolSeconds},
      {"exit_status", job.exitStatus < 0 ? json(nullptr) : json(job.exitStatus)},
      {"failure", job.failure},
      {"settings_group", job.settingsGroup},
      {"retry_of", NumberOrNull(job.retryOf)},
      {"retried_as", NumberOrNull(job.retriedAs)},
      {"files_kept", job.filesKept},
  };
}

// Texts come from clients (titles) and may hold bytes that are not UTF-8:
// they are replaced, never a reason to fail the listing.
std::string Dump(const json& document) {
  return document.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string FormatUtcTime(int64_t ms) {
  if (ms == 0) return "";
  time_t seconds = static_cast<time_t>(ms / 1000);
  struct tm utc;
  gmtime_r(&seconds, &utc);
  char text[40];
  size_t n = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
  return text;
}

std::string JobListJsonBegin() { return "{\"jobs\":["; }

std::string JobListJsonItem(const JobRecord& job, bool first) {
  std::string text = JobObject(job).dump(-1, ' ', false, json::error_handler_t::replace);
  return first ? text : "," + text;
}

std::string JobListJsonEnd() { return "]}\n"; }

std::string JobListJson(const std::vector<JobRecord>& jobs) {
  std::string text = JobListJsonBegin();
  for (size_t i = 0; i < jobs.size(); ++i) text += JobListJsonItem(jobs[i], i == 0);
  return text + JobListJsonEnd();
}

bool WriteJobListJson(JobHistory& history, const ListingOptions& options,
                      const std::function<void(const std::string&)>& sink) {
  std::string text = JobListJsonBegin();
  bool first = true;
  bool ok = history.VisitListing(options, [&](const JobRecord& job) {
    text += JobListJsonItem(job, first);
    first = false;
    if (text.size() >= 65536) {
      sink(text);
      text.clear();
    }
  });
  if (ok) sink(text + JobListJsonEnd());
  return ok;
}

std::string JobDetailJson(const JobRecord& job, const std::vector<JobEvent>& events) {
  json object = JobObject(job);
  json list = json::array();
  for (const JobEvent& event : events) {
    list.push_back(
        json{{"time", FormatUtcTime(event.timeMs)}, {"level", event.level}, {"text", event.text}});
  }
  object["events"] = std::move(list);
  return Dump(json{{"job", std::move(object)}});
}

}  // namespace kavelo::jobs
