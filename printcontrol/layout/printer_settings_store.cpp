#include "printcontrol/layout/printer_settings_store.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "printcontrol/job/text_field.h"
#include "printcontrol/layout/printer_settings.h"
#include "protocol/integer_text.h"

namespace kavelo::printcontrol {

namespace {

using platform::Hive;

// One string value of the key at keyPath.  The key is opened for this value
// alone and closed again.  False when the key or the value is missing, the
// value is not REG_SZ, or it does not fit kSettingsValueSize bytes.
bool ReadStringValue(const std::string& keyPath, const char* name, std::string* text) {
  platform::RegKey key;
  if (platform::RegOpenKey(Hive::kCurrentUser, keyPath, platform::KEY_READ, &key) !=
      platform::kErrorSuccess) {
    return false;
  }
  uint32_t type = platform::REG_NONE;
  std::vector<uint8_t> data;
  long status = platform::RegQueryValue(key, name, &type, &data);
  key.Close();
  if (status != platform::kErrorSuccess || type != platform::REG_SZ) return false;
  // The stored text ends at its first NUL; one without a NUL needs room for one.
  size_t length = 0;
  while (length < data.size() && data[length] != 0) ++length;
  if (length + 1 > kSettingsValueSize) return false;
  text->assign(reinterpret_cast<const char*>(data.data()), length);
  return true;
}

// The stored form of a flag: "1" is on, any other text off.
uint32_t Flag(const std::string& text) { return text == "1" ? 1 : 0; }

}  // namespace

int ReadSettingsKey(const char* keyPath, PrinterSettings* settings) {
  if (keyPath == nullptr || settings == nullptr) return -1;
  {
    platform::RegKey key;
    if (platform::RegOpenKey(Hive::kCurrentUser, keyPath, platform::KEY_READ, &key) !=
        platform::kErrorSuccess) {
      return -1;
    }
  }
  const std::string path = keyPath;
  std::string v;
  if (ReadStringValue(path, "Footer", &v)) settings->SetFooter(v.c_str());
  if (ReadStringValue(path, "Header", &v)) settings->SetHeader(v.c_str());
  if (ReadStringValue(path, "Margin_Top", &v)) settings->SetMarginTop(v.c_str());
  if (ReadStringValue(path, "Margin_Bottom", &v)) settings->SetMarginBottom(v.c_str());
  if (ReadStringValue(path, "Margin_Left", &v)) settings->SetMarginLeft(v.c_str());
  if (ReadStringValue(path, "Margin_Right", &v)) settings->SetMarginRight(v.c_str());
  if (ReadStringValue(path, "Orientation", &v))
    settings->SetOrientation(protocol::ReadInteger(v.c_str()));
  if (ReadStringValue(path, "FontName", &v)) settings->SetFontName(v.c_str());
  if (ReadStringValue(path, "FontSize", &v)) settings->SetFontSize(v.c_str());
  if (ReadStringValue(path, "LineHeight", &v)) settings->SetLineHeight(v.c_str());
  if (ReadStringValue(path, "Unit", &v)) settings->SetUnit(Flag(v));
  if (ReadStringValue(path, "ColorPrinting", &v)) settings->SetColorPrinting(Flag(v));
  if (ReadStringValue(path, "FitPage", &v)) settings->SetFitPage(protocol::ReadInteger(v.c_str()));
  return 0;
}

int LoadPrinterSettings(const char* title, const char* printerName, int width,
                        PrinterSettings* settings, char* keyPath, size_t keyPathSize) {
  std::vector<std::pair<int, std::string>> groups;
  const std::string root = kPrinterSettingsRoot;
  if (title != nullptr && title[0] != '\0') {
    groups.emplace_back(1, root + "\\ReportDefault\\" + title);
  }
  if (printerName != nullptr && printerName[0] != '\0') {
    // A share name ("\\server\printer") must not name deeper keys.
    std::string name = printerName;
    for (char& c : name) {
      if (c == '\\') c = ' ';
    }
    groups.emplace_back(2, root + "\\PrinterDefault\\" + name);
  }
  if (width > 0) groups.emplace_back(3, root + "\\WidthDefault\\" + std::to_string(width));

  for (const auto& [number, path] : groups) {
    if (keyPath != nullptr && keyPathSize > 0) CopyText(keyPath, keyPathSize, path.c_str());
    if (ReadSettingsKey(path.c_str(), settings) == 0) return number;
  }
  return -1;
}

}  // namespace kavelo::printcontrol
