// The operations on the spooler chosen by KAVELO_SPOOLER, here the folder
// spooler: the print control's own calls (no spooler given) reach it.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "printcontrol/layout/printer_metrics.h"
#include "printcontrol/printing/job_watcher.h"
#include "printcontrol/printing/print_job_control.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"

namespace kavelo::printcontrol {
namespace {

TEST(JobControlFolderTest, DefaultSpoolerCallsReachTheFolderSpooler) {
  testsupport::TempDir folder("kavelo-jc-folder");
  const std::string root = folder.path();
  ASSERT_EQ(0, mkdir((root + "/Office Laser").c_str(), 0755));
  testsupport::ScopedEnv spooler("KAVELO_SPOOLER", "dir:" + root);

  char result[512];
  ResolvePrinterName(("FILE:" + root + "/Office Laser").c_str(), result, sizeof result);
  EXPECT_STREQ("Office Laser", result);
  ResolvePrinterName("office laser", result, sizeof result);
  EXPECT_STREQ("office laser", result);

  PrinterMetrics metrics;
  ASSERT_EQ(0, GetPrinterMetrics("OFFICE LASER", &metrics));
  EXPECT_EQ(600, metrics.resolutionX);
  EXPECT_NEAR(4961, metrics.physicalWidth, 1);  // A4 at 600 dpi
  EXPECT_NEAR(7016, metrics.physicalHeight, 1);
  EXPECT_NEAR(150, metrics.offsetX, 1);  // 6.35 mm
  EXPECT_EQ(-1, GetPrinterMetrics("Nowhere", &metrics));

  // Nothing ever stays queued on the folder spooler: a watcher that saw no
  // job keeps waiting until it is stopped.
  SetWatcherValues(1, (root + "/a.html").c_str(), "Office Laser");
  WatcherThread watcher;
  ASSERT_EQ(0, watcher.Start());
  EXPECT_FALSE(watcher.WaitEnded(200));
  StopWatcherThread(&watcher);
  EXPECT_FALSE(watcher.Exists());
}

}  // namespace
}  // namespace kavelo::printcontrol
