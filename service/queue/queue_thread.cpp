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
                         int32_t fromPage, int32_t toPage, const JobOrigin& origin) {
  for (const char* text : {printerApplication, xmlPath, xslPath, printerName}) CheckText(text);
  std::string job = protocol::FormatJobCommandLine(
      printerApplication, xmlPath, xslPath, printerName, orientation, copies, fromPage, toPage);
  return Submit(job, origin);
}

bool QueueThread::Enqueue(const char* jobCommandLine) {
  CheckText(jobCommandLine);
  return Submit(jobCommandLine, JobOrigin());
}

bool QueueThread::Submit(const std::string& jobCommandLine, const JobOrigin&) {
  jobs_.Append(QueuedJob{nextNumber_++, jobCommandLine, false, ""});
  Signal();
  return true;
}

void QueueThread::Run() {
  while (running()) {
    try {
      QueuedJob job;
      if (jobs_.TakeNext(&job)) {
        try {
          ProcessJob(job);
        } catch (...) {
          jobs_.Finished(job.number);
          throw;
        }
        jobs_.Finished(job.number);
      } else {
        Wait();
      }
    } catch (const std::exception& e) {
      ReportException(e);
    }
  }
}

void QueueThread::ReportException(const std::exception&) {}

void QueueThread::ProcessJob(const QueuedJob&) {}

}  // namespace kavelo::service
