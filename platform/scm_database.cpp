// The service database kept in the registry, and its lock file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <sys/file.h>

#include "platform/registry.h"
#include "platform/scm.h"
#include "platform/shared_file.h"

namespace kavelo::platform {

namespace {

constexpr const char* kServicesPath = "SYSTEM\\CurrentControlSet\\Services";
constexpr const char* kLockFileName = "ServicesActive.lock";

thread_local long lastError = 0;

// Records the code as the thread's last error and returns it.
long Fail(long code) {
  lastError = code;
  return code;
}

long Succeed() {
  lastError = kScmOk;
  return kScmOk;
}

// Registry codes pass through unchanged, except that a missing service key
// means the service does not exist.
long FromRegistry(long status) {
  return status == kErrorFileNotFound ? kScmServiceDoesNotExist : status;
}

bool ValidServiceName(const std::string& name) {
  return !name.empty() && name.size() <= 256 && name.find('\\') == std::string::npos &&
         name.find('/') == std::string::npos;
}

std::string ServiceKeyPath(const std::string& name) {
  return std::string(kServicesPath) + "\\" + name;
}

// A REG_SZ / REG_EXPAND_SZ value as stored by Windows: the text and one NUL.
long SetText(const RegKey& key, const char* valueName, uint32_t type, const std::string& text) {
  return RegSetValue(key, valueName, type, text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

long SetDword(const RegKey& key, const char* valueName, uint32_t value) {
  return RegSetDword(key, valueName, value);
}

// Each name followed by a NUL, the list ended by one more NUL.  An empty
// list removes the value.
long SetDependencies(const RegKey& key, const std::vector<std::string>& names) {
  std::string data;
  for (const std::string& name : names) {
    if (name.empty()) continue;
    data += name;
    data.push_back('\0');
  }
  if (data.empty()) {
    long status = RegDeleteValue(key, "DependOnService");
    return status == kErrorFileNotFound ? kErrorSuccess : status;
  }
  data.push_back('\0');
  return RegSetValue(key, "DependOnService", REG_MULTI_SZ, data.data(),
                     static_cast<uint32_t>(data.size()));
}

bool ReadText(const RegKey& key, const char* valueName, std::string* text) {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (RegQueryValue(key, valueName, &type, &data) != kErrorSuccess) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  std::string value(data.begin(), data.end());
  *text = value.substr(0, value.find('\0'));
  return true;
}

uint32_t ReadDword(const RegKey& key, const char* valueName) {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (RegQueryValue(key, valueName, &type, &data) != kErrorSuccess || type != REG_DWORD ||
      data.size() < 4) {
    return 0;
  }
  return DwordFromBytes(data.data(), data.size());
}

std::vector<std::string> ReadMultiText(const RegKey& key, const char* valueName) {
  std::vector<std::string> items;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (RegQueryValue(key, valueName, &type, &data) != kErrorSuccess) return items;
  std::string item;
  for (uint8_t byte : data) {
    if (byte != 0) {
      item.push_back(static_cast<char>(byte));
    } else if (item.empty()) {
      break;  // the empty item ends the list
    } else {
      items.push_back(item);
      item.clear();
    }
  }
  if (!item.empty()) items.push_back(item);  // a list written without its final NULs
  return items;
}

bool IsInstalledKey(const RegKey& key) {
  std::string imagePath;
  return ReadText(key, "ImagePath", &imagePath);
}

// Opens the service's key and checks that it is an installed service.
long OpenServiceKey(const std::string& name, uint32_t access, RegKey* key) {
  long status = RegOpenKey(Hive::kLocalMachine, ServiceKeyPath(name), access, key);
  if (status != kErrorSuccess) return FromRegistry(status);
  if (!IsInstalledKey(*key)) return kScmServiceDoesNotExist;
  return kErrorSuccess;
}

}  // namespace

struct ScmInternals {
  static void Open(ScManager* manager, bool writable) {
    manager->open_ = true;
    manager->writable_ = writable;
  }
  static void Open(ServiceHandle* service, const std::string& name, uint32_t access) {
    service->open_ = true;
    service->name_ = name;
    service->access_ = access;
  }
  static bool Writable(const ScManager& manager) { return manager.writable_; }
};

long LastError() { return lastError; }
void SetLastError(long code) { lastError = code; }

long OpenSCManager(uint32_t access, ScManager* manager) {
  *manager = ScManager();
  RegKey key;
  // Creating services, locking the database and changing boot
  // configuration write; connecting, enumerating and querying only read.
  constexpr uint32_t kWritingRights = 0x0002 | 0x0008 | 0x0020;
  bool writable = (access & kWritingRights) != 0;
  if (writable) {
    // Creating the services key proves that the caller may write the
    // database (and makes an empty registry a valid, empty database).
    long status = RegCreateKey(Hive::kLocalMachine, kServicesPath, KEY_ALL_ACCESS, &key);
    if (status != kErrorSuccess) return Fail(status);
  } else {
    long status = RegOpenKey(Hive::kLocalMachine, kServicesPath, KEY_READ, &key);
    if (status != kErrorSuccess && status != kErrorFileNotFound) return Fail(status);
  }
  ScmInternals::Open(manager, writable);
  return Succeed();
}

long CreateService(const ScManager& manager, const std::string& name,
                   const std::string& displayName, uint32_t access, uint32_t serviceType,
                   uint32_t startType, uint32_t errorControl, const std::string& binaryPathName,
                   const std::vector<std::string>& dependencies, const std::string& account,
                   ServiceHandle* service) {
  *service = ServiceHandle();
  if (!manager.IsOpen()) return Fail(kScmInvalidHandle);
  if (!manager.writable()) return Fail(kScmAccessDenied);
  if (!ValidServiceName(name)) return Fail(kScmInvalidName);
  if (binaryPathName.empty()) return Fail(kScmInvalidParameter);
  RegKey key;
  long status = RegCreateKey(Hive::kLocalMachine, ServiceKeyPath(name), KEY_ALL_ACCESS, &key);
  if (status != kErrorSuccess) return Fail(status);
  // A key without ImagePath (parameters written before installation) is
  // not a service yet: the installation fills it in.
  if (IsInstalledKey(key)) return Fail(kScmServiceExists);
  const std::string& shownName = displayName.empty() ? name : displayName;
  const std::string& startName = account.empty() ? std::string(kLocalSystemAccount) : account;
  long results[] = {
      SetDword(key, "Type", serviceType),
      SetDword(key, "Start", startType),
      SetDword(key, "ErrorControl", errorControl),
      SetText(key, "DisplayName", REG_SZ, shownName),
      SetText(key, "ObjectName", REG_SZ, startName),
      SetDependencies(key, dependencies),
      // ImagePath last: it marks the service installed once the rest is there.
      SetText(key, "ImagePath", REG_EXPAND_SZ, binaryPathName),
  };
  for (long result : results) {
    if (result != kErrorSuccess) return Fail(result);
  }
  ScmInternals::Open(service, name, access);
  return Succeed();
}

long OpenService(const ScManager& manager, const std::string& name, uint32_t access,
                 ServiceHandle* service) {
  *service = ServiceHandle();
  if (!manager.IsOpen()) return Fail(kScmInvalidHandle);
  if (!ValidServiceName(name)) return Fail(kScmInvalidName);
  bool needsWrite = (access & (kServiceChangeConfig | kServiceDelete)) != 0;
  if (needsWrite && !manager.writable()) return Fail(kScmAccessDenied);
  RegKey key;
  long status = OpenServiceKey(name, KEY_READ, &key);
  if (status != kErrorSuccess) return Fail(status);
  ScmInternals::Open(service, name, access);
  return Succeed();
}

long DeleteService(const ServiceHandle& service) {
  if (!service.IsOpen()) return Fail(kScmInvalidHandle);
  if ((service.access() & kServiceDelete) == 0) return Fail(kScmAccessDenied);
  RegKey key;
  long status = OpenServiceKey(service.name(), KEY_READ, &key);
  if (status != kErrorSuccess) return Fail(status);
  RegKey services;
  status = RegOpenKey(Hive::kLocalMachine, kServicesPath, KEY_ALL_ACCESS, &services);
  if (status == kErrorSuccess) status = RegDeleteTree(services, service.name());
  return status == kErrorSuccess ? Succeed() : Fail(FromRegistry(status));
}

long QueryServiceConfig(const ServiceHandle& service, ServiceConfig* config) {
  *config = ServiceConfig();
  if (!service.IsOpen()) return Fail(kScmInvalidHandle);
  if ((service.access() & kServiceQueryConfig) == 0) return Fail(kScmAccessDenied);
  RegKey key;
  long status = OpenServiceKey(service.name(), KEY_READ, &key);
  if (status != kErrorSuccess) return Fail(status);
  config->serviceType = ReadDword(key, "Type");
  config->startType = ReadDword(key, "Start");
  config->errorControl = ReadDword(key, "ErrorControl");
  ReadText(key, "ImagePath", &config->binaryPathName);
  ReadText(key, "Group", &config->loadOrderGroup);
  config->tagId = ReadDword(key, "Tag");
  config->dependencies = ReadMultiText(key, "DependOnService");
  ReadText(key, "ObjectName", &config->serviceStartName);
  ReadText(key, "DisplayName", &config->displayName);
  return Succeed();
}

long ChangeServiceConfig(const ServiceHandle& service, uint32_t serviceType, uint32_t startType,
                         uint32_t errorControl, const std::string* binaryPathName,
                         const std::vector<std::string>* dependencies, const std::string* account,
                         const std::string* displayName) {
  if (!service.IsOpen()) return Fail(kScmInvalidHandle);
  if ((service.access() & kServiceChangeConfig) == 0) return Fail(kScmAccessDenied);
  if (binaryPathName && binaryPathName->empty()) return Fail(kScmInvalidParameter);
  RegKey key;
  long status = OpenServiceKey(service.name(), KEY_ALL_ACCESS, &key);
  if (status != kErrorSuccess) return Fail(status);
  auto apply = [&status](long result) {
    if (status == kErrorSuccess) status = result;
  };
  if (serviceType != kServiceNoChange) apply(SetDword(key, "Type", serviceType));
  if (startType != kServiceNoChange) apply(SetDword(key, "Start", startType));
  if (errorControl != kServiceNoChange) apply(SetDword(key, "ErrorControl", errorControl));
  if (binaryPathName) apply(SetText(key, "ImagePath", REG_EXPAND_SZ, *binaryPathName));
  if (dependencies) apply(SetDependencies(key, *dependencies));
  if (account) {
    apply(SetText(key, "ObjectName", REG_SZ,
                  account->empty() ? std::string(kLocalSystemAccount) : *account));
  }
  if (displayName && !displayName->empty()) {
    apply(SetText(key, "DisplayName", REG_SZ, *displayName));
  }
  return status == kErrorSuccess ? Succeed() : Fail(status);
}

namespace {
void ReleaseLockFile(int* fd) {
  if (*fd < 0) return;
  flock(*fd, LOCK_UN);
  close(*fd);
  *fd = -1;
}
}  // namespace

ScLock::~ScLock() { ReleaseLockFile(&fd_); }

ScLock::ScLock(ScLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

ScLock& ScLock::operator=(ScLock&& other) noexcept {
  if (this != &other) {
    ReleaseLockFile(&fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

long LockServiceDatabase(const ScManager& manager, ScLock* lock) {
  if (!manager.IsOpen()) return Fail(kScmInvalidHandle);
  if (!ScmInternals::Writable(manager)) return Fail(kScmAccessDenied);
  ReleaseLockFile(&lock->fd_);
  std::string path = RegistryDirectory() + "/" + kLockFileName;
  // Shared like the hives: a lock file that root's installer made first
  // must still open for writing by the service's account.
  int fd = OpenSharedFile(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0)
    return Fail(StatusFromErrno(errno, kScmInvalidHandle));
  // flock locks belong to the open file description, so a second lock
  // taken in this same process is refused like one from another process.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    return Fail(error == EWOULDBLOCK ? kScmDatabaseLocked : kScmAccessDenied);
  }
  lock->fd_ = fd;
  return Succeed();
}

std::string ServiceInstanceLockPath(const std::string& name) {
  std::string dir = RegistryDirectory();
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir + "/" + name + ".lock";
}

long LockServiceInstance(const std::string& name, ScLock* lock) {
  ReleaseLockFile(&lock->fd_);
  if (!ValidServiceName(name)) return Fail(kScmInvalidName);
  std::string path = ServiceInstanceLockPath(name);
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail(kScmAccessDenied);
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    int error = errno;
    close(fd);
    return Fail(error == EWOULDBLOCK ? kScmServiceAlreadyRunning : kScmAccessDenied);
  }
  lock->fd_ = fd;
  return Succeed();
}

long UnlockServiceDatabase(ScLock* lock) {
  if (lock->fd_ < 0) return Fail(kScmInvalidHandle);
  ReleaseLockFile(&lock->fd_);
  return Succeed();
}

}  // namespace kavelo::platform
