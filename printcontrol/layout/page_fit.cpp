#include "printcontrol/layout/page_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "printcontrol/job/text_field.h"

namespace kavelo::printcontrol {

namespace {

// The printable area of the sheet in device units, across and along the
// lines of the report.
struct Geometry {
  double printableAcross = 0;
  double printableAlong = 0;
  double acrossResolution = 0;
  double alongResolution = 0;
};

// A margin text in inches: millimetres are converted and kept to three places.
double MarginInches(const char* text, int unit) {
  double value = std::atof(text != nullptr ? text : "");
  if (unit != 0) return value;
  char rounded[64];
  std::snprintf(rounded, sizeof(rounded), "%f", RoundToPlaces(MillimetresToInches(value), 3));
  return std::atof(rounded);
}

// False when the page cannot be fitted: every later step divides by these.
bool MakeGeometry(const PrinterMetrics& m, const FitInputs& in, Geometry* g) {
  if (in.realWidth <= 0 || in.realLength <= 0) return false;
  const bool portrait = in.orientation == 1;
  const double across = portrait ? m.physicalWidth : m.physicalHeight;
  const double acrossOffset = portrait ? m.offsetX : m.offsetY;
  g->acrossResolution = portrait ? m.resolutionX : m.resolutionY;
  const double along = portrait ? m.physicalHeight : m.physicalWidth;
  const double alongOffset = portrait ? m.offsetY : m.offsetX;
  g->alongResolution = portrait ? m.resolutionY : m.resolutionX;
  if (g->acrossResolution <= 0 || g->alongResolution <= 0) return false;

  // A margin inside the unprintable edge counts as the edge.
  const double left =
      std::max(MarginInches(in.marginLeft, in.unit) * g->acrossResolution, acrossOffset);
  const double right =
      std::max(MarginInches(in.marginRight, in.unit) * g->acrossResolution, acrossOffset);
  const double top =
      std::max(MarginInches(in.marginTop, in.unit) * g->alongResolution, alongOffset);
  const double bottom =
      std::max(MarginInches(in.marginBottom, in.unit) * g->alongResolution, alongOffset);
  g->printableAcross = across - left - right;
  g->printableAlong = along - top - bottom;
  return g->printableAcross > 0 && g->printableAlong > 0;
}

double LineHeightForFont(const Geometry& g, const FitInputs& in, double f) {
  if (f <= 0) return in.orientation == 2 ? 1.2 : 1.8;
  return FloorToPlaces(g.printableAlong * 68 / (in.realLength * g.alongResolution * f), 1);
}

// The font whose lines at line height 1 fill the printable length.
double FontForFullLength(const Geometry& g, const FitInputs& in) {
  return FloorToPlaces(g.printableAlong * 68 / (g.alongResolution * in.realLength), 1);
}

double FontForUnitLineHeight(const Geometry& g, const FitInputs& in, double z, double f) {
  if (z <= 0) return 6.7;
  if (z >= 1) return f;
  return FontForFullLength(g, in);
}

void WriteNumber(double value, char* out, size_t size) {
  std::snprintf(out, size, "%f", value);
  TrimTrailingZeros(out);
}

// The page fit in numbers; false when the page cannot be fitted.
bool FitToPage(const Geometry& g, const FitInputs& in, double* fontSize, double* lineHeight) {
  double f = FloorToPlaces(g.printableAcross * 121 / (g.acrossResolution * in.realWidth), 1) - 0.05;
  // A line too wide for any font: no size would fit.
  if (f <= 0) return false;
  double z = LineHeightForFont(g, in, f);
  if (z < 1) {
    z = 1;
    f = FontForFullLength(g, in);
  } else if (z > 2) {
    z = 2;
  }
  *fontSize = f;
  *lineHeight = z;
  return true;
}

bool Empty(const char* text) { return text == nullptr || text[0] == '\0'; }

}  // namespace

void ComputeFitToPage(const PrinterMetrics& metrics, const FitInputs& inputs, char* fontSize,
                      char* lineHeight, size_t size) {
  if (fontSize == nullptr || lineHeight == nullptr || size == 0) return;
  fontSize[0] = '\0';
  lineHeight[0] = '\0';
  Geometry g;
  double f = 0;
  double z = 0;
  if (!MakeGeometry(metrics, inputs, &g) || !FitToPage(g, inputs, &f, &z)) return;
  WriteNumber(f, fontSize, size);
  WriteNumber(z, lineHeight, size);
}

void ComputeFitWithStyle(const PrinterMetrics& metrics, const FitInputs& inputs, char* fontSize,
                         char* lineHeight, size_t size) {
  if (fontSize == nullptr || lineHeight == nullptr || size == 0) return;
  fontSize[0] = '\0';
  lineHeight[0] = '\0';
  const double s = Empty(inputs.styleFontSize) ? 0 : std::atof(inputs.styleFontSize);
  const double h = Empty(inputs.styleLineHeight) ? 0 : std::atof(inputs.styleLineHeight);
  // A style value that is missing or no positive number gives the default
  // print style: a line height of 0 would print every line over the last.
  if (s <= 0 || h <= 0) {
    CopyText(fontSize, size, "6.7");
    CopyText(lineHeight, size, inputs.orientation == 2 ? "1.2" : "1.8");
    return;
  }
  Geometry g;
  double pageFont = 0;
  double pageLine = 0;
  if (!MakeGeometry(metrics, inputs, &g) || !FitToPage(g, inputs, &pageFont, &pageLine)) return;
  double fs = std::min(s, pageFont);
  double z = LineHeightForFont(g, inputs, fs);
  if (z > h) z = h;
  if (z < 1) {
    // A shorter line height than 1 shrinks the font to fit the page; it never
    // grows it, or the lines would no longer fit the width.
    fs = std::min(fs, FontForUnitLineHeight(g, inputs, z, fs));
  } else if (z > 2) {
    z = 2;
  }
  WriteNumber(fs, fontSize, size);
  WriteNumber(z, lineHeight, size);
}

double MillimetresToInches(double x) { return x * 0.03937; }

double RoundToPlaces(double x, int places) {
  if (places <= 0 || x <= 0) return x;
  double m = std::pow(10.0, places);
  double y = x * m;
  double lastDigit = std::fmod(std::floor(y), 10.0);
  return (lastDigit >= 5 ? std::ceil(y) : std::floor(y)) / m;
}

double FloorToPlaces(double x, int places) {
  if (places <= 0 || x <= 0) return x;
  double m = std::pow(10.0, places);
  return std::floor(x * m) / m;
}

void TrimTrailingZeros(char* text) {
  if (text == nullptr) return;
  char* point = std::strchr(text, '.');
  if (point == nullptr) return;
  // The digit right after the point stays, whatever it is.
  char* keep = point[1] == '\0' ? point + 1 : point + 2;
  char* end = point + std::strlen(point);
  while (end > keep && end[-1] == '0') --end;
  *end = '\0';
}

}  // namespace kavelo::printcontrol
