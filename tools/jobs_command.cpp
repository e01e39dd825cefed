#include "tools/jobs_command.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "jobs/job_control.h"
#include "jobs/job_history.h"
#include "jobs/job_json.h"

namespace kavelo {

namespace {

const char kUsage[] =
    "usage: kavelo-jobs [--all [--since DURATION] [--failed]] [--json]\n"
    "       kavelo-jobs show N [--json]\n"
    "       kavelo-jobs cancel|hold|release|retry N\n";

const char kHelp[] =
    "Shows the Kavelo print service's jobs and steers them.\n"
    "\n"
    "  kavelo-jobs                the jobs printing now, then the queue in print order\n"
    "  kavelo-jobs --all          the same, then the ended jobs, newest first\n"
    "      --since DURATION       only ended jobs of the last DURATION (90s, 15m, 2h, 7d)\n"
    "      --failed               only failed ended jobs\n"
    "  kavelo-jobs show N         everything about job N, with the events it caused\n"
    "  kavelo-jobs cancel N       a waiting job leaves the queue for good; a printing\n"
    "                             one is ended and its files removed\n"
    "  kavelo-jobs hold N         a queued job waits in its place until released\n"
    "  kavelo-jobs release N      a held job prints again in its place\n"
    "  kavelo-jobs retry N        a failed job prints again under a new number\n"
    "  --json                     one JSON document (docs/jobs.md lists its fields)\n"
    "  --help                     this text\n"
    "\n"
    "Listings read the job history (readable by the service's group), also while\n"
    "the service is stopped; actions go to the running service over its control\n"
    "socket (root, the service's account or a member of its group).  Both are\n"
    "found in the registry folder (KAVELO_REGISTRY_DIR, else /var/lib/kavelo/registry).\n"
    "\n"
    "Exit status: 0 done, 1 no such job or not allowed, 2 usage error, 3 the\n"
    "service or its history cannot be reached.\n";

std::string Age(int64_t ms) {
  int64_t s = ms / 1000;
  if (s < 0) s = 0;
  if (s < 120) return std::to_string(s) + "s";
  if (s < 7200) return std::to_string(s / 60) + "m";
  if (s < 172800) return std::to_string(s / 3600) + "h";
  return std::to_string(s / 86400) + "d";
}

std::string Size(int64_t bytes) {
  char text[32];
  if (bytes < 10240) {
    std::snprintf(text, sizeof text, "%lldB", static_cast<long long>(bytes));
  } else if (bytes < 10LL << 20) {
    std::snprintf(text, sizeof text, "%lldK", static_cast<long long>(bytes >> 10));
  } else {
    std::snprintf(text, sizeof text, "%lldM", static_cast<long long>(bytes >> 20));
  }
  return text;
}

// A text from a client shown on one line of a terminal: control characters
// become "?".
std::string OneLine(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return shown;
}

bool ParseNumber(const std::string& text, int64_t* number) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *number = std::stoll(text);
  return *number > 0;
}

int Usage(std::ostream& err, const std::string& why) {
  err << "kavelo-jobs: " << why << "\n" << kUsage;
  return kJobsExitUsage;
}

bool OpenHistory(jobs::JobHistory* history, std::ostream& err) {
  const std::string path = jobs::DefaultHistoryPath();
  if (access(path.c_str(), F_OK) != 0) {
    err << "kavelo-jobs: no job history at " << path
        << " (has the service run with this registry folder?)\n";
    return false;
  }
  if (!history->Open(path, jobs::JobHistory::Mode::kReadOnly)) {
    err << "kavelo-jobs: " << history->lastError() << "\n";
    return false;
  }
  return true;
}

void ShowJob(const jobs::JobRecord& job, const std::vector<jobs::JobEvent>& events,
             std::ostream& out) {
  auto time = [](int64_t ms) { return ms == 0 ? std::string("-") : jobs::FormatUtcTime(ms); };
  out << "Job " << job.number << ": " << jobs::JobStateName(job.state) << "\n"
      << "  Title:          " << OneLine(job.title) << "\n"
      << "  Received:       " << time(job.receivedMs) << "\n"
      << "  Started:        " << time(job.startedMs) << "\n"
      << "  Ended:          " << time(job.endedMs) << "\n"
      << "  Client:         "
      << (job.clientAddress.empty() ? "-" : job.clientAddress + ":" + std::to_string(job.clientPort))
      << "\n"
      << "  Printer:        " << OneLine(job.printer) << "\n"
      << "  Settings group: " << (job.settingsGroup.empty() ? "(defaults)" : job.settingsGroup)
      << "\n"
      << "  Copies:         " << job.copies << "\n"
      << "  Pages:          " << job.fromPage << "-" << job.toPage << "\n"
      << "  Orientation:    " << job.orientation << "\n"
      << "  XML, XSL:       " << job.xmlBytes << " and " << job.xslBytes << " bytes\n"
      << "  Documents:      " << job.documents << "\n";
  char seconds[160];
  std::snprintf(seconds, sizeof seconds,
                "  Seconds:        waiting %.3f, transforming %.3f, rendering %.3f, spooling %.3f\n",
                job.waitSeconds, job.transformSeconds, job.renderSeconds, job.spoolSeconds);
  out << seconds;
  out << "  Exit status:    " << (job.exitStatus < 0 ? std::string("-") : std::to_string(job.exitStatus))
      << "\n";
  if (!job.failure.empty()) out << "  Failure:        " << OneLine(job.failure) << "\n";
  if (job.retryOf != 0) out << "  Retry of:       job " << job.retryOf << "\n";
  if (job.retriedAs != 0) out << "  Retried as:     job " << job.retriedAs << "\n";
  if (job.filesKept) out << "  Files:          kept for a retry\n";
  out << "  Events:\n";
  for (const jobs::JobEvent& event : events) {
    out << "    " << jobs::FormatUtcTime(event.timeMs) << " " << event.level << ": "
        << OneLine(event.text) << "\n";
  }
}

}  // namespace

bool ParseDuration(const std::string& text, int64_t* ms) {
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  // Up to nine digits and at most one unit letter after them.
  if (digits == 0 || digits > 9 || text.size() > digits + 1) return false;
  int64_t unit = 1000;
  if (text.size() == digits + 1) {
    switch (text[digits]) {
      case 's': unit = 1000; break;
      case 'm': unit = 60000; break;
      case 'h': unit = 3600000; break;
      case 'd': unit = 86400000; break;
      default: return false;
    }
  }
  *ms = std::stoll(text.substr(0, digits)) * unit;
  return true;
}

std::string JobLineHeader() {
  char line[200];
  std::snprintf(line, sizeof line, "%8s %-9s %5s %-16s %6s %-9s %6s  %-24s %s\n", "JOB", "STATE",
                "AGE", "PRINTER", "COPIES", "PAGES", "SIZE", "TITLE", "CLIENT");
  return line;
}

std::string FormatJobLine(const jobs::JobRecord& job, int64_t nowMs) {
  std::string pages = job.fromPage == 0 && job.toPage == 0
                          ? "all"
                          : std::to_string(job.fromPage) + "-" + std::to_string(job.toPage);
  std::string client =
      job.clientAddress.empty() ? "-" : job.clientAddress + ":" + std::to_string(job.clientPort);
  std::string title = job.title.empty() ? "-" : OneLine(job.title);
  char line[1400];
  std::snprintf(line, sizeof line, "%8lld %-9s %5s %-16s %6d %-9s %6s  %-24s %s\n",
                static_cast<long long>(job.number), jobs::JobStateName(job.state),
                Age(nowMs - job.receivedMs).c_str(), OneLine(job.printer).substr(0, 200).c_str(),
                job.copies, pages.c_str(), Size(job.xmlBytes + job.xslBytes).c_str(),
                title.substr(0, 400).c_str(), client.c_str());
  return line;
}

int RunJobsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool json = false;
  jobs::ListingOptions listing;
  bool filtered = false;
  std::vector<std::string> words;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      out << kUsage << "\n" << kHelp;
      return kJobsExitOk;
    } else if (arg == "--all") {
      listing.all = true;
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--failed") {
      listing.filter.failedOnly = true;
      filtered = true;
    } else if (arg == "--since") {
      int64_t ms = 0;
      if (i + 1 >= args.size() || !ParseDuration(args[i + 1], &ms)) {
        return Usage(err, "--since needs a duration such as 90s, 15m, 2h or 7d");
      }
      listing.filter.sinceMs = jobs::NowMs() - ms;
      filtered = true;
      ++i;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage(err, "unknown option " + arg);
    } else {
      words.push_back(arg);
    }
  }
  if (filtered && !listing.all) return Usage(err, "--since and --failed go with --all");

  if (words.empty()) {
    jobs::JobHistory history;
    if (!OpenHistory(&history, err)) return kJobsExitUnreachable;
    // Each job goes out as it is read, in pieces of about 64 KiB.
    bool ok;
    if (json) {
      ok = jobs::WriteJobListJson(history, listing, [&](const std::string& text) { out << text; });
    } else {
      const int64_t now = jobs::NowMs();
      std::string text = JobLineHeader();
      ok = history.VisitListing(listing, [&](const jobs::JobRecord& job) {
        text += FormatJobLine(job, now);
        if (text.size() >= 65536) {
          out << text;
          text.clear();
        }
      });
      out << text;
    }
    if (!ok) {
      err << "kavelo-jobs: " << history.lastError() << "\n";
      return kJobsExitUnreachable;
    }
    return kJobsExitOk;
  }

  int64_t number = 0;
  if (words.size() != 2 || !ParseNumber(words[1], &number)) {
    return Usage(err, words.size() == 2 ? "not a job number: " + words[1]
                                        : "expected a command and one job number");
  }
  if (listing.all || filtered) return Usage(err, "--all, --since and --failed go with a listing");
  if (words[0] == "show") {
    jobs::JobHistory history;
    if (!OpenHistory(&history, err)) return kJobsExitUnreachable;
    jobs::JobRecord job;
    std::vector<jobs::JobEvent> events;
    if (!history.Find(number, &job, &events)) {
      err << "kavelo-jobs: no such job: " << number << "\n";
      return kJobsExitNoJob;
    }
    if (json) {
      out << jobs::JobDetailJson(job, events);
    } else {
      ShowJob(job, events, out);
    }
    return kJobsExitOk;
  }
  if (!jobs::IsControlAction(words[0])) return Usage(err, "unknown command " + words[0]);
  if (json) return Usage(err, "--json goes with a listing or show");
  std::string text;
  switch (jobs::SendControlRequest(jobs::DefaultControlSocketPath(), words[0], number, &text)) {
    case jobs::ControlOutcome::kDone:
      out << text << "\n";
      return kJobsExitOk;
    case jobs::ControlOutcome::kRefused:
      err << "kavelo-jobs: " << text << "\n";
      return kJobsExitNoJob;
    case jobs::ControlOutcome::kUnreachable:
      break;
  }
  err << "kavelo-jobs: " << text << "\n";
  return kJobsExitUnreachable;
}

}  // namespace kavelo
