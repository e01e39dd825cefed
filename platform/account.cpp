#include "platform/account.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include <sys/stat.h>

#include "platform/sysinfo.h"

namespace kavelo::platform {

namespace {

// getpwnam_r / getpwuid_r with a buffer that grows until the entry fits.
template <typename Lookup>
bool LookUp(Lookup lookup, Account* account) {
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 4096);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    int rc = lookup(&entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr || found->pw_name == nullptr) return false;
    account->name = found->pw_name;
    account->uid = found->pw_uid;
    account->gid = found->pw_gid;
    account->home = found->pw_dir ? found->pw_dir : "";
    return true;
  }
}

std::string Failed(const std::string& what, int error) {
  return what + ": " + ErrorText(error);
}

}  // namespace

bool LookUpAccount(const std::string& name, Account* account) {
  if (name.empty()) return false;
  return LookUp(
      [&name](passwd* entry, char* buffer, size_t size, passwd** found) {
        return getpwnam_r(name.c_str(), entry, buffer, size, found);
      },
      account);
}

bool RunsAsRoot() { return geteuid() == 0; }

std::string SwitchToAccount(const Account& account) {
  Account root;
  bool rootKnown = LookUp(
      [](passwd* entry, char* buffer, size_t size, passwd** found) {
        return getpwuid_r(0, entry, buffer, size, found);
      },
      &root);
  // Groups first: only root may set them, and the group ids before the
  // user ids for the same reason.  glibc applies each change to every
  // thread of the process.
  if (initgroups(account.name.c_str(), account.gid) != 0) return Failed("initgroups", errno);
  if (setresgid(account.gid, account.gid, account.gid) != 0) return Failed("setresgid", errno);
  if (setresuid(account.uid, account.uid, account.uid) != 0) return Failed("setresuid", errno);
  uid_t ruid, euid, suid;
  gid_t rgid, egid, sgid;
  if (getresuid(&ruid, &euid, &suid) != 0 || getresgid(&rgid, &egid, &sgid) != 0) {
    return Failed("getresuid", errno);
  }
  if (ruid != account.uid || euid != account.uid || suid != account.uid ||
      rgid != account.gid || egid != account.gid || sgid != account.gid) {
    return "the user and group ids are not the account's after the switch";
  }
  // With every id the account's the capabilities are gone; taking root back
  // must fail.
  if (account.uid != 0 && (setuid(0) == 0 || setgid(0) == 0)) {
    return "the process could take root back after the switch";
  }
  setenv("USER", account.name.c_str(), 1);
  setenv("LOGNAME", account.name.c_str(), 1);
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0' || (rootKnown && root.home == home)) {
    setenv("HOME", account.home.c_str(), 1);
  }
  return "";
}

bool CanWritePath(const std::string& path) {
  if (path.empty()) return false;
  struct stat info;
  if (lstat(path.c_str(), &info) == 0) return access(path.c_str(), W_OK) == 0;
  size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  return access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace kavelo::platform
