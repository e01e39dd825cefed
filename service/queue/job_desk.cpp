#include "service/queue/job_desk.h"

#include <sys/stat.h>

#include <vector>

#include "platform/print_limits.h"
#include "protocol/job_command_line.h"
#include "service/host/service_messages.h"

namespace kavelo::service {

namespace {

// Retention and the kept files are looked at this often while the service
// runs.
constexpr int64_t kUpkeepIntervalMs = 10 * 60 * 1000;

int64_t FileSize(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
}

}  // namespace

void FillFromCommandLine(const std::string& commandLine, jobs::JobRecord* job) {
  protocol::FindPrinterNameText(commandLine, &job->printer);
  const char* text = commandLine.c_str();
  job->copies = protocol::FindKeyNumber(text, "copy");
  job->fromPage = protocol::FindKeyNumber(text, "fromPage");
  job->toPage = protocol::FindKeyNumber(text, "toPage");
  job->orientation = protocol::FindKeyNumber(text, "orien");
  std::string path;
  if (protocol::FindKeyValueText(commandLine, "xml", &path)) job->xmlBytes = FileSize(path);
  if (protocol::FindKeyValueText(commandLine, "xsl", &path)) job->xslBytes = FileSize(path);
}

void JobDesk::Open(const std::string& serviceName, const std::string& historyPath,
                   Reporter reporter) {
  reporter_ = std::move(reporter);
  // Places in the print order grow over restarts as the clock does.
  nextOrder_ = jobs::NowMs() * 1000;
  if (serviceName.empty()) {
    numbers_.Start("", 0);
    return;
  }
  settings_ = jobs::ReadHistorySettings(serviceName);
  if (!history_.Open(historyPath, jobs::JobHistory::Mode::kReadWrite)) {
    Report(kMsgHistoryWriteFailed, "cannot open the history: " + history_.lastError());
  }
  if (!numbers_.Start(serviceName, history_.MaxNumber())) {
    Report(kMsgHistoryWriteFailed, "cannot read the job number reservation");
  }
}

int64_t JobDesk::NewNumber() {
  bool reserveFailed = false;
  int64_t number = numbers_.Next(&reserveFailed);
  // Reported once a run: every job would report it again.
  if (reserveFailed && !reserveReported_.exchange(true)) {
    Report(kMsgHistoryWriteFailed,
           "cannot reserve job numbers in the registry; numbers may repeat after a crash");
  }
  return number;
}

void JobDesk::Report(uint32_t messageId, const std::string& text) {
  if (reporter_) reporter_(messageId, text);
}

bool JobDesk::Write(const char* what, int64_t number,
                    const std::function<bool(jobs::JobHistory&)>& write) {
  if (!history_.IsOpen()) return false;
  if (write(history_)) return true;
  Report(kMsgHistoryWriteFailed,
         std::string(what) + " of job " + std::to_string(number) + ": " + history_.lastError());
  return false;
}

bool JobDesk::Received(int64_t number, const std::string& commandLine, const JobOrigin& origin,
                       int64_t queueOrder, jobs::JobState state) {
  jobs::JobRecord job;
  job.number = number;
  job.state = state;
  job.receivedMs = jobs::NowMs();
  job.clientAddress = origin.clientAddress;
  job.clientPort = origin.clientPort;
  FillFromCommandLine(commandLine, &job);
  if (origin.xmlBytes != 0 || origin.xslBytes != 0) {
    job.xmlBytes = origin.xmlBytes;
    job.xslBytes = origin.xslBytes;
  }
  job.retryOf = origin.retryOf;
  job.commandLine = commandLine;
  job.queueOrder = queueOrder;
  return Write("the reception", number, [&](jobs::JobHistory& h) { return h.Add(job); });
}

void JobDesk::Event(int64_t number, const std::string& level, const std::string& text) {
  Write("an event", number,
        [&](jobs::JobHistory& h) { return h.AddEvent(number, jobs::NowMs(), level, text); });
}

void JobDesk::Upkeep(bool force) {
  if (!history_.IsOpen()) return;
  const int64_t now = jobs::NowMs();
  if (!force && now - lastUpkeepMs_.load() < kUpkeepIntervalMs) return;
  lastUpkeepMs_ = now;
  // The spooled files of failed jobs whose time is up go first, so their
  // rows may be pruned.
  std::vector<jobs::JobRecord> kept;
  const int64_t keepMs = int64_t{settings_.keepFailedHours} * 3600000;
  if (history_.ListKeptBefore(now - keepMs + (keepMs == 0 ? 1 : 0), &kept)) {
    for (const jobs::JobRecord& job : kept) {
      platform::RemoveJobFiles(job.commandLine);
      Write("the removal of kept files", job.number,
            [&](jobs::JobHistory& h) { return h.SetFilesKept(job.number, false); });
    }
  }
  if (!history_.Prune(now, static_cast<int32_t>(settings_.days), settings_.jobs)) {
    Report(kMsgHistoryWriteFailed, "cannot prune the history: " + history_.lastError());
  }
}

}  // namespace kavelo::service
