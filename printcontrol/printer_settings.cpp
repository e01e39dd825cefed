#include "printcontrol/printer_settings.h"

#include "platform/sysinfo.h"
#include "printcontrol/text_helpers.h"

namespace kavelo {

PrinterSettings::PrinterSettings() {
  printerName_[0] = '\0';
  Reset();
}

void PrinterSettings::Reset() { Reset(platform::MeasurementSystem()); }

void PrinterSettings::Reset(int measurementSystem) {
  unit_ = measurementSystem == 1 ? 1 : 0;
  // The inch margins are the inch forms of 10 mm and 12.5 mm.
  const char* topBottom = unit_ == 1 ? "0.393" : "10.0";
  const char* leftRight = unit_ == 1 ? "0.492" : "12.5";
  footer_[0] = '\0';
  header_[0] = '\0';
  CopyText(marginTop_, kValueSize, topBottom);
  CopyText(marginBottom_, kValueSize, topBottom);
  CopyText(marginLeft_, kValueSize, leftRight);
  CopyText(marginRight_, kValueSize, leftRight);
  orientation_ = 1;
  CopyText(fontName_, kValueSize, "Courier New");
  CopyText(fontSize_, kValueSize, "6.7");
  CopyText(lineHeight_, kValueSize, "1.8");
  colorPrinting_ = 0;
  fitPage_ = 2;
}

void PrinterSettings::SetPrinterName(const char* name) { CopyText(printerName_, kNameSize, name); }

}  // namespace kavelo
