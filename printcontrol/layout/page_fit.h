// The page fit: a font size in points and a line height in em that make a
// report's lines (realWidth characters) fill the printable width of the
// sheet and its pages (realLength lines) fill the printable length.
#ifndef KAVELO_PRINTCONTROL_PAGE_FIT_H_
#define KAVELO_PRINTCONTROL_PAGE_FIT_H_

#include <cstddef>

#include "printcontrol/layout/printer_metrics.h"

namespace kavelo::printcontrol {

struct FitInputs {
  int orientation = 1;  // 1 portrait, any other value landscape
  int unit = 0;         // 0 millimetres, any other value inches
  const char* marginLeft = "";
  const char* marginRight = "";
  const char* marginTop = "";
  const char* marginBottom = "";
  int realWidth = 0;   // characters per line
  int realLength = 0;  // lines per page
  // The stylesheet's own print style (numbers without unit); used by
  // ComputeFitWithStyle only.
  const char* styleFontSize = nullptr;
  const char* styleLineHeight = nullptr;
};

// Fit mode 1: the largest font whose lines fill the printable width (less a
// twentieth of a point), with the line height that fills the printable
// length, held between 1 and 2 (below 1 the font shrinks instead).
// The results go to fontSize and lineHeight (size bytes each) as "%f" texts
// without trailing zeros ("6.55", "1.0").  Nothing happens when a buffer is
// missing; otherwise both are emptied first and stay empty when the page
// cannot be fitted: no resolution, no report size, or margins that leave no
// printable area.
void ComputeFitToPage(const PrinterMetrics& metrics, const FitInputs& inputs, char* fontSize,
                      char* lineHeight, size_t size);

// Fit mode 2: never larger than the stylesheet's own font size and line
// height; when even a line height of 1 is too much the font shrinks.
// Without a stylesheet font size or line height, or when either is not a
// positive number: "6.7" and "1.8" ("1.2" in landscape).  Buffers as ComputeFitToPage.
void ComputeFitWithStyle(const PrinterMetrics& metrics, const FitInputs& inputs, char* fontSize,
                         char* lineHeight, size_t size);

// ---- The number steps of the fit, on double-precision values ----

// x millimetres in inches (x * 0.03937).
double MillimetresToInches(double x);

// Rounds x to places decimals, deciding by the last digit of the integer part
// of x * 10^places: 5 or more rounds up, else down (to three places 1.2351
// gives 1.236 and 1.2349 gives 1.234).  x is returned unchanged when places
// <= 0 or x <= 0.
double RoundToPlaces(double x, int places);

// floor(x * 10^places) / 10^places; x unchanged when places <= 0 or x <= 0.
double FloorToPlaces(double x, int places);

// In a text holding a decimal point, removes zeros from its end, keeping the
// digit directly after the point: "1.500000" -> "1.5", "2.000000" -> "2.0";
// "10" stays.  Null is allowed.
void TrimTrailingZeros(char* text);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_PAGE_FIT_H_
