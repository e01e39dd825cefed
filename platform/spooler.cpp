// Choosing the spooler back end from KAVELO_SPOOLER.
#include "platform/spooler.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "platform/internal/spooler_internal.h"

namespace kavelo::platform {
namespace {

// How long the choice of a back end waits for a CUPS scheduler to answer.
constexpr int kCupsProbeTimeoutMs = 1000;

}  // namespace

std::string DefaultPrinterFolder(const std::string& systemFolder, const char* home) {
  if (PrepareDefaultPrinterFolder(systemFolder)) return systemFolder;
  if (home == nullptr || *home == '\0') return systemFolder;
  std::string folder = home;
  for (const char* part : {"/.local", "/share"}) {
    folder += part;
    mkdir(folder.c_str(), 0700);
  }
  folder += "/kavelo-printers";
  PrepareDefaultPrinterFolder(folder);
  return folder;
}

std::string EffectiveUserName() {
  uid_t uid = geteuid();
  std::vector<char> buffer(16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return std::to_string(uid);
}

std::unique_ptr<Spooler> OpenSpooler() {
  const char* choice = getenv("KAVELO_SPOOLER");
  std::string value = choice != nullptr ? choice : "";
  if (value == "cups") return MakeCupsSpooler();
  if (value.compare(0, 4, "dir:") == 0 && value.size() > 4) {
    return MakeFolderSpooler(value.substr(4));
  }
  if (!value.empty()) return nullptr;
  const char* server = getenv("CUPS_SERVER");
  if ((server != nullptr && *server != '\0') || CupsSchedulerAnswers(kCupsProbeTimeoutMs)) {
    return MakeCupsSpooler();
  }
  return MakeFolderSpooler(DefaultPrinterFolder(kDefaultPrinterFolder, getenv("HOME")));
}

}  // namespace kavelo::platform
