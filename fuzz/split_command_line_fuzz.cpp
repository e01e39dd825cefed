// The command-line splitter that starts every program (Windows C runtime
// rules).  The input as one command line must split without fault; cut at
// its NUL bytes it is an argument vector, which JoinCommandLine must turn
// into a line that splits back into the same arguments.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/process.h"

using kavelo::platform::JoinCommandLine;
using kavelo::platform::SplitCommandLine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  SplitCommandLine(kavelo::fuzz::AsText(data, size));

  std::vector<std::string> args = kavelo::fuzz::SplitAtNul(data, size);
  // A program path never holds a double quote, and is never empty.
  if (args[0].empty() || args[0].find('"') != std::string::npos) return 0;
  if (SplitCommandLine(JoinCommandLine(args)) != args) __builtin_trap();
  return 0;
}
