#include "service/queue/job_values.h"

#include "protocol/integer_text.h"
#include "service/intake/option_list.h"

namespace kavelo::service {

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
    int32_t value = protocol::ReadInteger(entry.value().c_str());
    if (value != 0) *number.field = value;
  }
}

}  // namespace kavelo::service
