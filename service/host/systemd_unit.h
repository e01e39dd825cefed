// The systemd unit of the service, written on installation where systemd
// runs the machine so that "systemctl start brelvane" runs the service
// (Type=notify: the service reports its status through sd_notify).
#ifndef KAVELO_SERVICE_SYSTEMD_UNIT_H_
#define KAVELO_SERVICE_SYSTEMD_UNIT_H_

#include <string>
#include <vector>

namespace kavelo::service {

// The folder for the unit: KAVELO_SYSTEMD_UNIT_DIR when set (the caller
// chose it), else /etc/systemd/system when systemd runs the machine
// (/run/systemd/system exists), else empty: no unit is kept.
std::string SystemdUnitDirectory();

// The unit a Debian package installed for the service: the first of
// FOLDERS (by default /lib/systemd/system, /usr/lib/systemd/system) that
// holds UNITNAME, as a path; empty when none does.  Such a unit is the
// package's, and the installation writes none of its own over it.
std::string PackagedSystemdUnit(const std::string& unitName,
                                const std::vector<std::string>& folders = {
                                    "/lib/systemd/system", "/usr/lib/systemd/system"});

// The unit file's name for a service: its name in lower case + ".service".
std::string SystemdUnitName(const std::string& serviceName);

struct SystemdUnitSettings {
  std::string description;  // the display name
  std::string programPath;
  std::string account;  // empty or "LocalSystem" (any case): no User line
  // NAME=VALUE pairs for Environment lines.
  std::vector<std::string> environment;
};

// The unit's text.  Paths and values are quoted and escaped for systemd,
// so blanks, quotes, backslashes and "%" survive.
std::string SystemdUnitText(const SystemdUnitSettings& settings);

// The KAVELO_* settings of this process that a service started by systemd
// must see the same way: KAVELO_REGISTRY_DIR, KAVELO_EVENTLOG,
// KAVELO_SPOOLER, each when set.
std::vector<std::string> ServiceEnvironment();

// Writes the unit into the folder (atomically: a temporary file renamed
// over the old one).  Returns 0 or an errno value.
int WriteSystemdUnit(const std::string& directory, const std::string& unitName,
                     const std::string& text);

// Removes the unit; a missing unit is no failure.  Returns 0 or errno.
int RemoveSystemdUnit(const std::string& directory, const std::string& unitName);

// Asks systemd to read its units again, when the folder is systemd's own.
void ReloadSystemd(const std::string& directory);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_SYSTEMD_UNIT_H_
