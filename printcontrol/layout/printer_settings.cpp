#include "printcontrol/layout/printer_settings.h"

#include "platform/sysinfo.h"
#include "printcontrol/job/text_field.h"

namespace kavelo::printcontrol {

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

namespace {

bool IsEmpty(const char* value) { return value == nullptr || value[0] == '\0'; }

}  // namespace

void PrinterSettings::SetFooter(const char* value) {
  if (!IsEmpty(value)) CopyText(footer_, kValueSize, value);
}
void PrinterSettings::SetHeader(const char* value) {
  if (!IsEmpty(value)) CopyText(header_, kValueSize, value);
}
void PrinterSettings::SetMarginTop(const char* value) { CopyText(marginTop_, kValueSize, value); }
void PrinterSettings::SetMarginBottom(const char* value) {
  CopyText(marginBottom_, kValueSize, value);
}
void PrinterSettings::SetMarginLeft(const char* value) { CopyText(marginLeft_, kValueSize, value); }
void PrinterSettings::SetMarginRight(const char* value) {
  CopyText(marginRight_, kValueSize, value);
}
void PrinterSettings::SetFontName(const char* value) {
  if (!IsEmpty(value)) CopyText(fontName_, kValueSize, value);
}
void PrinterSettings::SetFontSize(const char* value) {
  if (!IsEmpty(value)) CopyText(fontSize_, kValueSize, value);
}
void PrinterSettings::SetLineHeight(const char* value) {
  if (!IsEmpty(value)) CopyText(lineHeight_, kValueSize, value);
}

}  // namespace kavelo::printcontrol
