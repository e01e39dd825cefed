// Pieces shared by the spooler back ends and OpenSpooler; not part of the
// interface.
#ifndef KAVELO_PLATFORM_INTERNAL_SPOOLER_INTERNAL_H_
#define KAVELO_PLATFORM_INTERNAL_SPOOLER_INTERNAL_H_

#include <string>

namespace kavelo::platform {

// True when a CUPS scheduler at libcups' server (CUPS_SERVER, client.conf or
// the default socket) answers an IPP request within timeoutMs.
bool CupsSchedulerAnswers(int timeoutMs);

// Makes FOLDER with one printer "PDF" named in FOLDER/default, when FOLDER
// does not exist yet.  True when FOLDER exists afterwards.
bool PrepareDefaultPrinterFolder(const std::string& folder);

// The folder of the folder spooler when none is chosen: systemFolder when
// it exists or can be made, else HOME/.local/share/kavelo-printers (made
// when missing).  A folder made here gets the printer "PDF" as default.
std::string DefaultPrinterFolder(const std::string& systemFolder, const char* home);

// The user name of the effective user id (its number when it has no name).
std::string EffectiveUserName();

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_INTERNAL_SPOOLER_INTERNAL_H_
