#include "printcontrol/job/command_line.h"

#include <cstring>

#include "printcontrol/job/ascii_text.h"
#include "printcontrol/job/text_field.h"

namespace kavelo::printcontrol {

bool FindUtilityDirectory(const char* programPath, const char* commandLine, char* directory,
                          size_t size) {
  if (directory == nullptr || size == 0) return false;
  directory[0] = '\0';
  const char* path = nullptr;
  size_t length = 0;
  if (programPath != nullptr && programPath[0] != '\0') {
    const char* slash = std::strrchr(programPath, '/');
    if (slash == nullptr) return false;
    path = programPath;
    length = static_cast<size_t>(slash - programPath);
  } else {
    const char* name = FindIgnoreCase(commandLine, "Ostrevo");
    if (name == nullptr) return false;
    path = commandLine;
    length = static_cast<size_t>(name - commandLine);
    if (length > 0 && path[length - 1] == '/') --length;
  }
  if (length == 0 || length >= size) return false;
  CopyText(directory, size, path, length);
  return true;
}

}  // namespace kavelo::printcontrol
