// kavelo-reg: query, add and delete registry keys and values, as the
// Windows "reg" command does.  See tools/reg_command.h.
#include <iostream>
#include <string>
#include <vector>

#include "tools/reg_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return kavelo::tools::RegMain(args, std::cout, std::cerr, std::cin);
}
