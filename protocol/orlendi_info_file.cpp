#include "protocol/orlendi_info_file.h"

namespace kavelo::protocol {

std::string InfoFileName(const std::string& htmlPath) {
  static const char kHtml[] = ".html";
  const size_t suffix = sizeof kHtml - 1;
  if (htmlPath.size() >= 6 && htmlPath.compare(htmlPath.size() - suffix, suffix, kHtml) == 0) {
    return htmlPath.substr(0, htmlPath.size() - 4) + "info";
  }
  return htmlPath + "info";
}

}  // namespace kavelo::protocol
