#include "printcontrol/print_job_control.h"

#include <chrono>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "printcontrol/spool_job_list.h"
#include "printcontrol/test/fake_spooler.h"

namespace kavelo {
namespace {

using platform::JobCommand;
using platform::PrinterAccess;
using testing::FakeJob;
using testing::FakeSpooler;
using testing::FakeSpoolerState;

class PrintJobControlTest : public ::testing::Test {
 protected:
  PrintJobControlTest() : state_(std::make_shared<FakeSpoolerState>()), spooler_(state_) {}
  std::shared_ptr<FakeSpoolerState> state_;
  FakeSpooler spooler_;
};

TEST_F(PrintJobControlTest, ResolvePrinterNameKeepsSpellingAndMapsPorts) {
  state_->AddPrinter("Office-Laser", "ipp://10.0.0.7/ipp/print");
  state_->AddPrinter("Raw", "file:///dev/null");
  state_->AddPrinter("Raw-Second", "file:///dev/null");
  state_->AddPrinter("", "usb://nameless");
  state_->AddPrinter("Blank; Name \"q\" \\", "socket://h:9100");
  struct Case {
    const char* given;
    const char* expected;
  } cases[] = {
      {"Office-Laser", "Office-Laser"},
      {"office-LASER", "office-LASER"},  // case differs: the given spelling stays
      {"IPP://10.0.0.7/ipp/print", "Office-Laser"},
      {"file:///dev/null", "Raw"},  // the first printer on that port
      {"blank; name \"Q\" \\", "blank; name \"Q\" \\"},
      {"socket://h:9100", "Blank; Name \"q\" \\"},
      {"usb://nameless", ""},  // a port whose printer has no name
      {"Office", ""},          // a prefix is not the name
      {"Nowhere", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    char result[512] = "stale";
    ResolvePrinterName(spooler_, c.given, result, sizeof result);
    EXPECT_STREQ(c.expected, result) << "given: " << c.given;
  }
}

TEST_F(PrintJobControlTest, ResolvePrinterNameNeverOverflowsItsResult) {
  std::string longName(600, 'P');
  state_->AddPrinter(longName, "lpd://long");
  char small[16];
  std::memset(small, 'x', sizeof small);
  ResolvePrinterName(spooler_, "lpd://long", small, sizeof small);
  EXPECT_STREQ("", small);  // a cut name would be another printer
  char big[1024];
  ResolvePrinterName(spooler_, "lpd://long", big, sizeof big);
  EXPECT_EQ(longName, big);
  char guard[4] = {'a', 'b', 'c', 'd'};
  ResolvePrinterName(spooler_, longName.c_str(), guard, 3);
  EXPECT_STREQ("", guard);
  EXPECT_EQ('d', guard[3]);

  state_->listPrintersStatus = platform::kSpoolerUnavailable;
  ResolvePrinterName(spooler_, longName.c_str(), big, sizeof big);
  EXPECT_STREQ("", big);
}

}  // namespace
}  // namespace kavelo
