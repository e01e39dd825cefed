#include "orlendi/page_layout.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/spooler.h"
#include "protocol/orlendi_command_line.h"

namespace kavelo::orlendi {
namespace {

PrintRequest Request(int orientation, int unit, const char* left, const char* right,
                     const char* top, const char* bottom) {
  PrintRequest r;
  r.orientation = orientation;
  r.unit = unit;
  r.marginLeft = left;
  r.marginRight = right;
  r.marginTop = top;
  r.marginBottom = bottom;
  return r;
}

TEST(PageLayoutTest, SheetOrientationMarginsAndEdges) {
  // A4 at 600 dpi with a 1/6 inch edge at the sides and 1/2 inch at the top.
  const platform::PageGeometry a4 = {4961, 7016, 100, 300, 600, 600};
  struct Case {
    const char* name;
    const platform::PageGeometry* geometry;
    PrintRequest request;
    PageLayout expected;
  } cases[] = {
      {"portrait mm",
       &a4,
       Request(1, 0, "10.0", "20", "30", "40"),
       {210.016, 297.011, 10, 20, 30, 40}},
      {"landscape turns sheet and edges",
       &a4,
       Request(2, 0, "1", "1", "1", "1"),
       {297.011, 210.016, 12.7, 12.7, 4.233, 4.233}},
      {"portrait edges",
       &a4,
       Request(1, 0, "1", "1", "1", "1"),
       {210.016, 297.011, 4.233, 4.233, 12.7, 12.7}},
      {"inches",
       &a4,
       Request(1, 1, "0.5", "1", "0.75", "2"),
       {210.016, 297.011, 12.7, 25.4, 19.05, 50.8}},
      {"not numbers count as the edge",
       &a4,
       Request(1, 0, "", "abc", "-5", "1e400"),
       {210.016, 297.011, 4.233, 4.233, 12.7, 12.7}},
      {"no geometry: A4 without edges",
       nullptr,
       Request(2, 0, "0", " 3 ", "0", "0"),
       {297, 210, 0, 3, 0, 0}},
  };
  for (const Case& c : cases) {
    PageLayout layout;
    std::string error;
    ASSERT_TRUE(ComputePageLayout(c.geometry, c.request, &layout, &error)) << c.name << error;
    EXPECT_NEAR(c.expected.widthMm, layout.widthMm, 0.01) << c.name;
    EXPECT_NEAR(c.expected.heightMm, layout.heightMm, 0.01) << c.name;
    EXPECT_NEAR(c.expected.leftMm, layout.leftMm, 0.01) << c.name;
    EXPECT_NEAR(c.expected.rightMm, layout.rightMm, 0.01) << c.name;
    EXPECT_NEAR(c.expected.topMm, layout.topMm, 0.01) << c.name;
    EXPECT_NEAR(c.expected.bottomMm, layout.bottomMm, 0.01) << c.name;
  }
}

TEST(PageLayoutTest, MarginsThatLeaveNoPageAreRefused) {
  PageLayout layout;
  std::string error;
  EXPECT_FALSE(ComputePageLayout(nullptr, Request(1, 0, "100", "101", "0", "0"), &layout, &error));
  EXPECT_NE(std::string::npos, error.find("margins")) << error;
  error.clear();
  EXPECT_FALSE(ComputePageLayout(nullptr, Request(2, 1, "0", "0", "4", "4.5"), &layout, &error));
  EXPECT_FALSE(error.empty());
}

TEST(PageLayoutTest, StyleSheetForcesSizeAndMargins) {
  PageLayout layout{297, 210, 1, 2, 3, 4};
  std::string css = PageStyleSheet(layout);
  EXPECT_NE(std::string::npos, css.find("size: 297.000mm 210.000mm !important;")) << css;
  EXPECT_NE(std::string::npos, css.find("margin: 3.000mm 2.000mm 4.000mm 1.000mm !important;"))
      << css;
}

}  // namespace
}  // namespace kavelo::orlendi
