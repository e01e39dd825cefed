// Report splitting: the first two bytes choose the size factor (1..8) and
// the job's page count (0..255), the rest is the report file.  The chunk
// files land in the scratch folder, which is emptied after each run.
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "printcontrol/render/separate_xml_file.h"
#include "printcontrol/render/string_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int factor = 1 + data[0] % 8;
  const int pageCount = data[1];
  const std::string path = kavelo::fuzz::WriteScratchFile("report.xml", data + 2, size - 2);
  kavelo::printcontrol::StringList chunks("string2");
  char error[1024] = "";
  kavelo::printcontrol::SeparateXmlFile(path.c_str(), factor, pageCount, &chunks, error);
  if (strnlen(error, sizeof error) >= sizeof error) __builtin_trap();
  // A failure leaves no chunk listed; every listed chunk exists.
  if (error[0] != '\0' && chunks.Count() != 0) __builtin_trap();
  for (int i = 0; i < chunks.Count(); ++i) {
    if (access(chunks.Item(i), F_OK) != 0) __builtin_trap();
  }
  kavelo::fuzz::ClearScratchDir();
  return 0;
}
