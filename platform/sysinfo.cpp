#include "platform/sysinfo.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/random.h>

namespace kavelo::platform {
namespace {

// Fills buffer with random bytes from the kernel.
bool RandomBytes(uint8_t* buffer, size_t length) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = getrandom(buffer + done, length - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string ProgramPath() {
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);  // the path may have been cut
  }
}

std::string UserName() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 4096);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    int rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr || found->pw_name == nullptr) return std::string();
    return found->pw_name;
  }
}

std::string ComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

std::string NewGuidText() {
  uint8_t b[16];
  if (!RandomBytes(b, sizeof b)) return std::string();
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[40];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return text;
}

int MeasurementSystem() {
  // The user's locale from the environment, without touching the process's
  // global locale.
  locale_t locale = newlocale(LC_MEASUREMENT_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return 0;
  const char* value = nl_langinfo_l(_NL_MEASUREMENT_MEASUREMENT, locale);
  int system = value != nullptr && value[0] == 2 ? 1 : 0;
  freelocale(locale);
  return system;
}

std::string ErrorText(int error) {
  char buffer[256];
  // GNU strerror_r: returns the text, which may or may not be in buffer.
  return strerror_r(error, buffer, sizeof buffer);
}

}  // namespace kavelo::platform
