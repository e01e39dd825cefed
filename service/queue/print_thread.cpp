#include "service/queue/print_thread.h"

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "common/exceptions.h"
#include "platform/process.h"
#include "service/host/service_messages.h"
#include "service/queue/held_leftovers.h"

namespace kavelo::service {

PrintThread::PrintThread() : QueueThread(/*wakeOnStop=*/true) {}

PrintThread::~PrintThread() { Stop(); }

bool PrintThread::Enqueue(const char* jobCommandLine) {
  try {
    if (jobCommandLine == nullptr) throw NullPointerException();
    if (*jobCommandLine == '\0') throw IllegalArgumentException();
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
    return QueueThread::Enqueue(jobCommandLine);
  } catch (const std::exception& e) {
    channel().Report(platform::EventType::kError, kMsgExceptionCaught, ExceptionReportText(e).c_str());
    return false;
  }
}

void PrintThread::StartPrinting() {
  limits_ = platform::ReadPrintLimits();
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
  if (texts.empty()) return;
  std::string count = std::to_string(texts.size());
  channel().Report(platform::EventType::kInformation, kMsgJobsRequeued, count.c_str());
  // The persisted values stay where they are until each job is started.
  for (const std::string& text : texts) QueueThread::Enqueue(text.c_str());
}

void PrintThread::ProcessJob(const std::string& jobCommandLine) {
  platform::Process control;
  platform::ResourceLimits processLimits;
  processLimits.addressSpaceBytes = limits_.AddressSpaceBytes();
  int error = control.Start(jobCommandLine, /*quiet=*/false, processLimits);
  // Whatever the outcome: the job leaves the persisted queue now, so it is
  // never started twice.
  if (!serviceName().empty() && !RemovePersistedJob(jobCommandLine)) {
    // It would print again at the next start: the administrator is told.
    channel().Report(platform::EventType::kError, kMsgRemoveJobFailed, jobCommandLine.c_str());
  }
  if (error != 0) {
    channel().Report(platform::EventType::kError, kMsgCreateProcessFailed, jobCommandLine.c_str());
    return;
  }
  WaitForPrintControl(&control, jobCommandLine);
  std::this_thread::yield();
}

void PrintThread::WaitForPrintControl(platform::Process* control,
                                      const std::string& jobCommandLine) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point guard =
      Clock::now() + std::chrono::milliseconds(limits_.printControlTimeoutMs);
  Clock::time_point stopAt = Clock::time_point::max();
  // Short waits, so that a stop is seen within a tenth of a second.
  constexpr int kSliceMs = 100;
  for (;;) {
    int exitCode = 0;
    if (control->Wait(kSliceMs, &exitCode) == 0) {
      if (exitCode != 0) {
        // The print control always ends with 0 once it has removed its job.
        std::string how = exitCode > 128 ? "signal " + std::to_string(exitCode - 128) + " (" +
                                               strsignal(exitCode - 128) + ")"
                                         : "exit status " + std::to_string(exitCode);
        std::string held = std::to_string(CancelHeldLeftovers(jobCommandLine));
        platform::RemoveJobFiles(jobCommandLine);
        channel().Report(platform::EventType::kError, kMsgPrintControlAbnormal, how.c_str(),
                         jobCommandLine.c_str(), held.c_str());
      }
      return;
    }
    const Clock::time_point now = Clock::now();
    if (!running() && stopAt == Clock::time_point::max()) {
      stopAt = now + std::chrono::milliseconds(stopGraceMs_);
    }
    if (now < guard && now < stopAt) continue;
    // The whole process group: the print control, its transform, orlendi
    // and the renderer.
    control->Terminate();
    control->Wait(5000);
    // Before the work folder goes: its held-jobs file names them.
    std::string held = std::to_string(CancelHeldLeftovers(jobCommandLine));
    if (now >= guard) {
      platform::RemoveJobFiles(jobCommandLine);
      std::string limit = std::to_string(limits_.printControlTimeoutMs);
      channel().Report(platform::EventType::kError, kMsgPrintControlTimedOut, limit.c_str(),
                       jobCommandLine.c_str(), held.c_str());
      return;
    }
    // A stop is no fault of the job: it goes back into the persisted queue
    // (behind the jobs that waited) with its spooled files, and the next
    // start prints it again from its first page.  Only when it cannot be
    // persisted again are its files removed.
    platform::RemoveDerivedJobFiles(jobCommandLine);
    if (serviceName().empty() || PersistJob(jobCommandLine) != 0) {
      platform::RemoveJobFiles(jobCommandLine);
      channel().Report(platform::EventType::kError, kMsgPrintControlStopped,
                       jobCommandLine.c_str(), held.c_str());
      return;
    }
    channel().Report(platform::EventType::kWarning, kMsgPrintControlRequeued,
                     jobCommandLine.c_str(), held.c_str());
    return;
  }
}

void PrintThread::ReportException(const std::exception& e) {
  channel().Report(platform::EventType::kError, kMsgExceptionCaught, ExceptionReportText(e).c_str());
}

}  // namespace kavelo::service
