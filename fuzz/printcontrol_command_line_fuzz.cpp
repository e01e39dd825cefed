// The print control's command line: the input cut at its NUL bytes is the
// argument vector, joined as the program joins it; every key is read into a
// field of the program's size and the number keys are read as numbers.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "printcontrol/job/command_line.h"
#include "protocol/arguments.h"
#include "protocol/job_command_line.h"

namespace {

void CheckField(const char* field, size_t size, kavelo::protocol::KeyValue result) {
  if (strnlen(field, size) >= size) __builtin_trap();  // not terminated
  if (result != kavelo::protocol::KeyValue::kFound && field[0] != '\0') __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args = kavelo::fuzz::SplitAtNul(data, size);
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::string text = kavelo::protocol::JoinArguments(static_cast<int>(argv.size()), argv.data());
  if (text.size() >= kavelo::printcontrol::kCommandLineSize)
    text.resize(kavelo::printcontrol::kCommandLineSize - 1);

  char* value = new char[kavelo::printcontrol::kValueSize];  // exact size: overruns show
  for (const char* key : {"xml", "xsl", "orien", "copy"}) {
    CheckField(
        value, kavelo::printcontrol::kValueSize,
        kavelo::protocol::FindKeyValue(text.c_str(), key, value, kavelo::printcontrol::kValueSize));
  }
  CheckField(
      value, kavelo::printcontrol::kValueSize,
      kavelo::protocol::FindPrinterName(text.c_str(), value, kavelo::printcontrol::kValueSize));
  for (const char* key : {"fromPage", "toPage", "copy", "orien"}) {
    kavelo::protocol::FindKeyNumber(text.c_str(), key);
  }
  kavelo::printcontrol::FindUtilityDirectory("", text.c_str(), value,
                                             kavelo::printcontrol::kValueSize);
  if (strnlen(value, kavelo::printcontrol::kValueSize) >= kavelo::printcontrol::kValueSize)
    __builtin_trap();
  kavelo::printcontrol::FindUtilityDirectory(args[0].c_str(), text.c_str(), value,
                                             kavelo::printcontrol::kValueSize);
  if (strnlen(value, kavelo::printcontrol::kValueSize) >= kavelo::printcontrol::kValueSize)
    __builtin_trap();
  delete[] value;
  return 0;
}
