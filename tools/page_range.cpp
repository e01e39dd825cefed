#include "tools/page_range.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace kavelo {

namespace {

constexpr size_t kBlock = 65536;
// The longest tested text, "<soft_page/>", less its ">".
constexpr size_t kCarry = 11;

// Whether the n bytes ending at data[end] (inclusive) are tag, any case.
bool TagEndsAt(const char* data, size_t end, const char* tag, size_t n) {
  return end + 1 >= n && strncasecmp(data + end + 1 - n, tag, n) == 0;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trimmed(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

// The items of the option text: separated by commas outside quotes.
std::vector<std::string> Items(const std::string& options) {
  std::vector<std::string> items(1);
  char quote = '\0';
  for (char c : options) {
    if (quote != '\0') {
      if (c == quote) quote = '\0';
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ',') {
      items.emplace_back();
      continue;
    }
    items.back() += c;
  }
  return items;
}

// The value of the first item whose key is name (any letter case).
bool FindOption(const std::string& options, const char* name, std::string* value) {
  for (const std::string& item : Items(options)) {
    const size_t equals = item.find('=');
    if (equals == std::string::npos) continue;
    if (strcasecmp(Trimmed(item.substr(0, equals)).c_str(), name) == 0) {
      *value = item.substr(equals + 1);
      return true;
    }
  }
  return false;
}

}  // namespace

bool CountReportPages(const std::string& path, int32_t* pages, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  // The tail of the previous block comes first, so that a tag cut by a
  // block boundary is still seen whole.
  std::vector<char> buffer(kCarry + kBlock);
  size_t carried = 0;
  int64_t breaks = 0;
  bool ended = false;
  while (!ended) {
    ssize_t got = read(fd, buffer.data() + carried, kBlock);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = "cannot read " + path + ": " + std::strerror(errno);
      close(fd);
      return false;
    }
    if (got == 0) break;
    const size_t used = carried + static_cast<size_t>(got);
    const char* data = buffer.data();
    for (const char* at = data + carried;
         (at = static_cast<const char*>(std::memchr(at, '>', data + used - at))) != nullptr; ++at) {
      const size_t end = static_cast<size_t>(at - data);
      if (TagEndsAt(data, end, "<page/>", 7) || TagEndsAt(data, end, "<soft_page/>", 12)) {
        ++breaks;
      } else if (TagEndsAt(data, end, "</report>", 9)) {
        ended = true;
        break;
      }
    }
    carried = used < kCarry ? used : kCarry;
    std::memmove(buffer.data(), buffer.data() + used - carried, carried);
  }
  close(fd);
  const int64_t count = breaks + 1;
  *pages = count > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                       : static_cast<int32_t>(count);
  return true;
}

bool NamesLastPage(const std::string& options) {
  std::string value;
  return FindOption(options, "topage", &value);
}

std::string CompletePageRange(const std::string& options, int32_t pages) {
  if (NamesLastPage(options)) return options;
  std::string value;
  const bool fromPageNamed = FindOption(options, "frompage", &value);
  int64_t fromPage = 1;
  if (fromPageNamed) {
    value = Trimmed(value);
    if (!value.empty() && (value[0] == '\'' || value[0] == '"')) value.erase(0, 1);
    // Read as the service reads it; the print control counts from page 1
    // for anything below.
    fromPage = std::max<int64_t>(1, std::atoi(value.c_str()));
  }
  const int64_t last = std::min<int64_t>(fromPage + std::max<int32_t>(pages, 1) - 1,
                                         std::numeric_limits<int32_t>::max());
  std::string completed = options;
  // A comma right after another would start the next item with it.
  const std::string trimmed = Trimmed(completed);
  if (!trimmed.empty() && trimmed.back() != ',') completed += ",";
  if (!fromPageNamed) completed += "frompage=1,";
  return completed + "topage=" + std::to_string(last);
}

}  // namespace kavelo
