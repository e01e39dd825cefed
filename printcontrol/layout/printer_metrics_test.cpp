#include "printcontrol/layout/printer_metrics.h"

#include <gtest/gtest.h>

#include "printcontrol/test/fake_spooler.h"

namespace kavelo::printcontrol {
namespace {

using testsupport::FakeSpooler;
using testsupport::FakeSpoolerState;

TEST(PrinterMetricsTest, GeometryOfTheLastPrinterOfThatName) {
  auto state = std::make_shared<FakeSpoolerState>();
  state->AddPrinter("A4", "file:///dev/null");
  state->AddPrinter("Raw", "file:///dev/null");
  state->AddPrinter("a4", "ipp://other");
  state->AddPrinter("ZeroDpi", "ipp://z");
  state->geometry["A4"] = {4960, 7016, 150, 150, 600, 600};
  state->geometry["a4"] = {2480, 3508, 75, 60, 300, 300};
  state->geometry["ZeroDpi"] = {2480, 3508, 75, 60, 0, 300};
  FakeSpooler spooler(state);

  PrinterMetrics metrics;
  ASSERT_EQ(0, GetPrinterMetrics(spooler, "A4", &metrics));
  EXPECT_EQ(2480, metrics.physicalWidth);  // "a4", listed later, counts
  EXPECT_EQ(3508, metrics.physicalHeight);
  EXPECT_EQ(75, metrics.offsetX);
  EXPECT_EQ(60, metrics.offsetY);
  EXPECT_EQ(300, metrics.resolutionX);
  EXPECT_EQ(300, metrics.resolutionY);

  const char* failing[] = {"", "Raw", "Missing", "ZeroDpi"};
  for (const char* name : failing) {
    PrinterMetrics untouched;
    untouched.physicalWidth = 123;
    EXPECT_EQ(-1, GetPrinterMetrics(spooler, name, &untouched)) << name;
    EXPECT_EQ(123, untouched.physicalWidth) << name;
  }
  state->listPrintersStatus = platform::kSpoolerUnavailable;
  EXPECT_EQ(-1, GetPrinterMetrics(spooler, "A4", &metrics));
}

}  // namespace
}  // namespace kavelo::printcontrol
