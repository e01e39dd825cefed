// The print job control operations on the spooler chosen by KAVELO_SPOOLER.
// Kept apart from the operations themselves so that code (and tests) that
// bring their own spooler do not depend on the real back ends.
#include <memory>

#include "platform/spooler.h"
#include "platform/sysinfo.h"
#include "printcontrol/layout/printer_metrics.h"
#include "printcontrol/printing/job_watcher.h"
#include "printcontrol/printing/print_job_control.h"

namespace kavelo::printcontrol {

void ResolvePrinterName(const char* givenName, char* result, size_t resultSize) {
  if (result != nullptr && resultSize > 0) result[0] = '\0';
  std::unique_ptr<platform::Spooler> spooler = platform::OpenSpooler();
  if (spooler == nullptr) return;
  ResolvePrinterName(*spooler, givenName, result, resultSize);
}

int WatcherThread::Start() {
  return Start([] { return platform::OpenSpooler(); }, platform::UserName().c_str());
}

int GetPrinterMetrics(const char* printerName, PrinterMetrics* metrics) {
  std::unique_ptr<platform::Spooler> spooler = platform::OpenSpooler();
  if (spooler == nullptr) return -1;
  return GetPrinterMetrics(*spooler, printerName, metrics);
}

}  // namespace kavelo::printcontrol
