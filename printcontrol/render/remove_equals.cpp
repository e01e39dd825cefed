#include "printcontrol/render/remove_equals.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace kavelo::printcontrol {

namespace {

constexpr int kErrorLimit = 1004;
constexpr size_t kLineSize = 4096;  // a line of at most 4095 characters with its end
constexpr size_t kSeparatorLength = 71;

bool StartsNoCase(const char* line, const char* prefix) {
  return strncasecmp(line, prefix, strlen(prefix)) == 0;
}

// "<h1" followed by ">" or a blank, the "h" in any case.
bool OpensH1(const char* line) {
  return line[0] == '<' && (line[1] == 'h' || line[1] == 'H') && line[2] == '1' &&
         (line[3] == '>' || line[3] == ' ');
}

bool IsSeparator(const std::string& line) {
  if (line.size() < kSeparatorLength) return false;
  for (size_t i = 0; i < kSeparatorLength; ++i) {
    if (line[i] != '=') return false;
  }
  return true;
}

// The HTML path without the extension of its file name, then "eq".
std::string TemporaryPath(const std::string& html) {
  size_t dot = html.rfind('.');
  size_t slash = html.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    return html.substr(0, dot) + "eq";
  }
  return html + "eq";
}

}  // namespace

void removeEquals(const char* htmlPath, char* error) {
  error[0] = '\0';
  std::string temporary = TemporaryPath(htmlPath);
  FILE* in = fopen(htmlPath, "r");
  if (in == nullptr) return;
  FILE* out = fopen(temporary.c_str(), "w+");
  if (out == nullptr) {
    fclose(in);
    return;
  }
  bool ok = true;
  auto put = [&](const std::string& text) {
    if (!text.empty() && fwrite(text.data(), 1, text.size(), out) != text.size()) ok = false;
  };
  bool delay = false;
  std::string held;
  char line[kLineSize];
  while (fgets(line, sizeof(line), in) != nullptr) {
    if (!delay) {
      put(line);
      delay = OpensH1(line);
    } else if (StartsNoCase(line, "</pre>")) {
      if (!IsSeparator(held)) put(held);
      held = line;
    } else if (line[0] == '<' && line[1] == '/' && (line[2] == 'h' || line[2] == 'H') &&
               strncmp(line + 3, "1>", 2) == 0) {
      put(held);
      put(line);
      held.clear();
      delay = false;
    } else {
      put(held);
      held = line;
    }
  }
  put(held);
  if (ferror(in)) ok = false;
  fclose(in);
  if (fclose(out) != 0) ok = false;
  if (!ok) {
    // A short copy must not replace the page.
    remove(temporary.c_str());
    snprintf(error, kErrorLimit + 1, "Can't write %s. (removeEquals)", temporary.c_str());
    return;
  }
  // rename replaces the HTML file in one step, so it is never lost.
  if (rename(temporary.c_str(), htmlPath) != 0) {
    remove(temporary.c_str());
    snprintf(error, kErrorLimit + 1, "Can't rename %s to %s. (removeEquals)", temporary.c_str(),
             htmlPath);
  }
}

}  // namespace kavelo::printcontrol
