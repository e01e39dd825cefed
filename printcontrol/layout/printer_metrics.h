// The page geometry of a printer, in device units, for the page-fit
// computation.
#ifndef KAVELO_PRINTCONTROL_PRINTER_METRICS_H_
#define KAVELO_PRINTCONTROL_PRINTER_METRICS_H_

#include <cstdint>

namespace kavelo::platform {
class Spooler;
}  // namespace kavelo::platform

namespace kavelo::printcontrol {

struct PrinterMetrics {
  int32_t physicalWidth = 0;  // whole sheet, portrait
  int32_t physicalHeight = 0;
  int32_t offsetX = 0;      // unprintable left edge
  int32_t offsetY = 0;      // unprintable top edge
  int32_t resolutionX = 0;  // dots per inch
  int32_t resolutionY = 0;
};

// Fills *metrics with the geometry of the printer named printerName
// (compared without regard to case; of several such printers the last one
// listed counts).  0, or -1 for an empty name, a failed printer list, no
// such printer, a printer without page geometry (a raw queue), or a
// resolution or sheet size that is not positive (every fit divides by them);
// *metrics is then left as it was.
int GetPrinterMetrics(platform::Spooler& spooler, const char* printerName, PrinterMetrics* metrics);
// The same on the spooler chosen by KAVELO_SPOOLER.
int GetPrinterMetrics(const char* printerName, PrinterMetrics* metrics);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_PRINTER_METRICS_H_
