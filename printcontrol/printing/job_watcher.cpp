#include "printcontrol/printing/job_watcher.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "platform/spooler.h"
#include "printcontrol/printing/print_job_control.h"

namespace kavelo::printcontrol {

namespace {

WatcherValues g_watcherValues;

}  // namespace

void SetWatcherValues(int copies, const char* htmlPath, const char* printerName) {
  g_watcherValues.copies = copies;
  std::snprintf(g_watcherValues.htmlPath, kSpoolTextSize, "%s", htmlPath ? htmlPath : "");
  std::snprintf(g_watcherValues.printerName, kSpoolTextSize, "%s", printerName ? printerName : "");
}

const WatcherValues& GetWatcherValues() { return g_watcherValues; }

void StopFlag::Request() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    requested_ = true;
  }
  cv_.notify_all();
}

bool StopFlag::Requested() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requested_;
}

bool StopFlag::WaitFor(int ms) {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return requested_; });
}

void JobWatcher(platform::Spooler& spooler, const WatcherValues& values, const char* ownUserName,
                StopFlag* stop) {
  const size_t copies = static_cast<size_t>(std::max(values.copies, 1));
  std::vector<int32_t> seen;  // ids of matching jobs, in the order first seen
  SpoolJobList jobs;
  while (!stop->Requested()) {
    // A failed look tells nothing about the jobs: look again after a pause
    // rather than take the file's jobs for done.
    if (SnapshotJobs(spooler, values.printerName, &jobs, platform::PrinterAccess::kUse) == 0) {
      for (int i = 0; i < jobs.Count(); ++i) {
        const SpoolJobInfo& job = *jobs.Item(i);
        if (JobMatchesFile(ownUserName, job, values.htmlPath) &&
            std::find(seen.begin(), seen.end(), job.jobId) == seen.end()) {
          seen.push_back(job.jobId);
        }
      }
      if (seen.size() >= copies) {
        const SpoolJobInfo* newest = nullptr;
        for (int i = 0; i < jobs.Count(); ++i) {
          if (jobs.Item(i)->jobId == seen.back()) newest = jobs.Item(i);
        }
        const uint32_t active = platform::kJobStatusSpooling | platform::kJobStatusPrinting;
        if (newest == nullptr || (static_cast<uint32_t>(newest->status) & active) == 0) return;
        // Still spooling or printing: look again after the same pause, so
        // that a long print does not keep the spooler busy answering.
      }
    }
    if (stop->WaitFor(kWatcherPollMs)) return;
  }
}

struct WatcherThread::Shared {
  WatcherValues values;
  std::string ownUserName;
  StopFlag stop;
  mutable std::mutex mu;
  mutable std::condition_variable cv;
  bool ended = false;  // guarded by mu
};

WatcherThread::WatcherThread() = default;

WatcherThread::~WatcherThread() { StopWatcherThread(this); }

int WatcherThread::Start(SpoolerFactory factory, const char* ownUserName) {
  if (thread_.joinable()) return -1;
  auto shared = std::make_shared<Shared>();
  shared->values = g_watcherValues;
  shared->ownUserName = ownUserName ? ownUserName : "";
  try {
    // The thread holds its own reference to everything it reads, so it may
    // outlive this object if it is ever left to end by itself.
    thread_ = std::thread([shared, factory = std::move(factory)]() {
      std::unique_ptr<platform::Spooler> spooler = factory ? factory() : nullptr;
      if (spooler != nullptr) {
        JobWatcher(*spooler, shared->values, shared->ownUserName.c_str(), &shared->stop);
      } else {
        while (!shared->stop.WaitFor(1000)) {
        }
      }
      spooler.reset();
      {
        std::lock_guard<std::mutex> lock(shared->mu);
        shared->ended = true;
      }
      shared->cv.notify_all();
    });
  } catch (const std::system_error&) {
    return -1;
  }
  shared_ = std::move(shared);
  return 0;
}

bool WatcherThread::WaitEnded(int timeoutMs) const {
  if (shared_ == nullptr) return true;
  std::unique_lock<std::mutex> lock(shared_->mu);
  return shared_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return shared_->ended; });
}

void StopWatcherThread(WatcherThread* watcher, int graceMs) {
  if (watcher == nullptr || !watcher->thread_.joinable()) return;
  if (!watcher->WaitEnded(graceMs)) {
    watcher->shared_->stop.Request();
    if (!watcher->WaitEnded(kWatcherStopLimitMs)) {
      watcher->thread_.detach();
      watcher->shared_.reset();
      return;
    }
  }
  watcher->thread_.join();
  watcher->shared_.reset();
}

}  // namespace kavelo::printcontrol
