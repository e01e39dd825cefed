#include "service/queue/print_thread.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "common/exceptions.h"
#include "platform/process.h"
#include "platform/standby_process.h"
#include "platform/sysinfo.h"
#include "protocol/job_command_line.h"
#include "service/host/service_messages.h"
#include "service/queue/held_leftovers.h"

namespace kavelo::service {

namespace {

std::string JobText(int64_t number) { return "job " + std::to_string(number); }

// True while the job's spooled report is there (kept for a retry).
bool SpoolFilesThere(const std::string& jobCommandLine) {
  std::string xml;
  return protocol::FindKeyValueText(jobCommandLine, "xml", &xml) && ::access(xml.c_str(), F_OK) == 0;
}

// The print control installed beside the service's own program.  Only it
// takes its job in standby; any other program (a wrapper, a test's) is
// started per job, since it would not know the standby switch.
std::string OwnPrintControl() {
  const std::string self = platform::ProgramPath();
  const size_t slash = self.find_last_of('/');
  return slash == std::string::npos ? "" : self.substr(0, slash + 1) + "Ostrevo";
}

bool StartsAhead(const std::vector<std::string>& args, const std::string& ownPrintControl) {
  char resolved[PATH_MAX];
  return !args.empty() && !ownPrintControl.empty() &&
         ::realpath(args[0].c_str(), resolved) != nullptr && ownPrintControl == resolved;
}

}  // namespace

PrintThread::PrintThread() : QueueThread(/*wakeOnStop=*/true) {}

PrintThread::~PrintThread() { Stop(); }

bool PrintThread::Enqueue(const char* jobCommandLine) {
  try {
    if (jobCommandLine == nullptr) throw NullPointerException();
    if (*jobCommandLine == '\0') throw IllegalArgumentException();
    return Submit(jobCommandLine, JobOrigin());
  } catch (const std::exception& e) {
    channel().Report(platform::EventType::kError, kMsgExceptionCaught, ExceptionReportText(e).c_str());
    return false;
  }
}

bool PrintThread::Submit(const std::string& jobCommandLine, const JobOrigin& origin) {
  return SubmitNumbered(jobCommandLine, origin, nullptr);
}

bool PrintThread::SubmitNumbered(const std::string& jobCommandLine, const JobOrigin& origin,
                                 int64_t* number) {
  try {
    if (!serviceName().empty()) {
      long status = PersistJob(jobCommandLine);
      if (status != 0) {
        // A job that could not be made durable is not queued: the client is
        // told so and may send it again, and nothing prints it twice.
        std::string text = "PersistJob failed with registry status " + std::to_string(status);
        channel().Report(platform::EventType::kError, kMsgExceptionCaught, text.c_str());
        return false;
      }
    }
    QueuedJob job = MakeJob(desk_.NewNumber(), jobCommandLine, false);
    // The row comes before the job can start, so its print control finds it.
    desk_.Received(job.number, jobCommandLine, origin, desk_.NewQueueOrder());
    mutableJobs().Append(job);
    Signal();
    if (number != nullptr) *number = job.number;
    return true;
  } catch (const std::exception& e) {
    channel().Report(platform::EventType::kError, kMsgExceptionCaught, ExceptionReportText(e).c_str());
    return false;
  }
}

void PrintThread::StartPrinting() {
  limits_ = platform::ReadPrintLimits();
  ownPrintControl_ = OwnPrintControl();
  desk_.Open(serviceName(), jobs::DefaultHistoryPath(), [this](uint32_t id, const std::string& text) {
    channel().Report(platform::EventType::kWarning, id, text.c_str());
  });
  desk_.Upkeep(true);
  Start(0);
  if (serviceName().empty()) return;
  std::vector<std::string> removed;
  RemoveUnlistableJobs(&removed);
  for (const std::string& value : removed) {
    std::string text = "Removed the persisted job " + value + ": too long to be listed or printed";
    channel().Report(platform::EventType::kError, kMsgExceptionCaught, text.c_str());
  }
  std::vector<std::string> names;
  std::vector<std::string> texts;
  ListPersistedJobs(&names, &texts);
  RecoverPersistedJobs(texts);
}

void PrintThread::RecoverPersistedJobs(const std::vector<std::string>& texts) {
  struct Found {
    QueuedJob job;
    int64_t order;
  };
  std::vector<Found> found;
  std::set<int64_t> persisted;
  jobs::JobHistory& history = desk_.history();
  for (const std::string& text : texts) {
    jobs::JobRecord row;
    if (desk_.historyOpen() && history.FindCurrentByCommandLine(text, &row) &&
        persisted.count(row.number) == 0) {
      bool held = row.state == jobs::JobState::kHeld;
      if (row.state == jobs::JobState::kPrinting) {
        desk_.Write("the requeue", row.number, [&](jobs::JobHistory& h) {
          return h.SetState(row.number, jobs::JobState::kQueued, 0);
        });
      }
      found.push_back({MakeJob(row.number, text, held), row.queueOrder});
    } else {
      // Persisted before its row was written (a crash between the two, or
      // a history that could not be written): it gets its row now.
      QueuedJob job = MakeJob(desk_.NewNumber(), text, false);
      int64_t order = desk_.NewQueueOrder();
      desk_.Received(job.number, text, JobOrigin(), order);
      found.push_back({job, order});
    }
    persisted.insert(found.back().job.number);
  }
  // Jobs the history holds as current that the queue no longer holds were
  // printing when the service ended (their persisted value goes at their
  // start).
  std::vector<jobs::JobRecord> current;
  if (desk_.historyOpen() && history.ListCurrent(&current)) {
    for (const jobs::JobRecord& row : current) {
      if (persisted.count(row.number) != 0) continue;
      std::string failure = "The service ended while the job was printing";
      const bool kept = EndAbandonedJob(row.commandLine, &failure);
      desk_.Write("the end", row.number, [&](jobs::JobHistory& h) {
        return h.MarkEnded(row.number, jobs::NowMs(), row.exitStatus < 0 ? 0 : row.exitStatus,
                           failure, kept);
      });
    }
  }
  if (texts.empty()) return;
  std::string count = std::to_string(texts.size());
  channel().Report(platform::EventType::kInformation, kMsgJobsRequeued, count.c_str());
  std::stable_sort(found.begin(), found.end(),
                   [](const Found& a, const Found& b) { return a.order < b.order; });
  // The persisted values stay where they are until each job is started.
  for (const Found& job : found) {
    mutableJobs().Append(job.job);
    Signal();
  }
}

bool PrintThread::EndAbandonedJob(const std::string& jobCommandLine, std::string* failure) {
  std::string xml;
  if (!protocol::FindKeyValueText(jobCommandLine, "xml", &xml) || xml.empty() ||
      !platform::JobWorkFolderAbandoned(platform::JobWorkFolder(xml))) {
    // No print control got as far as its work folder, or one still runs
    // the job (the service alone ended): it cleans up after itself.
    return false;
  }
  // Its print control ended with the service (a crash of the machine, a
  // kill of both): what it left held is cancelled, its files go, the
  // spooled ones stay for a retry while KeepFailedHours is not 0.
  const int held = CancelHeldLeftovers(jobCommandLine);
  const bool keep = keepFailed() && SpoolFilesThere(jobCommandLine);
  if (keep) {
    platform::RemoveDerivedJobFiles(jobCommandLine);
  } else {
    platform::RemoveJobFiles(jobCommandLine);
  }
  *failure += " and its print control ended too (held spooler jobs cancelled: " +
              std::to_string(held) + ")";
  return keep;
}

std::string PrintThread::PrinterKey(const std::string& jobCommandLine) const {
  std::string printer;
  protocol::FindPrinterNameText(jobCommandLine, &printer);
  if (printer.empty()) printer = defaultPrinter_;
  std::transform(printer.begin(), printer.end(), printer.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return printer;
}

QueuedJob PrintThread::MakeJob(int64_t number, const std::string& jobCommandLine,
                               bool held) const {
  return QueuedJob{number, jobCommandLine, held, PrinterKey(jobCommandLine)};
}

void PrintThread::Run() {
  // Short waits, so that a stop or a cancel is seen within a tenth of a
  // second; while a place is free, the thread also looks for new work this
  // often (and at once when a job comes).
  constexpr int kSliceMs = 100;
  constexpr int kFreePlaceSliceMs = 20;
  std::vector<std::unique_ptr<Running>> active;
  while (running() || !active.empty()) {
    try {
      QueuedJob job;
      while (running() && active.size() < limits_.printThreads && mutableJobs().TakeNext(&job)) {
        std::unique_ptr<Running> started;
        try {
          started = StartJob(job);
        } catch (...) {
          mutableJobs().Finished(job.number);
          throw;
        }
        if (started) {
          active.push_back(std::move(started));
        } else {
          mutableJobs().Finished(job.number);
        }
      }
      if (active.empty()) {
        if (running()) Wait();
        continue;
      }
      // With every place taken (always so with one print thread), the
      // waits are on the print controls; otherwise on new work as well.
      const bool full = active.size() >= limits_.printThreads || !running();
      const int slice = full ? std::max(1, kSliceMs / static_cast<int>(active.size())) : 0;
      for (auto it = active.begin(); it != active.end();) {
        bool ended = true;
        try {
          ended = CheckPrintControl(it->get(), slice);
        } catch (...) {
          (*it)->control.Terminate();
          mutableJobs().Finished((*it)->job.number);
          active.erase(it);
          throw;
        }
        if (!ended) {
          ++it;
          continue;
        }
        mutableJobs().Finished((*it)->job.number);
        it = active.erase(it);
      }
      if (!full) WaitFor(kFreePlaceSliceMs);
    } catch (const std::exception& e) {
      ReportException(e);
    }
  }
  standby_.End();
}

std::unique_ptr<PrintThread::Running> PrintThread::StartJob(const QueuedJob& job) {
  const std::string& jobCommandLine = job.commandLine;
  desk_.Write("the start", job.number, [&](jobs::JobHistory& h) {
    return h.MarkStarted(job.number, jobs::NowMs());
  });
  auto started = std::make_unique<Running>();
  started->job = job;
  platform::ResourceLimits processLimits;
  processLimits.addressSpaceBytes = limits_.AddressSpaceBytes();
  const std::vector<std::string> environment = {
      std::string(jobs::kJobNumberVariable) + "=" + std::to_string(job.number),
      std::string(jobs::kKeepFailedVariable) + "=" + (keepFailed() ? "1" : "0")};
  const std::vector<std::string> args = platform::SplitCommandLine(jobCommandLine);
  int error = 0;
  if (!standby_.Hand(args, processLimits, environment, &started->control)) {
    error = started->control.Start(args, /*quiet=*/false, processLimits, environment);
  }
  // The next job's print control loads its libraries while this one prints;
  // should it not start, the next job starts the usual way.
  if (error == 0 && StartsAhead(args, ownPrintControl_)) standby_.Prepare(args[0], processLimits);
  // Whatever the outcome: the job leaves the persisted queue now, so it is
  // never started twice.
  if (!serviceName().empty() && !RemovePersistedJob(jobCommandLine)) {
    // It would print again at the next start: the administrator is told.
    channel().Report(platform::EventType::kError, kMsgRemoveJobFailed, jobCommandLine.c_str());
  }
  if (error != 0) {
    channel().Report(platform::EventType::kError, kMsgCreateProcessFailed, jobCommandLine.c_str());
    // The spooled files stay, as they always did: a retry can use them.
    Ended(job, -1, "The print control could not be started (" + std::string(strerror(error)) + ")",
          keepFailed());
    return nullptr;
  }
  started->guard =
      Running::Clock::now() + std::chrono::milliseconds(limits_.printControlTimeoutMs);
  return started;
}

void PrintThread::Ended(const QueuedJob& job, int32_t exitStatus, const std::string& failure,
                        bool keepFiles) {
  // Only files that are there can be kept.
  keepFiles = keepFiles && SpoolFilesThere(job.commandLine);
  jobs::JobState state = jobs::JobState::kPrinted;
  bool recorded = desk_.Write("the end", job.number, [&](jobs::JobHistory& h) {
    return h.MarkEnded(job.number, jobs::NowMs(), exitStatus, failure, keepFiles, &state);
  });
  // Files kept for a retry are listed in the history; without it they
  // would never be removed.
  if (!recorded && keepFiles) platform::RemoveJobFiles(job.commandLine);
}

bool PrintThread::CheckPrintControl(Running* print, int sliceMs) {
  const QueuedJob& job = print->job;
  const std::string& jobCommandLine = job.commandLine;
  platform::Process* control = &print->control;
  using Clock = Running::Clock;
  int exitCode = 0;
  if (control->Wait(sliceMs, &exitCode) == 0) {
    if (exitCode == 0) {
      // The print control removed its job's files, or kept a failed
      // job's for a retry (it says so in the history).
      Ended(job, 0, "", keepFailed());
      return true;
    }
    // The print control always ends with 0 once it has removed its job.
    std::string how = exitCode > 128 ? "signal " + std::to_string(exitCode - 128) + " (" +
                                           strsignal(exitCode - 128) + ")"
                                     : "exit status " + std::to_string(exitCode);
    // Before the work folder goes: its held-jobs file names them.
    std::string held = std::to_string(CancelHeldLeftovers(jobCommandLine));
    if (keepFailed()) {
      platform::RemoveDerivedJobFiles(jobCommandLine);
      channel().Report(platform::EventType::kError, kMsgPrintControlAbnormalKept, how.c_str(),
                       jobCommandLine.c_str(), held.c_str());
    } else {
      platform::RemoveJobFiles(jobCommandLine);
      channel().Report(platform::EventType::kError, kMsgPrintControlAbnormal, how.c_str(),
                       jobCommandLine.c_str(), held.c_str());
    }
    Ended(job, exitCode, "The print control ended abnormally (" + how + ")", keepFailed());
    return true;
  }
  const Clock::time_point now = Clock::now();
  if (!running() && print->stopAt == Clock::time_point::max()) {
    print->stopAt = now + std::chrono::milliseconds(stopGraceMs_);
  }
  std::string cancelUser;
  const bool cancel = mutableJobs().CancelRequested(job.number, &cancelUser);
  if (now < print->guard && now < print->stopAt && !cancel) return false;
  // The whole process group: the print control, its transform, orlendi
  // and the renderer.
  control->Terminate();
  control->Wait(5000);
  // Before the work folder goes: its held-jobs file names them.
  std::string held = std::to_string(CancelHeldLeftovers(jobCommandLine));
  if (cancel) {
    platform::RemoveJobFiles(jobCommandLine);
    desk_.Write("the cancel", job.number, [&](jobs::JobHistory& h) {
      return h.SetState(job.number, jobs::JobState::kCancelled, jobs::NowMs());
    });
    Action(job.number, "cancelled while printing by " + cancelUser + " (held spooler jobs "
                       "cancelled: " + held + ")");
    return true;
  }
  if (now >= print->guard) {
    platform::RemoveJobFiles(jobCommandLine);
    std::string limit = std::to_string(limits_.printControlTimeoutMs);
    channel().Report(platform::EventType::kError, kMsgPrintControlTimedOut, limit.c_str(),
                     jobCommandLine.c_str(), held.c_str());
    Ended(job, -1, "The print control did not end within its time limit of " + limit + " ms",
          false);
    return true;
  }
  RequeueAfterStop(job, held);
  return true;
}

void PrintThread::RequeueAfterStop(const QueuedJob& job, const std::string& held) {
  const std::string& jobCommandLine = job.commandLine;
  // A stop is no fault of the job: it goes back into the persisted queue
  // (behind the jobs that waited) with its spooled files, and the next
  // start prints it again from its first page.  Only when it cannot be
  // persisted again are its files removed.
  platform::RemoveDerivedJobFiles(jobCommandLine);
  if (serviceName().empty() || PersistJob(jobCommandLine) != 0) {
    platform::RemoveJobFiles(jobCommandLine);
    channel().Report(platform::EventType::kError, kMsgPrintControlStopped, jobCommandLine.c_str(),
                     held.c_str());
    Ended(job, -1, "The service stop ended the print control and the job could not be kept",
          false);
    return;
  }
  channel().Report(platform::EventType::kWarning, kMsgPrintControlRequeued, jobCommandLine.c_str(),
                   held.c_str());
  const int64_t order = desk_.NewQueueOrder();
  desk_.Write("the requeue", job.number, [&](jobs::JobHistory& h) {
    return h.SetState(job.number, jobs::JobState::kQueued, 0) &&
           h.SetQueueOrder(job.number, order);
  });
  desk_.Event(job.number, "warning", "The service stop ended the print control; the job prints "
                                     "again from its first page at the next start");
}

void PrintThread::ReportException(const std::exception& e) {
  channel().Report(platform::EventType::kError, kMsgExceptionCaught, ExceptionReportText(e).c_str());
}

void PrintThread::Action(int64_t number, const std::string& text) {
  std::string numberText = std::to_string(number);
  channel().Report(platform::EventType::kInformation, kMsgJobAction, numberText.c_str(),
                   text.c_str());
  desk_.Event(number, "information", text);
}

PrintThread::ActionResult PrintThread::NotWaiting(int64_t number, const char* action) {
  jobs::JobRecord row;
  if (desk_.historyOpen() && desk_.history().Find(number, &row)) {
    return {false, "cannot " + std::string(action) + " " + JobText(number) + ": it is " +
                       jobs::JobStateName(row.state)};
  }
  if (mutableJobs().IsRunning(number)) {
    return {false, "cannot " + std::string(action) + " " + JobText(number) + ": it is printing"};
  }
  return {false, "no such job: " + std::to_string(number)};
}

PrintThread::ActionResult PrintThread::Cancel(int64_t number, const std::string& user) {
  QueuedJob job;
  if (mutableJobs().Remove(number, &job)) {
    if (!serviceName().empty() && !RemovePersistedJob(job.commandLine)) {
      // It would print at the next start: it stays queued, at the end.
      channel().Report(platform::EventType::kError, kMsgRemoveJobFailed, job.commandLine.c_str());
      mutableJobs().Append(job);
      Signal();
      return {false, "cannot cancel " + JobText(number) + ": the persisted queue cannot be changed"};
    }
    platform::RemoveJobFiles(job.commandLine);
    desk_.Write("the cancel", number, [&](jobs::JobHistory& h) {
      return h.SetState(number, jobs::JobState::kCancelled, jobs::NowMs());
    });
    Action(number, "cancelled by " + user);
    return {true, JobText(number) + " cancelled"};
  }
  if (mutableJobs().RequestCancel(number, user)) {
    // The print thread ends it within a slice; its wait for the process
    // group is bounded too.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (mutableJobs().IsRunning(number) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (mutableJobs().IsRunning(number)) return {true, JobText(number) + " is being cancelled"};
    return {true, JobText(number) + " cancelled while printing"};
  }
  return NotWaiting(number, "cancel");
}

PrintThread::ActionResult PrintThread::Hold(int64_t number, const std::string& user) {
  QueuedJob job;
  if (!mutableJobs().IsWaiting(number, &job)) return NotWaiting(number, "hold");
  if (job.held) return {true, JobText(number) + " is held already"};
  if (!desk_.historyOpen()) {
    return {false, "cannot hold " + JobText(number) + ": the job history is not open"};
  }
  if (!mutableJobs().SetHeld(number, true)) return NotWaiting(number, "hold");
  // The history keeps the hold over a restart: without it there is none.
  if (!desk_.Write("the hold", number, [&](jobs::JobHistory& h) {
        return h.SetState(number, jobs::JobState::kHeld, 0);
      })) {
    mutableJobs().SetHeld(number, false);
    Signal();
    return {false, "cannot hold " + JobText(number) + ": the job history cannot be written"};
  }
  Action(number, "held by " + user);
  return {true, JobText(number) + " held"};
}

PrintThread::ActionResult PrintThread::Release(int64_t number, const std::string& user) {
  QueuedJob job;
  if (!mutableJobs().IsWaiting(number, &job)) return NotWaiting(number, "release");
  if (!job.held) return {true, JobText(number) + " is not held"};
  desk_.Write("the release", number, [&](jobs::JobHistory& h) {
    return h.SetState(number, jobs::JobState::kQueued, 0);
  });
  mutableJobs().SetHeld(number, false);
  Signal();
  Action(number, "released by " + user);
  return {true, JobText(number) + " released"};
}

PrintThread::ActionResult PrintThread::Retry(int64_t number, const std::string& user) {
  jobs::JobRecord row;
  if (!desk_.historyOpen() || !desk_.history().Find(number, &row)) {
    return {false, "no such job: " + std::to_string(number)};
  }
  if (row.state != jobs::JobState::kFailed) {
    return {false, "cannot retry " + JobText(number) + ": it is " + jobs::JobStateName(row.state)};
  }
  if (!row.filesKept || !SpoolFilesThere(row.commandLine)) {
    return {false, "cannot retry " + JobText(number) + ": its spooled files are no longer kept"};
  }
  // The old job lets go of its files first: the new one owns them now.
  if (!desk_.Write("the retry", number,
                   [&](jobs::JobHistory& h) { return h.SetFilesKept(number, false); })) {
    return {false, "cannot retry " + JobText(number) + ": the job history cannot be written"};
  }
  JobOrigin origin;
  origin.clientAddress = row.clientAddress;
  origin.clientPort = row.clientPort;
  origin.retryOf = number;
  int64_t retried = 0;
  if (!SubmitNumbered(row.commandLine, origin, &retried)) {
    desk_.Write("the retry", number, [&](jobs::JobHistory& h) { return h.SetFilesKept(number, true); });
    return {false, "cannot retry " + JobText(number) + ": it could not be queued"};
  }
  desk_.Write("the retry", number,
              [&](jobs::JobHistory& h) { return h.SetRetriedAs(number, retried); });
  Action(number, "retried as job " + std::to_string(retried) + " by " + user);
  desk_.Event(retried, "information", "retry of job " + std::to_string(number));
  return {true, JobText(number) + " retried as job " + std::to_string(retried)};
}

}  // namespace kavelo::service
