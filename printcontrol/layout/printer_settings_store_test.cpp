// The stored printer settings in a temporary registry, and the choice of
// the print layout in the job set-up on the folder spooler's A4 printer.
#include "printcontrol/layout/printer_settings_store.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "printcontrol/job/report_job.h"
#include "printcontrol/layout/printer_settings.h"
#include "printcontrol/test/job_files.h"
#include "testsupport/files.h"

namespace kavelo::printcontrol {
namespace {

using testsupport::JobWorld;

const std::string kRoot = kPrinterSettingsRoot;

using Values = std::map<std::string, std::string>;

// Creates the group key below the root with string values.
void StoreGroup(const std::string& group, const Values& values) {
  platform::RegKey key;
  ASSERT_EQ(platform::RegCreateKey(platform::Hive::kCurrentUser, kRoot + "\\" + group,
                                   platform::KEY_ALL_ACCESS, &key),
            platform::kErrorSuccess);
  for (const auto& [name, text] : values) {
    ASSERT_EQ(platform::RegSetValue(key, name, platform::REG_SZ, text.c_str(),
                                    static_cast<uint32_t>(text.size() + 1)),
              platform::kErrorSuccess);
  }
}

TEST(PrinterSettingsStoreTest, LooksUpTheFirstGroupThatExists) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, Values>> stored;
    const char* title;
    const char* printer;
    int width;
    int group;
    std::string keyPath;  // below the root
    int orientation;
    const char* marginTop;
    const char* fontName;
    const char* fontSize;
    uint32_t unit;
    uint32_t color;
    int fitPage;
  };
  const Case cases[] = {
      {"nothing stored",
       {},
       "Sales",
       "Office",
       132,
       -1,
       "WidthDefault\\132",
       1,
       "10.0",
       "Courier New",
       "6.7",
       0,
       0,
       2},
      {"title group wins even when empty",
       {{"ReportDefault\\Sales", {}}, {"PrinterDefault\\Office", {{"Orientation", "2"}}}},
       "Sales",
       "Office",
       132,
       1,
       "ReportDefault\\Sales",
       1,
       "10.0",
       "Courier New",
       "6.7",
       0,
       0,
       2},
      {"share name: backslashes become blanks",
       {{"PrinterDefault\\  srv Office", {{"Orientation", "2"}, {"FontSize", "9"}}}},
       "",
       "\\\\srv\\Office",
       0,
       2,
       "PrinterDefault\\  srv Office",
       2,
       "10.0",
       "Courier New",
       "9",
       0,
       0,
       2},
      {"width group, conversions",
       {{"WidthDefault\\80",
         {{"Orientation", "3"},
          {"Unit", "inch"},
          {"ColorPrinting", "1"},
          {"FitPage", "0"},
          {"Margin_Top", ""},
          {"FontName", ""}}}},
       "",
       "",
       80,
       3,
       "WidthDefault\\80",
       1,
       "",
       "Courier New",
       "6.7",
       0,
       1,
       0},
      {"unit 1, a colour value of 2 is off",
       {{"WidthDefault\\80", {{"Unit", "1"}, {"ColorPrinting", "2"}, {"Margin_Top", "0.3"}}}},
       "",
       "",
       80,
       3,
       "WidthDefault\\80",
       1,
       "0.3",
       "Courier New",
       "6.7",
       1,
       0,
       2},
      {"title with a backslash names a deeper key",
       {{"ReportDefault\\A", {{"Orientation", "2"}}}},
       "A\\B",
       "",
       0,
       -1,
       "ReportDefault\\A\\B",
       1,
       "10.0",
       "Courier New",
       "6.7",
       0,
       0,
       2},
      {"group below zero width is not tried",
       {{"WidthDefault\\0", {{"Orientation", "2"}}}},
       "",
       "",
       0,
       -1,
       "",
       1,
       "10.0",
       "Courier New",
       "6.7",
       0,
       0,
       2},
  };
  for (const Case& c : cases) {
    JobWorld world;
    for (const auto& [group, values] : c.stored) StoreGroup(group, values);
    PrinterSettings settings;
    settings.Reset(0);
    char keyPath[512] = "";
    int group =
        LoadPrinterSettings(c.title, c.printer, c.width, &settings, keyPath, sizeof(keyPath));
    EXPECT_EQ(group, c.group) << c.name;
    EXPECT_EQ(keyPath, c.keyPath.empty() ? "" : kRoot + "\\" + c.keyPath) << c.name;
    EXPECT_EQ(settings.orientation(), c.orientation) << c.name;
    EXPECT_STREQ(settings.marginTop(), c.marginTop) << c.name;
    EXPECT_STREQ(settings.marginLeft(), "12.5") << c.name;
    EXPECT_STREQ(settings.fontName(), c.fontName) << c.name;
    EXPECT_STREQ(settings.fontSize(), c.fontSize) << c.name;
    EXPECT_EQ(settings.unit(), c.unit) << c.name;
    EXPECT_EQ(settings.colorPrinting(), c.color) << c.name;
    EXPECT_EQ(settings.fitPage(), c.fitPage) << c.name;
  }
}

TEST(PrinterSettingsStoreTest, ValuesOfOtherTypesOrTooLongAreMissing) {
  JobWorld world;
  StoreGroup("PrinterDefault\\Office", {{"FontName", std::string(600, 'x')}});
  platform::RegKey key;
  ASSERT_EQ(platform::RegOpenKey(platform::Hive::kCurrentUser, kRoot + "\\PrinterDefault\\Office",
                                 platform::KEY_ALL_ACCESS, &key),
            platform::kErrorSuccess);
  uint32_t two = 2;
  ASSERT_EQ(platform::RegSetValue(key, "Orientation", platform::REG_DWORD, &two, 4),
            platform::kErrorSuccess);
  PrinterSettings settings;
  EXPECT_EQ(ReadSettingsKey((kRoot + "\\PrinterDefault\\Office").c_str(), &settings), 0);
  EXPECT_EQ(settings.orientation(), 1);
  EXPECT_STREQ(settings.fontName(), "Courier New");
  EXPECT_EQ(ReadSettingsKey((kRoot + "\\PrinterDefault\\Nowhere").c_str(), &settings), -1);
}

// The folder spooler's printers are A4 at 600 dpi with 6.35 mm edges.  With
// the default margins (10 mm / 12.5 mm, or their inch forms: the same dots)
// the page fit of a 132 x 60 report is 6.55 pt at 1.8; the sample
// stylesheet's own 9 pt / 1.2em then caps the line height at 1.2.  In
// landscape the page fit shrinks the font: 8.4 pt at 1.0.
TEST(ChoosePrintLayoutTest, SettingsFitAndPrintStyleCopy) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, Values>> stored;
    const char* printer;
    int realWidth;
    int orien;
    int orientation;
    const char* fontName;
    const char* fontSize;
    const char* lineHeight;
    bool copy;  // the print-style copy is the effective stylesheet
  };
  const Case cases[] = {
      {"no orien, no group: stylesheet fit",
       {},
       "Office",
       132,
       0,
       1,
       "Courier New",
       "6.55",
       "1.2",
       true},
      {"orien 1, no group: no fit", {}, "Office", 132, 1, 1, "Courier New", "6.7", "1.8", false},
      {"orien 2, group in portrait: defaults, landscape, no fit",
       {{"PrinterDefault\\Office", {{"Orientation", "1"}, {"FontName", "Arial"}}}},
       "Office",
       132,
       2,
       2,
       "Courier New",
       "6.7",
       "1.8",
       false},
      {"orien 1, group in portrait: its fit runs",
       {{"PrinterDefault\\Office", {{"Orientation", "1"}, {"FontName", "Arial"}}}},
       "Office",
       132,
       1,
       1,
       "Arial",
       "6.55",
       "1.2",
       true},
      {"group in landscape with page fit",
       {{"PrinterDefault\\Office", {{"Orientation", "2"}, {"FitPage", "1"}}}},
       "Office",
       132,
       0,
       2,
       "Courier New",
       "8.4",
       "1.0",
       true},
      {"group without a fit",
       {{"PrinterDefault\\Office", {{"FitPage", "0"}, {"FontSize", "9"}}}},
       "Office",
       132,
       0,
       1,
       "Courier New",
       "9",
       "1.8",
       false},
      {"no report width: no fit", {}, "Office", 0, 0, 1, "Courier New", "6.7", "1.8", false},
      {"unknown printer: no fit", {}, "Nowhere", 132, 0, 1, "Courier New", "6.7", "1.8", false},
  };
  const std::string sample =
      testsupport::ReadFileOrMissing(KAVELO_SOURCE_DIR "/printcontrol/testdata/sales.xsl");
  for (const Case& c : cases) {
    JobWorld world;
    world.AddPrinter("Office");
    for (const auto& [group, values] : c.stored) StoreGroup(group, values);
    std::string xsl = world.WriteSpoolFile("00000001.xsl", sample);
    ReportJob job;
    std::strcpy(job.xslPath, xsl.c_str());
    std::strcpy(job.effectiveXslPath, xsl.c_str());
    std::strcpy(job.title, "Monthly Sales");
    job.settings.SetPrinterName(c.printer);
    job.realWidth = c.realWidth;
    job.realLength = 60;
    job.ChoosePrintLayout(c.orien);

    EXPECT_STREQ(job.xslFontSize, "9") << c.name;
    EXPECT_STREQ(job.xslLineHeight, "1.2") << c.name;
    EXPECT_EQ(job.settings.orientation(), c.orientation) << c.name;
    EXPECT_STREQ(job.settings.fontName(), c.fontName) << c.name;
    EXPECT_STREQ(job.settings.fontSize(), c.fontSize) << c.name;
    EXPECT_STREQ(job.settings.lineHeight(), c.lineHeight) << c.name;
    const std::string copyPath = world.spool() + "/00000001st.xsl";
    EXPECT_EQ(job.effectiveXslPath, c.copy ? copyPath : xsl) << c.name;
    EXPECT_EQ(testsupport::FileExists(copyPath), c.copy) << c.name;
    if (c.copy) {
      std::string copy = testsupport::ReadFileOrMissing(copyPath);
      EXPECT_NE(copy.find(std::string("body { font-family:\"") + c.fontName + "\"; font-size:" +
                          c.fontSize + "pt; line-height:" + c.lineHeight + "em; }"),
                std::string::npos)
          << c.name << "\n"
          << copy;
    }
  }
}

}  // namespace
}  // namespace kavelo::printcontrol
