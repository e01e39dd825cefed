// PrinterSettings: the print layout of one job (printer, orientation,
// margins, unit, colour, font values).  Texts live in fixed, always
// terminated fields; values longer than a field are cut to fit.
#ifndef KAVELO_PRINTCONTROL_PRINTER_SETTINGS_H_
#define KAVELO_PRINTCONTROL_PRINTER_SETTINGS_H_

#include <cstddef>
#include <cstdint>

namespace kavelo::printcontrol {

class PrinterSettings {
 public:
  static constexpr size_t kNameSize = 512;
  static constexpr size_t kValueSize = 80;

  // A new record: defaults (unit from the user's locale) and no printer.
  PrinterSettings();

  // Every field but the printer name back to its default; the unit and the
  // margins follow the user's measurement system again.
  void Reset();
  // Same, with the measurement system given (1: U.S., inches; else metric).
  void Reset(int measurementSystem);

  // An empty or null name empties the printer name.
  void SetPrinterName(const char* name);
  const char* printerName() const { return printerName_; }

  const char* footer() const { return footer_; }
  const char* header() const { return header_; }
  const char* marginTop() const { return marginTop_; }
  const char* marginBottom() const { return marginBottom_; }
  const char* marginLeft() const { return marginLeft_; }
  const char* marginRight() const { return marginRight_; }
  int32_t orientation() const { return orientation_; }
  const char* fontName() const { return fontName_; }
  const char* fontSize() const { return fontSize_; }
  const char* lineHeight() const { return lineHeight_; }
  uint32_t unit() const { return unit_; }
  uint32_t colorPrinting() const { return colorPrinting_; }
  int32_t fitPage() const { return fitPage_; }

  // 1 (portrait) or 2 (landscape); any other value sets 1.
  void SetOrientation(int32_t orientation) {
    orientation_ = (orientation == 1 || orientation == 2) ? orientation : 1;
  }

  // Footer and header: an empty or null value leaves the field unchanged.
  void SetFooter(const char* value);
  void SetHeader(const char* value);
  // Margins: an empty or null value empties the field.
  void SetMarginTop(const char* value);
  void SetMarginBottom(const char* value);
  void SetMarginLeft(const char* value);
  void SetMarginRight(const char* value);
  // Font values: an empty or null value leaves the field unchanged.
  void SetFontName(const char* value);
  void SetFontSize(const char* value);
  void SetLineHeight(const char* value);
  // 1 (inch) or 0 (millimetre); any other value sets 0.
  void SetUnit(uint32_t unit) { unit_ = unit == 1 ? 1 : 0; }
  // 0 or 1; any other value leaves the field unchanged.
  void SetColorPrinting(uint32_t value) {
    if (value == 0 || value == 1) colorPrinting_ = value;
  }
  // Any value; 1 and 2 select a fit computation, others none.
  void SetFitPage(int32_t value) { fitPage_ = value; }

 private:
  char printerName_[kNameSize];
  char footer_[kValueSize];
  char header_[kValueSize];
  char marginTop_[kValueSize];
  char marginBottom_[kValueSize];
  char marginLeft_[kValueSize];
  char marginRight_[kValueSize];
  int32_t orientation_ = 1;
  char fontName_[kValueSize];
  char fontSize_[kValueSize];
  char lineHeight_[kValueSize];
  uint32_t unit_ = 0;  // 1 inch, 0 millimetre
  uint32_t colorPrinting_ = 0;
  int32_t fitPage_ = 2;
};

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_PRINTER_SETTINGS_H_
