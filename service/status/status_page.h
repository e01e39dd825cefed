// The status page and a job's page: HTML written on the server, with no
// script, no external asset and every text that came from a client (titles,
// printer names, addresses, failure texts quoting them) escaped.
#ifndef KAVELO_SERVICE_STATUS_PAGE_H_
#define KAVELO_SERVICE_STATUS_PAGE_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "jobs/job_record.h"

namespace kavelo::service {

// Ended jobs of one printer since midnight (UTC).
struct PrinterDay {
  int64_t printed = 0;
  int64_t failed = 0;
  int64_t cancelled = 0;
};

struct StatusPageData {
  std::string version;
  int64_t nowMs = 0;
  int64_t startedMs = 0;                 // when the service started
  std::string health;                    // "ok", or the failing checks
  bool historyOpen = false;
  std::vector<jobs::JobRecord> current;  // printing first, then the queue in print order
  std::vector<jobs::JobRecord> failures; // of the last day, newest first
  std::vector<jobs::JobRecord> ended;    // the newest ended jobs, newest first
  std::map<std::string, PrinterDay> today;
};

// &, <, >, " and ' as character references.
std::string HtmlEscape(const std::string& text);

std::string RenderStatusPage(const StatusPageData& data);
// The page of one job and its events.
std::string RenderJobPage(const jobs::JobRecord& job, const std::vector<jobs::JobEvent>& events,
                          const std::string& version);
std::string RenderNotFoundPage(const std::string& what);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_STATUS_PAGE_H_
