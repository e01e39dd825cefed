// Text helpers of tests.
#ifndef KAVELO_TESTSUPPORT_TEXT_H_
#define KAVELO_TESTSUPPORT_TEXT_H_

#include <cstddef>
#include <string>

namespace kavelo::testsupport {

// How often what occurs in text, overlapping occurrences counted.
inline size_t CountOf(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

}  // namespace kavelo::testsupport

#endif  // KAVELO_TESTSUPPORT_TEXT_H_
