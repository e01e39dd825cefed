// orlendi: prints one HTML file (see orlendi --help).
#include "orlendi/html_printer.h"

int main(int argc, char** argv) { return kavelo::orlendi::RunOrlendiProgram(argc, argv); }
