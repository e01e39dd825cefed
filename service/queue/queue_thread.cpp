#include "service/queue/queue_thread.h"

#include <thread>

#include "common/exceptions.h"
#include "protocol/job_command_line.h"

namespace kavelo::service {

namespace {
void CheckText(const char* text) {
  if (text == nullptr) throw NullPointerException();
  if (*text == '\0') throw IllegalArgumentException();
}
}  // namespace

QueueThread::QueueThread(bool wakeOnStop) : WorkerThread(wakeOnStop) {}

QueueThread::~QueueThread() { channel_.Deregister(); }

void QueueThread::BindLog(const char* serviceName) {
  CheckText(serviceName);
  // The thread reports to the event log (never to a diagnostic log file in
  // the current directory).
  serviceName_ = serviceName;
  channel_.Register(serviceName);
}

bool QueueThread::AddJob(const char* printerApplication, const char* xmlPath, const char* xslPath,
                         const char* printerName, int32_t orientation, int32_t copies,
                         int32_t fromPage, int32_t toPage) {
  for (const char* text : {printerApplication, xmlPath, xslPath, printerName}) CheckText(text);
  std::string job = protocol::FormatJobCommandLine(
      printerApplication, xmlPath, xslPath, printerName, orientation, copies, fromPage, toPage);
  return Enqueue(job.c_str());
}

bool QueueThread::Enqueue(const char* jobCommandLine) {
  CheckText(jobCommandLine);
  jobs_.Append(jobCommandLine);
  Signal();
  return true;
}

void QueueThread::Run() {
  while (running()) {
    try {
      std::string job;
      if (jobs_.First(&job)) {
        ProcessJob(job);
        // Only this thread removes entries, so the first one is the job
        // just processed.
        jobs_.RemoveFirst();
      } else {
        Wait();
      }
    } catch (const std::exception& e) {
      ReportException(e);
    }
  }
}

void QueueThread::ReportException(const std::exception&) {}

void QueueThread::ProcessJob(const std::string&) {}

}  // namespace kavelo::service
