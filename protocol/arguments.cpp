#include "protocol/arguments.h"

namespace kavelo::protocol {

namespace {

void AppendArgument(const char* argument, std::string* text) {
  if (argument == nullptr || argument[0] == '\0') return;
  if (!text->empty()) *text += ' ';
  *text += argument;
}

}  // namespace

std::string JoinArguments(int argc, const char* const* argv, int first) {
  std::string text;
  for (int i = first; i < argc; ++i) AppendArgument(argv[i], &text);
  return text;
}

std::string JoinArguments(const std::vector<std::string>& args, size_t first) {
  std::string text;
  for (size_t i = first; i < args.size(); ++i) AppendArgument(args[i].c_str(), &text);
  return text;
}

std::string JoinEveryArgument(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

}  // namespace kavelo::protocol
