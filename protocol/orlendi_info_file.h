// The info file by which the print control learns that orlendi has loaded
// (rendered) the HTML file: orlendi writes it, the print control waits for it.
#ifndef KAVELO_PROTOCOL_ORLENDI_INFO_FILE_H_
#define KAVELO_PROTOCOL_ORLENDI_INFO_FILE_H_

#include <string>

namespace kavelo::protocol {

// A path of at least six characters ending in ".html" gets ".info" in its
// place ("page3.html" -> "page3.info"); any other path gets "info" appended
// ("x.htm" -> "x.htminfo").
std::string InfoFileName(const std::string& htmlPath);

}  // namespace kavelo::protocol

#endif  // KAVELO_PROTOCOL_ORLENDI_INFO_FILE_H_
