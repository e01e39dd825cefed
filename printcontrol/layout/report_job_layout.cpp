// The print layout step of the job set-up: the stylesheet's print style, the
// printer settings chosen for the orientation, the page fit and the
// print-style copy of the stylesheet.
#include "printcontrol/job/job_note.h"
#include "printcontrol/job/report_job.h"
#include "printcontrol/job/text_field.h"
#include "printcontrol/layout/page_fit.h"
#include "printcontrol/layout/print_style.h"
#include "printcontrol/layout/print_style_rewrite.h"
#include "printcontrol/layout/printer_metrics.h"
#include "printcontrol/layout/printer_settings_store.h"

namespace kavelo::printcontrol {

namespace {

// Runs the fit the settings ask for (fitPage 1: page fit, 2: stylesheet
// fit, others none); false when none ran.
bool RunFit(const ReportJob& job, int fitPage, const PrinterMetrics& metrics, char* fontSize,
            char* lineHeight, size_t size) {
  const PrinterSettings& s = job.settings;
  FitInputs inputs;
  inputs.orientation = s.orientation();
  inputs.unit = static_cast<int>(s.unit());
  inputs.marginLeft = s.marginLeft();
  inputs.marginRight = s.marginRight();
  inputs.marginTop = s.marginTop();
  inputs.marginBottom = s.marginBottom();
  inputs.realWidth = job.realWidth;
  inputs.realLength = job.realLength;
  inputs.styleFontSize = job.xslFontSize;
  inputs.styleLineHeight = job.xslLineHeight;
  if (fitPage == 1) {
    ComputeFitToPage(metrics, inputs, fontSize, lineHeight, size);
    return true;
  }
  if (fitPage == 2) {
    ComputeFitWithStyle(metrics, inputs, fontSize, lineHeight, size);
    return true;
  }
  return false;
}

}  // namespace

void ReportJob::ChoosePrintLayout(int orientation) {
  // The stylesheet's own print style.
  PrintStyleFields style;
  style.fontFamily = xslFontFamily;
  style.fontSize = xslFontSize;
  style.lineHeight = xslLineHeight;
  style.fieldSize = kTextSize;
  ReadPrintStyle(xslPath, style);

  // The settings start at their defaults with the resolved printer.
  char keyPath[kTextSize];
  const int group = LoadPrinterSettings(title, settings.printerName(), width, &settings, keyPath,
                                        sizeof(keyPath));
  NoteSettingsGroup(group > 0 ? keyPath : "");
  PrinterMetrics metrics;
  auto fitAllowed = [&] {
    return realWidth > 0 && realLength > 0 &&
           GetPrinterMetrics(settings.printerName(), &metrics) == 0;
  };

  char fontSize[kTextSize] = "";
  char lineHeight[kTextSize] = "";
  bool fitRan = false;
  if (orientation > 0 && group > 0 && settings.orientation() != orientation) {
    // The stored layout was made for the other orientation.
    settings.Reset();
    settings.SetOrientation(orientation);
  } else if (orientation > 0 && group < 0) {
    settings.SetOrientation(orientation);
  } else if (group > 0) {
    if (fitAllowed()) {
      fitRan = RunFit(*this, settings.fitPage(), metrics, fontSize, lineHeight, sizeof(fontSize));
    }
  } else if (fitAllowed()) {
    fitRan = RunFit(*this, 2, metrics, fontSize, lineHeight, sizeof(fontSize));
  }
  if (!fitRan) return;

  settings.SetFontSize(fontSize);
  settings.SetLineHeight(lineHeight);
  if (fontSize[0] == '\0' || lineHeight[0] == '\0') return;
  if (RewritePrintStyle(xslPath, effectiveXslPath, kTextSize, settings.fontName(),
                        settings.fontSize(), settings.lineHeight()) != 0) {
    CopyText(effectiveXslPath, kTextSize, xslPath);
  }
}

}  // namespace kavelo::printcontrol
