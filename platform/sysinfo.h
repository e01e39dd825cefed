// Small operating-system services: who and where the program is.
#ifndef KAVELO_PLATFORM_SYSINFO_H_
#define KAVELO_PLATFORM_SYSINFO_H_

#include <string>

namespace kavelo::platform {

// The running program's full path (/proc/self/exe, links resolved); empty
// when it cannot be read.
std::string ProgramPath();

// The name of the effective user; empty when it has none.
std::string UserName();

// The host name.
std::string ComputerName();

// A fresh GUID in registry text form: "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}"
// with upper-case hex, from 16 random bytes shaped as a version-4 UUID.
std::string NewGuidText();

// The measurement system of the user's locale (LC_MEASUREMENT): 0 metric,
// 1 U.S.
int MeasurementSystem();

// errno as text ("No such file or directory").
std::string ErrorText(int error);

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_SYSINFO_H_
