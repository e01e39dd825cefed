// Ostrevo, the print control: prints one report job for the print service.
#include "printcontrol/job/ostrevo.h"

int main(int argc, char** argv) { return kavelo::printcontrol::RunOstrevo(argc, argv); }
