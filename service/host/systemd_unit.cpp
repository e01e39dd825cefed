#include "service/host/systemd_unit.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include <sys/stat.h>

#include "platform/process.h"

namespace kavelo::service {

namespace {

constexpr const char* kSystemUnitDirectory = "/etc/systemd/system";

// A value as one systemd word: in double quotes, with backslash and quote
// escaped and "%" doubled (systemd expands "%" specifiers).
std::string Quoted(const std::string& text) {
  std::string word = "\"";
  for (char ch : text) {
    if (ch == '\\' || ch == '"') word += '\\';
    if (ch == '%') word += '%';
    if (ch == '\n') {
      word += "\\n";
      continue;
    }
    word += ch;
  }
  return word + "\"";
}

// A line's free text (Description): newlines would end the setting.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char ch : text) {
    if (ch == '\n' || ch == '\r') ch = ' ';
    line += ch;
    if (ch == '%') line += '%';
  }
  return line;
}

}  // namespace

std::string SystemdUnitDirectory() {
  const char* chosen = std::getenv("KAVELO_SYSTEMD_UNIT_DIR");
  if (chosen && *chosen) return chosen;
  struct stat info;
  if (stat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode)) {
    return kSystemUnitDirectory;
  }
  return "";
}

std::string PackagedSystemdUnit(const std::string& unitName,
                                const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    std::string path = folder + "/" + unitName;
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return path;
  }
  return "";
}

std::string SystemdUnitName(const std::string& serviceName) {
  std::string name;
  for (char ch : serviceName)
    name += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return name + ".service";
}

std::string SystemdUnitText(const SystemdUnitSettings& settings) {
  std::string text;
  text += "[Unit]\n";
  text += "Description=" + OneLine(settings.description) + "\n";
  text += "After=network.target\n";
  text += "\n[Service]\n";
  text += "Type=notify\n";
  text += "ExecStart=" + Quoted(settings.programPath) + "\n";
  if (!settings.account.empty() && strcasecmp(settings.account.c_str(), "LocalSystem") != 0) {
    text += "User=" + OneLine(settings.account) + "\n";
  }
  for (const std::string& pair : settings.environment) {
    text += "Environment=" + Quoted(pair) + "\n";
  }
  // The stop waits for a running print control; only the service gets
  // SIGTERM, so the print control finishes its job.
  text += "KillMode=mixed\n";
  text += "\n[Install]\n";
  text += "WantedBy=multi-user.target\n";
  return text;
}

std::vector<std::string> ServiceEnvironment() {
  std::vector<std::string> pairs;
  for (const char* name : {"KAVELO_REGISTRY_DIR", "KAVELO_EVENTLOG", "KAVELO_SPOOLER"}) {
    const char* value = std::getenv(name);
    if (value && *value) pairs.push_back(std::string(name) + "=" + value);
  }
  return pairs;
}

int WriteSystemdUnit(const std::string& directory, const std::string& unitName,
                     const std::string& text) {
  std::string path = directory + "/" + unitName;
  std::string temporary = path + ".tmp";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  size_t written = 0;
  while (written < text.size()) {
    ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      close(fd);
      unlink(temporary.c_str());
      return error;
    }
    written += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    int error = errno;
    unlink(temporary.c_str());
    return error;
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    int error = errno;
    unlink(temporary.c_str());
    return error;
  }
  return 0;
}

int RemoveSystemdUnit(const std::string& directory, const std::string& unitName) {
  std::string path = directory + "/" + unitName;
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return errno;
  return 0;
}

void ReloadSystemd(const std::string& directory) {
  if (directory != kSystemUnitDirectory) return;
  for (const char* systemctl : {"/usr/bin/systemctl", "/bin/systemctl"}) {
    if (access(systemctl, X_OK) != 0) continue;
    platform::Process process;
    if (process.Start(std::vector<std::string>{systemctl, "daemon-reload"}, true) == 0) {
      // Bounded: a hung systemd must not hang the installation.
      if (process.Wait(10000) == platform::kWaitTimeout) process.Terminate();
    }
    return;
  }
}

}  // namespace kavelo::service
