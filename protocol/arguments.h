// Argument vectors joined back into one text, as each program reads its
// command line after the system split it at blanks.
#ifndef KAVELO_PROTOCOL_ARGUMENTS_H_
#define KAVELO_PROTOCOL_ARGUMENTS_H_

#include <cstddef>
#include <string>
#include <vector>

namespace kavelo::protocol {

// Joins argv[first] .. argv[argc-1] with single blanks; an empty (or null)
// argument contributes nothing, not even a blank.  The print control and
// orlendi read their key text this way.
std::string JoinArguments(int argc, const char* const* argv, int first = 1);
std::string JoinArguments(const std::vector<std::string>& args, size_t first = 1);

// Joins argv[1] .. argv[argc-1] with one blank before every argument but
// the first, empty ones included.  The service reads its own options this
// way.
std::string JoinEveryArgument(int argc, const char* const* argv);

}  // namespace kavelo::protocol

#endif  // KAVELO_PROTOCOL_ARGUMENTS_H_
