// The print option text a client sends: parsed into the option list, then
// every key the intake looks up is read back.
#include <cstdint>
#include <string>

#include "common/exceptions.h"
#include "fuzz/fuzz_support.h"
#include "service/intake/option_entry.h"
#include "service/intake/option_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = kavelo::fuzz::AsText(data, size);
  kavelo::service::OptionList options;
  try {
    options.Parse(text.c_str());
  } catch (const kavelo::FrameworkException&) {
    // Documented refusals (an empty text, an empty key); what was added
    // before them stays and is read below.
  }
  for (const char* key : {"printer", "copies", "frompage", "topage", "orientation"}) {
    kavelo::service::OptionEntry entry;
    if (options.Lookup(key, &entry)) {
      std::string value = entry.value();
      if (!entry.KeyEquals(key)) __builtin_trap();  // Lookup found another key
    }
  }
  size_t count = 0;
  for (const auto& item : options.Items()) count += item.first.size() + item.second.size() > 0;
  if (options.Items().size() != options.size()) __builtin_trap();
  (void)count;
  return 0;
}
