// The entity decoder of report header texts: the first byte chooses the
// destination's size (1..256), the rest up to a NUL is the source text.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "printcontrol/render/html_entities.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t destinationSize = 1 + data[0];
  const std::string source = kavelo::fuzz::AsText(data + 1, size - 1);
  char* destination = new char[destinationSize];  // exact size: overruns show
  kavelo::printcontrol::DecodeHtmlEntities(source.c_str(), destination, destinationSize);
  const size_t length = strnlen(destination, destinationSize);
  if (length >= destinationSize) __builtin_trap();  // not terminated
  // Decoding never makes a text longer.
  if (length > source.size()) __builtin_trap();
  delete[] destination;
  return 0;
}
