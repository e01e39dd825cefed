#include "orlendi/page_layout.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/spooler.h"
#include "protocol/orlendi_command_line.h"

namespace kavelo::orlendi {

namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kA4WidthMm = 210.0, kA4HeightMm = 297.0;
constexpr double kMinPrintableMm = 10.0;
constexpr double kMaxMarginMm = 10000.0;

double DotsToMm(int dots, int resolution) { return dots * kMmPerInch / resolution; }

}  // namespace

bool ParseMarginMm(const std::string& text, int unit, double* mm) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(begin, &end);
  if (end == begin || errno != 0) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0' || !std::isfinite(value) || value < 0) return false;
  if (unit == 1) value *= kMmPerInch;
  if (value > kMaxMarginMm) return false;
  *mm = value;
  return true;
}

bool ComputePageLayout(const platform::PageGeometry* geometry, const PrintRequest& request,
                       PageLayout* layout, std::string* error) {
  double sheetWidth = kA4WidthMm, sheetHeight = kA4HeightMm, edgeX = 0, edgeY = 0;
  if (geometry != nullptr && geometry->resolutionX > 0 && geometry->resolutionY > 0 &&
      geometry->physicalWidth > 0 && geometry->physicalHeight > 0) {
    sheetWidth = DotsToMm(geometry->physicalWidth, geometry->resolutionX);
    sheetHeight = DotsToMm(geometry->physicalHeight, geometry->resolutionY);
    edgeX = DotsToMm(std::max(geometry->offsetX, 0), geometry->resolutionX);
    edgeY = DotsToMm(std::max(geometry->offsetY, 0), geometry->resolutionY);
  }
  // Landscape turns the sheet: its height runs across the page and the top
  // edge of the sheet becomes a side edge.
  bool landscape = request.orientation == 2;
  layout->widthMm = landscape ? sheetHeight : sheetWidth;
  layout->heightMm = landscape ? sheetWidth : sheetHeight;
  double sideEdge = landscape ? edgeY : edgeX;
  double headEdge = landscape ? edgeX : edgeY;

  auto margin = [&request](const std::string& text, double edge) {
    double mm = 0;
    if (!ParseMarginMm(text, request.unit, &mm)) mm = 0;
    return std::max(mm, edge);
  };
  layout->leftMm = margin(request.marginLeft, sideEdge);
  layout->rightMm = margin(request.marginRight, sideEdge);
  layout->topMm = margin(request.marginTop, headEdge);
  layout->bottomMm = margin(request.marginBottom, headEdge);

  if (layout->widthMm - layout->leftMm - layout->rightMm < kMinPrintableMm ||
      layout->heightMm - layout->topMm - layout->bottomMm < kMinPrintableMm) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "Error:the margins leave no room on a page of %.1f x %.1f mm "
                  "(left %.1f, right %.1f, top %.1f, bottom %.1f mm).",
                  layout->widthMm, layout->heightMm, layout->leftMm, layout->rightMm, layout->topMm,
                  layout->bottomMm);
    *error = text;
    return false;
  }
  return true;
}

std::string PageStyleSheet(const PageLayout& layout) {
  char text[512];
  // A user stylesheet's !important wins over the document's rules whatever
  // their selectors (":first", named pages), so one rule covers every page.
  std::snprintf(text, sizeof text,
                "@page {\n"
                "  size: %.3fmm %.3fmm !important;\n"
                "  margin: %.3fmm %.3fmm %.3fmm %.3fmm !important;\n"
                "}\n",
                layout.widthMm, layout.heightMm, layout.topMm, layout.rightMm, layout.bottomMm,
                layout.leftMm);
  return text;
}

}  // namespace kavelo::orlendi
