#include "service/print_thread.h"

#include <string>
#include <thread>

#include "common/exceptions.h"
#include "platform/process.h"
#include "service/service_messages.h"

namespace kavelo {

namespace {
// Insertion texts of exception reports are cut to what a 256-byte buffer
// holds.
std::string ReportText(const std::exception& e) {
  std::string text = ExceptionMessage(e);
  if (text.size() > 255) text.resize(255);
  return text;
}
}  // namespace

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
    channel().Report(platform::EventType::kError, kMsgExceptionCaught, ReportText(e).c_str());
    return false;
  }
}

void PrintThread::StartPrinting() {
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
  int error = control.Start(jobCommandLine);
  // Whatever the outcome: the job leaves the persisted queue now, so it is
  // never started twice.
  if (!serviceName().empty()) RemovePersistedJob(jobCommandLine);
  if (error == 0) {
    control.Wait(platform::kWaitInfinite);
    std::this_thread::yield();
  } else {
    channel().Report(platform::EventType::kError, kMsgCreateProcessFailed, jobCommandLine.c_str());
  }
}

void PrintThread::ReportException(const std::exception& e) {
  channel().Report(platform::EventType::kError, kMsgExceptionCaught, ReportText(e).c_str());
}

}  // namespace kavelo
