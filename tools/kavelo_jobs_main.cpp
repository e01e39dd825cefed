// kavelo-jobs: the service's jobs, listed and steered (tools/jobs_command.h).
#include <iostream>
#include <string>
#include <vector>

#include "tools/jobs_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return kavelo::RunJobsCommand(args, std::cout, std::cerr);
}
