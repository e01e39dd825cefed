// A small in-memory spooler for the print job control's tests.  Several
// FakeSpooler objects may share one FakeSpoolerState (as separate spooler
// connections share one scheduler), so a watcher thread can use its own.
#ifndef KAVELO_PRINTCONTROL_TEST_FAKE_SPOOLER_H_
#define KAVELO_PRINTCONTROL_TEST_FAKE_SPOOLER_H_

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/spooler.h"

namespace kavelo::testsupport {

struct FakeJob {
  int32_t id = 0;
  std::string user;
  std::string document;
  uint32_t status = 0;
  int priority = 50;
};

struct FakeSpoolerState {
  std::mutex mu;
  std::vector<platform::PrinterEntry> printers;
  // Active jobs of each printer, in print order (position = index + 1).
  std::map<std::string, std::vector<FakeJob>> queues;
  bool fullAccess = true;  // false: resuming the printer and moving jobs are refused
  int listPrintersStatus = platform::kSpoolerOk;
  int listJobsStatus = platform::kSpoolerOk;
  std::map<int32_t, int> getJobStatus;  // job id -> forced GetJob failure
  // Runs (under mu) before each GetJob; a non-zero result is returned.
  std::function<int(int32_t jobId)> getJobHook;
  int setPositionStatus = platform::kSpoolerOk;
  int setPriorityStatus = platform::kSpoolerOk;  // answer of every SetJobPriority
  int resumeJobStatus = platform::kSpoolerOk;    // answer of every job release
  bool ignorePositions = false;  // SetJobPosition answers OK but moves nothing
  // Runs (under mu) before each ListJobs answers: lets a test move time on.
  std::function<void(FakeSpoolerState&)> beforeListJobs;
  int listJobsCalls = 0;
  std::vector<std::string>
      calls;  // "pause 3", "resume 3", "cancel 3", "position 3 8", "resume-printer"
  std::map<std::string, platform::PageGeometry> geometry;

  void AddPrinter(const std::string& name, const std::string& port) {
    printers.push_back({name, port, "fake"});
    queues[name];
  }
  // Positions of the given jobs (0 when absent).
  std::vector<int32_t> Positions(const std::string& printer, const std::vector<int32_t>& ids) {
    std::vector<int32_t> result;
    const std::vector<FakeJob>& queue = queues[printer];
    for (int32_t id : ids) {
      int32_t position = 0;
      for (size_t i = 0; i < queue.size(); ++i) {
        if (queue[i].id == id) position = static_cast<int32_t>(i + 1);
      }
      result.push_back(position);
    }
    return result;
  }
};

class FakeSpooler : public platform::Spooler {
 public:
  explicit FakeSpooler(std::shared_ptr<FakeSpoolerState> state) : state_(std::move(state)) {}

  int DefaultPrinter(std::string* name) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    if (state_->printers.empty()) return platform::kSpoolerInvalidPrinterName;
    *name = state_->printers.front().printerName;
    return platform::kSpoolerOk;
  }
  int ListPrinters(std::vector<platform::PrinterEntry>* printers) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    if (state_->listPrintersStatus != platform::kSpoolerOk) return state_->listPrintersStatus;
    *printers = state_->printers;
    return platform::kSpoolerOk;
  }
  int OpenPrinter(const std::string& printer, platform::PrinterAccess access) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    if (state_->queues.count(printer) == 0) return platform::kSpoolerInvalidPrinterName;
    if (access == platform::PrinterAccess::kFull && !state_->fullAccess) {
      return platform::kSpoolerAccessDenied;
    }
    return platform::kSpoolerOk;
  }
  int JobCount(const std::string& printer, int* count) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    auto it = state_->queues.find(printer);
    if (it == state_->queues.end()) return platform::kSpoolerInvalidPrinterName;
    *count = static_cast<int>(it->second.size());
    return platform::kSpoolerOk;
  }
  int ListJobs(const std::string& printer, std::vector<platform::SpoolerJob>* jobs) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    ++state_->listJobsCalls;
    if (state_->beforeListJobs) state_->beforeListJobs(*state_);
    if (state_->listJobsStatus != platform::kSpoolerOk) return state_->listJobsStatus;
    auto it = state_->queues.find(printer);
    if (it == state_->queues.end()) return platform::kSpoolerInvalidPrinterName;
    jobs->clear();
    for (size_t i = 0; i < it->second.size(); ++i) jobs->push_back(ToJob(it->second[i], i));
    std::sort(jobs->begin(), jobs->end(),
              [](const platform::SpoolerJob& a, const platform::SpoolerJob& b) {
                return a.jobId < b.jobId;
              });
    return platform::kSpoolerOk;
  }
  int GetJob(const std::string& printer, int32_t jobId, platform::SpoolerJob* job) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    auto forced = state_->getJobStatus.find(jobId);
    if (forced != state_->getJobStatus.end()) return forced->second;
    if (state_->getJobHook) {
      int status = state_->getJobHook(jobId);
      if (status != platform::kSpoolerOk) return status;
    }
    std::vector<FakeJob>& queue = state_->queues[printer];
    for (size_t i = 0; i < queue.size(); ++i) {
      if (queue[i].id == jobId) {
        *job = ToJob(queue[i], i);
        return platform::kSpoolerOk;
      }
    }
    return platform::kSpoolerInvalidJob;
  }
  int ControlJob(const std::string& printer, int32_t jobId, platform::JobCommand command) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    static const char* const kNames[] = {"", "pause", "resume", "cancel"};
    state_->calls.push_back(std::string(kNames[static_cast<int>(command)]) + " " +
                            std::to_string(jobId));
    std::vector<FakeJob>& queue = state_->queues[printer];
    if (command == platform::JobCommand::kResume && state_->resumeJobStatus != platform::kSpoolerOk) {
      return state_->resumeJobStatus;
    }
    for (size_t i = 0; i < queue.size(); ++i) {
      if (queue[i].id != jobId) continue;
      if (command == platform::JobCommand::kPause) queue[i].status |= platform::kJobStatusPaused;
      if (command == platform::JobCommand::kResume) queue[i].status &= ~platform::kJobStatusPaused;
      if (command == platform::JobCommand::kCancel) queue.erase(queue.begin() + i);
      return platform::kSpoolerOk;
    }
    return platform::kSpoolerInvalidJob;
  }
  int SetJobPosition(const std::string& printer, int32_t jobId, int32_t position) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->calls.push_back("position " + std::to_string(jobId) + " " + std::to_string(position));
    if (state_->setPositionStatus != platform::kSpoolerOk) return state_->setPositionStatus;
    if (!state_->fullAccess) return platform::kSpoolerAccessDenied;
    if (state_->ignorePositions) return platform::kSpoolerOk;
    std::vector<FakeJob>& queue = state_->queues[printer];
    for (size_t i = 0; i < queue.size(); ++i) {
      if (queue[i].id != jobId) continue;
      FakeJob job = queue[i];
      queue.erase(queue.begin() + i);
      size_t place = std::min(static_cast<size_t>(std::max(position, 1) - 1), queue.size());
      queue.insert(queue.begin() + place, job);
      return platform::kSpoolerOk;
    }
    return platform::kSpoolerInvalidJob;
  }
  // Reorders the queue as CUPS does: by priority, then by id.
  int SetJobPriority(const std::string& printer, int32_t jobId, int priority) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->calls.push_back("priority " + std::to_string(jobId) + " " + std::to_string(priority));
    if (state_->setPriorityStatus != platform::kSpoolerOk) return state_->setPriorityStatus;
    std::vector<FakeJob>& queue = state_->queues[printer];
    auto found = std::find_if(queue.begin(), queue.end(),
                              [jobId](const FakeJob& job) { return job.id == jobId; });
    if (found == queue.end()) return platform::kSpoolerInvalidJob;
    found->priority = priority;
    std::stable_sort(queue.begin(), queue.end(), [](const FakeJob& a, const FakeJob& b) {
      return a.priority > b.priority || (a.priority == b.priority && a.id < b.id);
    });
    return platform::kSpoolerOk;
  }
  int ResumePrinter(const std::string& printer) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->calls.push_back("resume-printer");
    if (!state_->queues.count(printer)) return platform::kSpoolerInvalidPrinterName;
    return state_->fullAccess ? platform::kSpoolerOk : platform::kSpoolerAccessDenied;
  }
  int GetPageGeometry(const std::string& printer, platform::PageGeometry* geometry) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    auto it = state_->geometry.find(printer);
    if (it == state_->geometry.end()) return platform::kSpoolerNotSupported;
    *geometry = it->second;
    return platform::kSpoolerOk;
  }
  int SubmitDocument(const std::string&, const std::string&, const platform::SubmitOptions&,
                     int32_t*) override {
    return platform::kSpoolerNotSupported;
  }

 private:
  static platform::SpoolerJob ToJob(const FakeJob& fake, size_t index) {
    platform::SpoolerJob job;
    job.jobId = fake.id;
    job.userName = fake.user;
    job.machineName = "localhost";
    job.documentName = fake.document;
    job.position = static_cast<int32_t>(index + 1);
    job.status = fake.status;
    job.priority = fake.priority;
    return job;
  }

  std::shared_ptr<FakeSpoolerState> state_;
};

}  // namespace kavelo::testsupport

#endif  // KAVELO_PRINTCONTROL_TEST_FAKE_SPOOLER_H_
