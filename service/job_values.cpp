#include "service/job_values.h"

#include <cctype>
#include <limits>

#include "service/option_list.h"

namespace kavelo {

int32_t ReadDecimal(const char* text) {
  if (text == nullptr) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (std::isspace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  // Accumulate the magnitude and stop growing once it is past the range.
  int64_t magnitude = 0;
  constexpr int64_t kCap = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (magnitude <= kCap) magnitude = magnitude * 10 + (*p - '0');
  }
  if (negative)
    return magnitude >= kCap ? std::numeric_limits<int32_t>::min()
                             : static_cast<int32_t>(-magnitude);
  return magnitude >= kCap ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(magnitude);
}

void ApplyPrintOptions(const char* optionText, JobValues* job) {
  OptionList options;
  options.Parse(optionText);
  OptionEntry entry;
  if (options.Lookup("printer", &entry)) {
    std::string value = entry.value();
    if (!value.empty()) job->printerName = value;
  }
  struct NumberKey {
    const char* key;
    int32_t* field;
  };
  const NumberKey numbers[] = {{"copies", &job->copies},
                               {"frompage", &job->fromPage},
                               {"topage", &job->toPage},
                               {"orientation", &job->orientation}};
  for (const NumberKey& number : numbers) {
    if (!options.Lookup(number.key, &entry)) continue;
    int32_t value = ReadDecimal(entry.value().c_str());
    if (value != 0) *number.field = value;
  }
}

}  // namespace kavelo
