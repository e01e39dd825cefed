// The stored printer settings of the user: groups of string values below
// "Software\KAVELO\SELKOINIT\PRINTERSETTING" in the current user's hive, one
// group per report title, per printer and per report width.
#ifndef KAVELO_PRINTCONTROL_PRINTER_SETTINGS_STORE_H_
#define KAVELO_PRINTCONTROL_PRINTER_SETTINGS_STORE_H_

#include <cstddef>

namespace kavelo::printcontrol {

class PrinterSettings;

// The root of the groups (registry key path, "\" separated).
constexpr const char kPrinterSettingsRoot[] = "Software\\KAVELO\\SELKOINIT\\PRINTERSETTING";
// A value longer than this (with its NUL) counts as missing.
constexpr size_t kSettingsValueSize = 512;

// Reads the group at keyPath (below the current user's hive) into *settings
// through the setters' rules; values that are missing, not REG_SZ or too
// long leave their fields as they are.  0 when the key exists (whatever it
// holds), -1 when it cannot be opened for reading.
int ReadSettingsKey(const char* keyPath, PrinterSettings* settings);

// Looks for the first group that exists, in this order:
//   1 ROOT\ReportDefault\TITLE      (title not empty)
//   2 ROOT\PrinterDefault\PRINTER   (printer name not empty; every "\" of the
//                                    name becomes a blank)
//   3 ROOT\WidthDefault\WIDTH       (width above 0)
// and reads it into *settings.  Returns the group's number, or -1 when none
// exists.  keyPath (keyPathSize bytes; may be null) receives the path of the
// last key tried.
int LoadPrinterSettings(const char* title, const char* printerName, int width,
                        PrinterSettings* settings, char* keyPath, size_t keyPathSize);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_PRINTER_SETTINGS_STORE_H_
