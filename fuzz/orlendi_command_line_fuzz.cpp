// orlendi's command line: the input cut at its NUL bytes is the argument
// vector; the joined key text is read into a print request.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "protocol/integer_text.h"
#include "protocol/orlendi_command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args = kavelo::fuzz::SplitAtNul(data, size);
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  const std::string text =
      kavelo::protocol::JoinKeyArguments(static_cast<int>(argv.size()), argv.data());
  kavelo::protocol::PrintRequest request = kavelo::protocol::ParsePrintRequest(text);
  if (request.copies < 1) __builtin_trap();  // documented: at least 1
  kavelo::protocol::ReadInteger(text.c_str(), kavelo::protocol::LeadingSpace::kEndsTheNumber);
  kavelo::protocol::KeyValue(text, "copy", text.size() / 2);
  return 0;
}
