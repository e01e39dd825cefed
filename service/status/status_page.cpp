#include "service/status/status_page.h"

#include <cstdio>

#include "jobs/job_json.h"

namespace kavelo::service {

namespace {

// The page refreshes itself; it needs no script for anything.
constexpr int kRefreshSeconds = 10;
// The waiting jobs the page lists, the first in print order.
constexpr size_t kQueueRows = 200;

constexpr const char kStyle[] =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "h1{font-size:1.4em}h2{font-size:1.1em;margin-top:1.6em}"
    "table{border-collapse:collapse}th,td{border:1px solid #bbb;padding:.25em .6em;"
    "text-align:left;vertical-align:top}th{background:#eee}"
    ".ok{color:#060}.bad{color:#a00;font-weight:bold}.none{color:#777}"
    "td.text{white-space:pre-wrap;max-width:40em}";

std::string Head(const std::string& title, bool refresh) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width\">";
  if (refresh) {
    html += "<meta http-equiv=\"refresh\" content=\"" + std::to_string(kRefreshSeconds) + "\">";
  }
  return html + "<title>" + HtmlEscape(title) + "</title><style>" + kStyle + "</style></head><body>";
}

std::string Duration(int64_t ms) {
  int64_t s = ms < 0 ? 0 : ms / 1000;
  char text[64];
  if (s >= 86400) {
    std::snprintf(text, sizeof text, "%lldd %lldh %lldm", static_cast<long long>(s / 86400),
                  static_cast<long long>(s % 86400 / 3600), static_cast<long long>(s % 3600 / 60));
  } else if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lldh %lldm", static_cast<long long>(s / 3600),
                  static_cast<long long>(s % 3600 / 60));
  } else if (s >= 60) {
    std::snprintf(text, sizeof text, "%lldm %llds", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%llds", static_cast<long long>(s));
  }
  return text;
}

std::string Cell(const std::string& text) { return "<td>" + HtmlEscape(text) + "</td>"; }

std::string JobLink(int64_t number) {
  std::string n = std::to_string(number);
  return "<td><a href=\"/jobs/" + n + "\">" + n + "</a></td>";
}

std::string Pages(const jobs::JobRecord& job) {
  if (job.fromPage == 0 && job.toPage == 0) return "all";
  return std::to_string(job.fromPage) + "-" + (job.toPage == 0 ? "" : std::to_string(job.toPage));
}

std::string Client(const jobs::JobRecord& job) {
  if (job.clientAddress.empty()) return "";
  return job.clientAddress + ":" + std::to_string(job.clientPort);
}

std::string Title(const jobs::JobRecord& job) {
  if (!job.title.empty()) return job.title;
  return jobs::HasEnded(job.state) ? "(no title)" : "(no title yet)";
}

std::string JobTable(const std::vector<jobs::JobRecord>& list, int64_t nowMs, bool printing,
                     const char* empty, const char* id) {
  std::string html;
  if (list.empty()) return std::string("<p class=\"none\" id=\"") + id + "\">" + empty + "</p>";
  html += std::string("<table id=\"") + id + "\"><tr><th>Job</th><th>State</th><th>" +
          (printing ? "Printing for" : "Waiting for") +
          "</th><th>Title</th><th>Printer</th><th>Copies</th><th>Pages</th><th>Size</th>"
          "<th>Client</th></tr>";
  for (const jobs::JobRecord& job : list) {
    int64_t since = printing ? job.startedMs : job.receivedMs;
    html += "<tr class=\"job\">" + JobLink(job.number) + Cell(jobs::JobStateName(job.state)) +
            Cell(since == 0 ? "" : Duration(nowMs - since)) + "<td class=\"title\">" +
            HtmlEscape(Title(job)) + "</td>" + Cell(job.printer) + Cell(std::to_string(job.copies)) +
            Cell(Pages(job)) + Cell(std::to_string(job.xmlBytes + job.xslBytes) + " B") +
            Cell(Client(job)) + "</tr>";
  }
  return html + "</table>";
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string RenderStatusPage(const StatusPageData& data) {
  std::vector<jobs::JobRecord> printing;
  std::vector<jobs::JobRecord> waiting;
  for (const jobs::JobRecord& job : data.current) {
    (job.state == jobs::JobState::kPrinting ? printing : waiting).push_back(job);
  }
  std::string html = Head("Brelvane status", /*refresh=*/true);
  html += "<h1>Brelvane print service</h1><p>Version " + HtmlEscape(data.version) +
          " &middot; up " + Duration(data.nowMs - data.startedMs) + " &middot; health: " +
          (data.health == "ok" ? "<span class=\"ok\" id=\"health\">ok</span>"
                               : "<span class=\"bad\" id=\"health\">" + HtmlEscape(data.health) +
                                     "</span>") +
          " &middot; " + HtmlEscape(jobs::FormatUtcTime(data.nowMs)) + "</p>";
  if (!data.historyOpen) html += "<p class=\"bad\">The job history cannot be read.</p>";
  html += "<h2>Printing now</h2>" +
          JobTable(printing, data.nowMs, true, "Nothing is printing.", "printing");
  const size_t waitingCount = waiting.size();
  if (waiting.size() > kQueueRows) waiting.resize(kQueueRows);
  html += "<h2>Queue (" + std::to_string(waitingCount) + ")</h2>" +
          JobTable(waiting, data.nowMs, false, "No job is waiting.", "queue");
  if (waitingCount > kQueueRows) {
    html += "<p>and " + std::to_string(waitingCount - kQueueRows) +
            " more (<a href=\"/api/jobs\">/api/jobs</a> lists them all).</p>";
  }

  html += "<h2>Recent failures</h2>";
  if (data.failures.empty()) {
    html += "<p class=\"none\" id=\"failures\">No job failed in the last 24 hours.</p>";
  } else {
    html += "<table id=\"failures\"><tr><th>Job</th><th>Ended</th><th>Title</th><th>Printer</th>"
            "<th>Failure</th></tr>";
    for (const jobs::JobRecord& job : data.failures) {
      html += "<tr class=\"job\">" + JobLink(job.number) + Cell(jobs::FormatUtcTime(job.endedMs)) +
              "<td class=\"title\">" + HtmlEscape(Title(job)) + "</td>" + Cell(job.printer) +
              "<td class=\"text\">" + HtmlEscape(job.failure) + "</td></tr>";
    }
    html += "</table>";
  }

  html += "<h2>Recently ended</h2>";
  if (data.ended.empty()) {
    html += "<p class=\"none\" id=\"ended\">No job ended in the last 24 hours.</p>";
  } else {
    html += "<table id=\"ended\"><tr><th>Job</th><th>State</th><th>Ended</th><th>Title</th>"
            "<th>Printer</th><th>Client</th></tr>";
    for (const jobs::JobRecord& job : data.ended) {
      html += "<tr class=\"job\">" + JobLink(job.number) + Cell(jobs::JobStateName(job.state)) +
              Cell(jobs::FormatUtcTime(job.endedMs)) + "<td class=\"title\">" +
              HtmlEscape(Title(job)) + "</td>" + Cell(job.printer) + Cell(Client(job)) + "</tr>";
    }
    html += "</table>";
  }

  html += "<h2>Jobs per printer today (UTC)</h2>";
  if (data.today.empty()) {
    html += "<p class=\"none\" id=\"today\">No job ended today.</p>";
  } else {
    html += "<table id=\"today\"><tr><th>Printer</th><th>Printed</th><th>Failed</th>"
            "<th>Cancelled</th></tr>";
    for (const auto& [printer, day] : data.today) {
      html += "<tr>" + Cell(printer.empty() ? "(default)" : printer) +
              Cell(std::to_string(day.printed)) + Cell(std::to_string(day.failed)) +
              Cell(std::to_string(day.cancelled)) + "</tr>";
    }
    html += "</table>";
  }
  html += "<p class=\"none\">Also: <a href=\"/health\">/health</a>, <a href=\"/metrics\">"
          "/metrics</a>, <a href=\"/api/jobs\">/api/jobs</a>. This page refreshes every " +
          std::to_string(kRefreshSeconds) + " seconds.</p></body></html>\n";
  return html;
}

std::string RenderJobPage(const jobs::JobRecord& job, const std::vector<jobs::JobEvent>& events,
                          const std::string& version) {
  std::string n = std::to_string(job.number);
  std::string html = Head("Job " + n, /*refresh=*/!jobs::HasEnded(job.state));
  html += "<p><a href=\"/\">&larr; Status</a></p><h1>Job " + n + "</h1><table id=\"job\">";
  auto row = [&](const char* name, const std::string& value) {
    html += std::string("<tr><th>") + name + "</th><td class=\"text\" id=\"" + name + "\">" +
            HtmlEscape(value) + "</td></tr>";
  };
  auto seconds = [](double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", s);
    return std::string(text);
  };
  row("state", jobs::JobStateName(job.state));
  row("title", job.title);
  row("printer", job.printer);
  row("received", jobs::FormatUtcTime(job.receivedMs));
  row("started", jobs::FormatUtcTime(job.startedMs));
  row("ended", jobs::FormatUtcTime(job.endedMs));
  row("client", Client(job));
  row("copies", std::to_string(job.copies));
  row("pages", Pages(job));
  row("orientation", std::to_string(job.orientation));
  row("sizes", std::to_string(job.xmlBytes) + " B report, " + std::to_string(job.xslBytes) +
                   " B stylesheet");
  row("documents", std::to_string(job.documents));
  row("waiting", seconds(job.waitSeconds));
  row("transform", seconds(job.transformSeconds));
  row("render", seconds(job.renderSeconds));
  row("spool", seconds(job.spoolSeconds));
  row("exit", job.exitStatus < 0 ? "" : std::to_string(job.exitStatus));
  row("failure", job.failure);
  row("settings", job.settingsGroup);
  if (job.retryOf != 0) row("retry_of", std::to_string(job.retryOf));
  if (job.retriedAs != 0) row("retried_as", std::to_string(job.retriedAs));
  html += "</table><h2>Events</h2>";
  if (events.empty()) {
    html += "<p class=\"none\">No event.</p>";
  } else {
    html += "<table id=\"events\"><tr><th>Time</th><th>Level</th><th>Text</th></tr>";
    for (const jobs::JobEvent& event : events) {
      html += "<tr>" + Cell(jobs::FormatUtcTime(event.timeMs)) + Cell(event.level) +
              "<td class=\"text\">" + HtmlEscape(event.text) + "</td></tr>";
    }
    html += "</table>";
  }
  html += "<p class=\"none\">Brelvane " + HtmlEscape(version) + " &middot; <a href=\"/api/jobs/" +
          n + "\">JSON</a></p></body></html>\n";
  return html;
}

std::string RenderNotFoundPage(const std::string& what) {
  return Head("Not found", false) + "<p><a href=\"/\">&larr; Status</a></p><h1>Not found</h1><p>" +
         HtmlEscape(what) + "</p></body></html>\n";
}

}  // namespace kavelo::service
