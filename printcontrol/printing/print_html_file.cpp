#include "printcontrol/printing/print_html_file.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include "platform/process.h"
#include "printcontrol/job/job_note.h"
#include "printcontrol/job/report_job.h"
#include "printcontrol/job/text_field.h"
#include "printcontrol/printing/job_watcher.h"
#include "printcontrol/printing/stop_process.h"
#include "protocol/orlendi_command_line.h"
#include "protocol/orlendi_info_file.h"

namespace kavelo::printcontrol {

namespace {

bool Exists(const char* path) { return ::access(path, F_OK) == 0; }

// The end of one orlendi run, whatever the way: the watcher is stopped, a
// still running orlendi is killed, and the info file is removed (orlendi
// writes it before it submits, so an orlendi that ends quickly leaves it).
// Once orlendi has ended nothing waits for what the watcher sees, so it is
// stopped at once rather than given its grace (a pause on every file).
void Finish(platform::Process* process, WatcherThread* watcher, const char* infoPath) {
  const bool ended = !process->IsValid();
  if (!ended) StopProcess(process);
  StopWatcherThread(watcher, ended ? 0 : kWatcherGraceMs);
  ::unlink(infoPath);
}

// orlendi has a process group of its own, which a stop of the print
// control's group does not reach: it ends with the thread that started it.
platform::ResourceLimits OrlendiStart() {
  platform::ResourceLimits start;
  start.endsWithStarter = true;
  return start;
}

}  // namespace

void MakeInfoName(const char* htmlPath, char* destination, size_t size) {
  if (destination == nullptr || size == 0) return;
  CopyText(destination, size, protocol::InfoFileName(htmlPath == nullptr ? "" : htmlPath).c_str());
}

bool MakeOrlendiCommandLine(const ReportJob& job, const char* htmlPath, int copies, int lock,
                            std::string* commandLine, const std::string& pdfPath) {
  const PrinterSettings& s = job.settings;
  protocol::OrlendiArguments a;
  a.htmlPath = htmlPath;
  a.xslPath = job.effectiveXslPath;
  a.printerName = s.printerName();
  a.copies = copies;
  a.orientation = s.orientation();
  a.eventSource = job.eventSource;
  a.unit = static_cast<int>(s.unit());
  a.marginLeft = s.marginLeft();
  a.marginRight = s.marginRight();
  a.marginTop = s.marginTop();
  a.marginBottom = s.marginBottom();
  a.color = static_cast<int>(s.colorPrinting());
  a.lock = lock;
  a.pdfPath = pdfPath;
  std::string line =
      protocol::FormatOrlendiCommandLine(std::string(job.utilityDirectory) + "/" + kOrlendiName, a);
  if (line.size() >= kOrlendiCommandLineSize) return false;
  *commandLine = std::move(line);
  return true;
}

bool PrintHtmlFile(const ReportJob& job, const std::string& htmlPath, int copies, int lock,
                   std::string* error, const OrlendiLimits& limits) {
  error->clear();
  if (copies < 1) copies = 1;
  char infoPath[kOrlendiCommandLineSize];
  MakeInfoName(htmlPath.c_str(), infoPath, sizeof(infoPath));
  std::string commandLine;
  if (!MakeOrlendiCommandLine(job, htmlPath.c_str(), copies, lock, &commandLine)) {
    *error = std::string("Error:orlendi command line too long, Report Title:") + job.title;
    return false;
  }

  platform::Process process;
  int rc = process.Start(commandLine, /*quiet=*/true, OrlendiStart());
  if (rc != 0) {
    *error = "Can't create process " + commandLine + ", Report Title:" + job.title +
             ", errno = " + std::to_string(rc);
    return false;
  }
  // Without a watcher the waits go on with the full limits.
  SetWatcherValues(copies, htmlPath.c_str(), job.settings.printerName());
  WatcherThread watcher;
  watcher.Start();

  // Loading: until orlendi has rendered the page (its info file exists).
  bool loaded = false;
  auto renderTimer = std::make_unique<StageTimer>(JobStage::kRender);
  for (int cycle = 0; cycle < limits.loadCycles && !loaded; ++cycle) {
    rc = process.Wait(limits.cycleMs);
    if (rc != platform::kWaitTimeout) {
      // Ended: done.  (A failed wait kills it in Finish.)
      if (rc == 0 && Exists(infoPath)) NoteDocument();
      if (rc == 0) process = platform::Process();
      Finish(&process, &watcher, infoPath);
      return true;
    }
    loaded = Exists(infoPath);
  }
  renderTimer.reset();
  if (!loaded) {
    Finish(&process, &watcher, infoPath);
    *error = std::string("Error in orlendi(load html file). Report Title:") + job.title;
    return false;
  }

  // Printing: copies times the load limit, shortened once the watcher has
  // seen every job of the file leave the queue.
  NoteDocument();
  StageTimer spoolTimer(JobStage::kSpool);
  const int64_t limit = static_cast<int64_t>(copies) * limits.printCyclesPerCopy;
  int64_t counter = 0;
  bool watcherSeenEnded = false;
  for (;;) {
    rc = process.Wait(limits.cycleMs);
    if (rc != platform::kWaitTimeout) {
      if (rc == 0) process = platform::Process();
      Finish(&process, &watcher, infoPath);
      return true;
    }
    if (++counter >= limit) {
      Finish(&process, &watcher, infoPath);
      *error = std::string("Error in orlendi. Report Title:") + job.title;
      return false;
    }
    if (!watcherSeenEnded && watcher.Exists() && watcher.WaitEnded(5)) {
      watcherSeenEnded = true;
      counter = std::max(counter, limit - limits.cyclesAfterWatcher);
    }
  }
}

bool RenderHtmlFile(const ReportJob& job, const std::string& htmlPath, const std::string& pdfPath,
                    const std::atomic<bool>& cancelled, std::string* error,
                    const OrlendiLimits& limits) {
  error->clear();
  std::string commandLine;
  if (!MakeOrlendiCommandLine(job, htmlPath.c_str(), 1, 0, &commandLine, pdfPath)) {
    *error = std::string("Error:orlendi command line too long, Report Title:") + job.title;
    return false;
  }
  platform::Process process;
  int rc = process.Start(commandLine, /*quiet=*/true, OrlendiStart());
  if (rc != 0) {
    *error = "Can't create process " + commandLine + ", Report Title:" + job.title +
             ", errno = " + std::to_string(rc);
    return false;
  }
  // Waits in short steps, so that a cancel ends orlendi soon.
  constexpr int kStepMs = 100;
  const int64_t limitMs = static_cast<int64_t>(limits.loadCycles) * limits.cycleMs;
  int exitCode = -1;
  for (int64_t waited = 0;; waited += kStepMs) {
    rc = process.Wait(kStepMs, &exitCode);
    if (rc != platform::kWaitTimeout) break;
    if (cancelled || waited + kStepMs >= limitMs) {
      StopProcess(&process);
      if (!cancelled) {
        *error = std::string("Error in orlendi(load html file). Report Title:") + job.title;
      }
      break;
    }
  }
  if (rc != 0 && process.IsValid()) {  // the wait itself failed
    StopProcess(&process);
    *error = std::string("Error in orlendi. Report Title:") + job.title;
  }
  if (rc == 0 && exitCode == 0 && Exists(pdfPath.c_str())) return true;
  ::unlink(pdfPath.c_str());
  return false;
}

}  // namespace kavelo::printcontrol
