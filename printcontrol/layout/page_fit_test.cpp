// The page fit with worked numbers: an A4 sheet at 600 dpi (4960 x 7016
// dots) whose unprintable edges are 100 dots left and 120 dots top.
#include "printcontrol/layout/page_fit.h"

#include <string>

#include <gtest/gtest.h>

namespace kavelo::printcontrol {
namespace {

PrinterMetrics A4(int resolutionX = 600, int resolutionY = 600, int offsetX = 100,
                  int offsetY = 120) {
  PrinterMetrics m;
  m.physicalWidth = 4960;
  m.physicalHeight = 7016;
  m.offsetX = offsetX;
  m.offsetY = offsetY;
  m.resolutionX = resolutionX;
  m.resolutionY = resolutionY;
  return m;
}

FitInputs Inputs(int orientation, int unit, const char* margin, int realWidth, int realLength,
                 const char* styleSize = nullptr, const char* styleHeight = nullptr) {
  FitInputs in;
  in.orientation = orientation;
  in.unit = unit;
  in.marginLeft = in.marginRight = in.marginTop = in.marginBottom = margin;
  in.realWidth = realWidth;
  in.realLength = realLength;
  in.styleFontSize = styleSize;
  in.styleLineHeight = styleHeight;
  return in;
}

struct FitCase {
  const char* name;
  PrinterMetrics metrics;
  FitInputs inputs;
  const char* fontSize;
  const char* lineHeight;
};

TEST(PageFitTest, FitToPageWorkedNumbers) {
  const FitCase cases[] = {
      // Half-inch margins: 4360 x 6416 dots printable.  f = floor1(4360*121 /
      // (600*132)) - 0.05 = 6.6 - 0.05; z = floor1(6416*68 / (60*600*6.55)) =
      // floor1(1.850).
      {"portrait inches", A4(), Inputs(1, 1, "0.5", 132, 60), "6.55", "1.8"},
      // 10 mm reads as 0.393 in (236 dots): 4488.4 x 6544.4 dots printable.
      // f = floor1(4488.4*121 / (600*80)) - 0.05 = 11.3 - 0.05; z =
      // floor1(6544.4*68 / (60*600*11.25)) = floor1(1.099).
      {"portrait millimetres", A4(), Inputs(1, 0, "10.0", 80, 60), "11.25", "1.0"},
      // Landscape: across the sheet's height at the Y resolution (300 dpi),
      // along its width at 600.  f = floor1(6716*121 / (300*132)) - 0.05 =
      // 20.45, z = 0.4 < 1, so z = 1 and f = floor1(4360*68 / (600*60)).
      {"landscape shrinks the font", A4(600, 300), Inputs(2, 1, "0.5", 132, 60), "8.2", "1.0"},
      // 0.1 in is inside the 150-dot edge: 4660 x 6716 dots printable.
      {"margin inside the edge", A4(600, 600, 150, 150), Inputs(1, 1, "0.1", 132, 60), "7.05",
       "1.7"},
      // Few lines per page: z = floor1(5.55) is held at 2.
      {"line height held at 2", A4(), Inputs(1, 1, "0.5", 132, 20), "6.55", "2.0"},
      // Decision: no fit without a printable area (nor without a resolution
      // or a report size): the outputs stay empty and the job keeps the
      // stylesheet's own print style.
      {"no resolution", A4(0, 0), Inputs(1, 1, "0.5", 132, 60), "", ""},
      {"no report width", A4(), Inputs(1, 1, "0.5", 0, 60), "", ""},
      {"margins wider than the sheet", A4(), Inputs(1, 1, "5", 132, 60), "", ""},
  };
  for (const FitCase& c : cases) {
    char fontSize[80] = "stale";
    char lineHeight[80] = "stale";
    ComputeFitToPage(c.metrics, c.inputs, fontSize, lineHeight, sizeof(fontSize));
    EXPECT_STREQ(fontSize, c.fontSize) << c.name;
    EXPECT_STREQ(lineHeight, c.lineHeight) << c.name;
  }
}

TEST(PageFitTest, FitWithStyleWorkedNumbers) {
  const FitCase cases[] = {
      // Without a print style of the stylesheet: the default print style.
      {"no style, portrait", A4(), Inputs(1, 1, "0.5", 132, 60), "6.7", "1.8"},
      {"no style, landscape", A4(), Inputs(2, 1, "0.5", 132, 60, "", "1.5"), "6.7", "1.2"},
      // Decision: a stylesheet font size or line height of 0 (or no number)
      // gives the default print style: a line height of 0 would print the
      // lines over each other, a size of 0 nothing at all.
      {"style line height 0", A4(), Inputs(1, 1, "0.5", 132, 60, "10", "0"), "6.7", "1.8"},
      {"style font size 0", A4(), Inputs(1, 1, "0.5", 132, 60, "0", "1.5"), "6.7", "1.8"},
      {"style font size 0, landscape", A4(), Inputs(2, 1, "0.5", 132, 60, "0pt", "1.5"), "6.7",
       "1.2"},
      // The page fit gives 6.55 / 1.8; the stylesheet's 10 / 1.5 caps the
      // line height only.
      {"page font smaller", A4(), Inputs(1, 1, "0.5", 132, 60, "10", "1.5"), "6.55", "1.5"},
      // The stylesheet's 6 pt is smaller: z = floor1(6416*68 / (60*600*6)) =
      // 2.0, capped by its 1.2.
      {"style font smaller", A4(), Inputs(1, 1, "0.5", 132, 60, "6", "1.2"), "6.0", "1.2"},
      // A stylesheet line height below 1 keeps the fitted font (the font for
      // a line height of 1 would be 12.1 and overflow the width).
      {"style line height below 1", A4(), Inputs(1, 1, "0.5", 132, 60, "10", "0.9"), "6.55", "0.9"},
      // Landscape: the page fit shrank the font to 8.2 at line height 1.
      {"landscape", A4(600, 300), Inputs(2, 1, "0.5", 132, 60, "12", "1.5"), "8.2", "1.0"},
      // Decision: as the page fit, no fit without a printable area.
      {"no report width", A4(), Inputs(1, 1, "0.5", 0, 60, "10", "1.5"), "", ""},
      {"no printable area", A4(), Inputs(1, 1, "5", 132, 60, "10", "1.5"), "", ""},
  };
  for (const FitCase& c : cases) {
    char fontSize[80] = "stale";
    char lineHeight[80] = "stale";
    ComputeFitWithStyle(c.metrics, c.inputs, fontSize, lineHeight, sizeof(fontSize));
    EXPECT_STREQ(fontSize, c.fontSize) << c.name;
    EXPECT_STREQ(lineHeight, c.lineHeight) << c.name;
  }
}

// Decision: the stylesheet fit never prints a larger font than the page
// fit, or the report's lines would no longer fit the width; where even a
// line height of 1 is too much it shrinks the font, never grows it.
TEST(PageFitTest, StyleFitNeverExceedsThePageFit) {
  for (int orientation = 1; orientation <= 2; ++orientation) {
    for (int lines : {20, 60, 120}) {
      char pageFont[80];
      char pageLine[80];
      ComputeFitToPage(A4(), Inputs(orientation, 1, "0.5", 132, lines), pageFont, pageLine,
                       sizeof(pageFont));
      for (const char* size : {"1", "6", "6.55", "9", "30"}) {
        for (const char* height : {"0.5", "0.9", "1", "1.5", "3"}) {
          char fontSize[80];
          char lineHeight[80];
          ComputeFitWithStyle(A4(), Inputs(orientation, 1, "0.5", 132, lines, size, height),
                              fontSize, lineHeight, sizeof(fontSize));
          EXPECT_LE(std::stod(fontSize), std::stod(pageFont))
              << orientation << "/" << lines << " lines, style " << size << "pt " << height;
          EXPECT_LE(std::stod(fontSize), std::stod(size)) << size << "pt " << height;
        }
      }
    }
  }
}

TEST(PageFitTest, LineHeightStaysBetweenOneAndTwo) {
  for (int lines = 5; lines <= 200; lines += 5) {
    for (int orientation = 1; orientation <= 2; ++orientation) {
      char fontSize[80];
      char lineHeight[80];
      ComputeFitToPage(A4(), Inputs(orientation, 0, "12.5", 132, lines), fontSize, lineHeight,
                       sizeof(fontSize));
      double z = std::stod(lineHeight);
      EXPECT_GE(z, 1.0) << lines << " lines";
      EXPECT_LE(z, 2.0) << lines << " lines";
      EXPECT_GT(std::stod(fontSize), 0.0) << lines << " lines";
    }
  }
}

TEST(PageFitNumbersTest, RoundAndFloorToPlaces) {
  struct Case {
    double x;
    int places;
    double round;
    double floor;
  } cases[] = {
      {1.2351, 3, 1.236, 1.235},  // last digit of 1235 is 5: up
      {1.2349, 3, 1.234, 1.234},  // last digit of 1234 is 4: down
      {0, 3, 0, 0},               // x <= 0: unchanged
      {-1.5, 2, -1.5, -1.5},
      {2.5, 0, 2.5, 2.5},  // places <= 0: unchanged
      {2.5, -1, 2.5, 2.5},
      {0.39, 2, 0.39, 0.39},
      {12.3456, 1, 12.3, 12.3},  // 123: last digit 3, down
      {7.86, 1, 7.9, 7.8},       // 78: last digit 8, up
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(c.round, RoundToPlaces(c.x, c.places), 1e-9) << c.x << " to " << c.places;
    EXPECT_NEAR(c.floor, FloorToPlaces(c.x, c.places), 1e-9) << c.x << " to " << c.places;
  }
  EXPECT_NEAR(0.3937, MillimetresToInches(10), 1e-12);
}

TEST(PageFitNumbersTest, TrimTrailingZeros) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"1.500000", "1.5"}, {"2.000000", "2.0"}, {"10", "10"}, {"100", "100"},
               {"0.050", "0.05"},   {"1.", "1."},        {"", ""},     {"3.0", "3.0"},
               {"12.340", "12.34"}, {".000", ".0"}};
  for (const Case& c : cases) {
    char buffer[32];
    snprintf(buffer, sizeof(buffer), "%s", c.in);
    TrimTrailingZeros(buffer);
    EXPECT_STREQ(c.out, buffer) << c.in;
  }
  TrimTrailingZeros(nullptr);
}

}  // namespace
}  // namespace kavelo::printcontrol
