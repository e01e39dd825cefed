#include "printcontrol/layout/printer_metrics.h"

#include <strings.h>

#include <string>
#include <vector>

#include "platform/spooler.h"

namespace kavelo::printcontrol {

int GetPrinterMetrics(platform::Spooler& spooler, const char* printerName,
                      PrinterMetrics* metrics) {
  if (printerName == nullptr || printerName[0] == '\0' || metrics == nullptr) return -1;
  std::vector<platform::PrinterEntry> printers;
  if (spooler.ListPrinters(&printers) != platform::kSpoolerOk) return -1;
  const platform::PrinterEntry* match = nullptr;
  for (const platform::PrinterEntry& printer : printers) {
    if (strcasecmp(printer.printerName.c_str(), printerName) == 0) match = &printer;
  }
  if (match == nullptr) return -1;
  platform::PageGeometry geometry;
  if (spooler.GetPageGeometry(match->printerName, &geometry) != platform::kSpoolerOk) return -1;
  if (geometry.resolutionX <= 0 || geometry.resolutionY <= 0 || geometry.physicalWidth <= 0 ||
      geometry.physicalHeight <= 0) {
    return -1;
  }
  metrics->physicalWidth = geometry.physicalWidth;
  metrics->physicalHeight = geometry.physicalHeight;
  metrics->offsetX = geometry.offsetX;
  metrics->offsetY = geometry.offsetY;
  metrics->resolutionX = geometry.resolutionX;
  metrics->resolutionY = geometry.resolutionY;
  return 0;
}

}  // namespace kavelo::printcontrol
