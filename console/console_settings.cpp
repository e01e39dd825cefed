#include "console/console_settings.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include <sys/stat.h>

#include "platform/registry.h"

namespace kavelo {
namespace {

constexpr char kFieldCheckCaption[] = "BrelvaneConsole";
constexpr char kPositiveInteger[] = "Please enter a positive integer.";
constexpr char kSpoolerCaption[] = "Spooling Directory";

// One number field: its spin step and bounds, and the range its check allows.
struct NumberRule {
  ConsoleField field;
  uint32_t step;
  uint32_t raiseMax;  // raised only while the value is at most this
  uint32_t lowerMin;  // lowered only while the value is at least this
  uint32_t min;       // the field check's range
  uint32_t max;
};

constexpr NumberRule kNumberRules[] = {
    {ConsoleField::kPort, 1, 65534, 1025, 1024, 65535},
    {ConsoleField::kMaxConnections, 1, 32766, 4, 3, 32767},
    {ConsoleField::kSendBuffer, 1024, 31743, 2048, 1024, 32767},
    {ConsoleField::kRecvBuffer, 1024, 31743, 2048, 1024, 32767},
    {ConsoleField::kTimeout, 1000, 4294966294u, 2000, 1000, 2147483647},
};

const NumberRule* RuleOf(ConsoleField field) {
  for (const NumberRule& rule : kNumberRules) {
    if (rule.field == field) return &rule;
  }
  return nullptr;
}

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// Digits only (blanks around them allowed); the value saturates above
// 32 bits so that a long run of digits stays out of every range.
std::optional<uint64_t> ParseUnsigned(const std::string& text) {
  std::string digits = Trimmed(text);
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) value = uint64_t{UINT32_MAX} + 1;
  }
  return value;
}

// Characters, not bytes: the fields hold UTF-8.
size_t CharacterCount(const std::string& text) {
  size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

bool FileExists(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0;
}

// The same test the service makes at its start: a folder it can read and
// write, with at least one write permission bit.
bool UsableDirectory(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
         access(path.c_str(), R_OK | W_OK) == 0;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

ConsoleMessage Warning(const std::string& text, const std::string& caption) {
  return ConsoleMessage{text, caption, MessageButtons::kOk, MessageAnswer::kOk,
                        MessageIcon::kWarning};
}

}  // namespace

ConsoleSettings::ConsoleSettings(ConsoleUserInterface* ui) : ui_(ui) {}

void ConsoleSettings::Open() {
  parameters_.Bind("Brelvane", platform::Hive::kLocalMachine);
  parameters_.Load();
  ShowFields(parameters_.values());
}

void ConsoleSettings::ShowFields(const ParameterValues& values) {
  // The numbers are shown as the unsigned values the fields hold.
  auto text = [](int32_t value) { return std::to_string(static_cast<uint32_t>(value)); };
  fields_.printerApplication = values.printerApplication;
  fields_.useDefaultPrinter = values.useDefaultPrinter != 0;
  fields_.printerName = values.printerName;
  fields_.spoolerDirectory = values.spoolerDirectory;
  fields_.port = text(values.port);
  fields_.maxConnections = text(values.maxConnections);
  fields_.sendBuffer = text(values.sendBuffer);
  fields_.recvBuffer = text(values.recvBuffer);
  fields_.timeout = text(values.timeout);
  fields_.keepAlive = values.keepAlive != 0;
}

std::string* ConsoleSettings::NumberText(ConsoleField field) {
  switch (field) {
    case ConsoleField::kPort:
      return &fields_.port;
    case ConsoleField::kMaxConnections:
      return &fields_.maxConnections;
    case ConsoleField::kSendBuffer:
      return &fields_.sendBuffer;
    case ConsoleField::kRecvBuffer:
      return &fields_.recvBuffer;
    case ConsoleField::kTimeout:
      return &fields_.timeout;
    default:
      return nullptr;
  }
}

void ConsoleSettings::Step(ConsoleField field, int delta) {
  const NumberRule* rule = RuleOf(field);
  std::string* text = NumberText(field);
  if (!rule || !text) return;
  std::optional<uint64_t> parsed = ParseUnsigned(*text);
  uint32_t value = parsed && *parsed <= UINT32_MAX ? static_cast<uint32_t>(*parsed) : 0;
  if (delta > 0) {
    if (value <= rule->raiseMax) value += rule->step;
  } else if (value >= rule->lowerMin) {
    value -= rule->step;
  }
  *text = std::to_string(value);
}

void ConsoleSettings::BrowsePrintingApplication() {
  std::string chosen;
  if (!ui_->ChooseFile("Select an Executable File", fields_.printerApplication, &chosen)) return;
  // Linux marks programs by permission, not by name: the chooser lists every
  // file and a file that cannot be run is refused here.
  if (!IsExecutableFile(chosen)) {
    ui_->ShowMessage(
        Warning("\"" + chosen + "\" is not an executable file.", "Select an Executable File"));
    return;
  }
  fields_.printerApplication = chosen;
}

void ConsoleSettings::BrowseSpoolingDirectory() {
  std::string start = fields_.spoolerDirectory;
  if (start.empty()) {
    std::error_code ignored;
    start = std::filesystem::current_path(ignored).string();
  }
  std::string chosen;
  if (ui_->ChooseDirectory("Select a directory for rendering XML spool files", start, &chosen)) {
    fields_.spoolerDirectory = chosen;
  }
}

bool ConsoleSettings::RestoreDefaults() {
  ConsoleMessage question{"Click OK to restore all default settings for all fields",
                          "Reload Default Settings", MessageButtons::kOkCancel, MessageAnswer::kOk,
                          MessageIcon::kQuestion};
  if (ui_->ShowMessage(question) != MessageAnswer::kOk) return false;
  ShowFields(parameters_.GetDefaults());
  return true;
}

bool ConsoleSettings::CheckFields(ParameterValues* values, std::optional<ConsoleField>* focus) {
  values->printerApplication = fields_.printerApplication;
  values->useDefaultPrinter = fields_.useDefaultPrinter ? 1 : 0;
  values->printerName = fields_.printerName;
  values->spoolerDirectory = fields_.spoolerDirectory;
  values->keepAlive = fields_.keepAlive ? 1 : 0;
  if (CharacterCount(fields_.spoolerDirectory) > kSpoolerDirectoryMaxLength) {
    ui_->ShowMessage(Warning(
        "Please enter no more than " + std::to_string(kSpoolerDirectoryMaxLength) + " characters.",
        kFieldCheckCaption));
    *focus = ConsoleField::kSpoolerDirectory;
    return false;
  }
  for (const NumberRule& rule : kNumberRules) {
    std::optional<uint64_t> parsed = ParseUnsigned(*NumberText(rule.field));
    std::string message;
    if (!parsed) {
      message = kPositiveInteger;
    } else if (*parsed < rule.min || *parsed > rule.max) {
      message = "Please enter an integer between " + std::to_string(rule.min) + " and " +
                std::to_string(rule.max) + ".";
    }
    if (!message.empty()) {
      ui_->ShowMessage(Warning(message, kFieldCheckCaption));
      *focus = rule.field;
      return false;
    }
    // Every range ends at or below INT32_MAX.
    int32_t value = static_cast<int32_t>(*parsed);
    switch (rule.field) {
      case ConsoleField::kPort:
        values->port = value;
        break;
      case ConsoleField::kMaxConnections:
        values->maxConnections = value;
        break;
      case ConsoleField::kSendBuffer:
        values->sendBuffer = value;
        break;
      case ConsoleField::kRecvBuffer:
        values->recvBuffer = value;
        break;
      default:
        values->timeout = value;
        break;
    }
  }
  return true;
}

bool ConsoleSettings::OfferSpoolerDirectory(const std::string& path) {
  ConsoleMessage question{"The spooling directory does not exist. Create it?", kSpoolerCaption,
                          MessageButtons::kYesNo, MessageAnswer::kNo, MessageIcon::kQuestion};
  if (ui_->ShowMessage(question) != MessageAnswer::kYes) return false;
  // Only the last component is made: a mistyped parent is not created.
  if (mkdir(path.c_str(), 0777) == 0) {
    ui_->ShowMessage(ConsoleMessage{"The spooling directory has been created successfully!",
                                    kSpoolerCaption, MessageButtons::kOk, MessageAnswer::kOk,
                                    MessageIcon::kInformation});
  } else if (errno == EEXIST) {
    ui_->ShowMessage(Warning("The spooling directory already exists. Please choose another name!",
                             kSpoolerCaption));
  } else {
    ui_->ShowMessage(
        Warning("An error exists in the spooling directory path. Please choose another name!",
                kSpoolerCaption));
  }
  // Even a created directory stops here: the next OK runs every check again.
  return false;
}

bool ConsoleSettings::CheckSettings(const ParameterValues& values,
                                    std::optional<ConsoleField>* focus) {
  auto fail = [&](const char* text, const char* caption, ConsoleField field) {
    ui_->ShowMessage(Warning(text, caption));
    *focus = field;
    return false;
  };
  if (!FileExists(values.printerApplication)) {
    return fail("An application is required to render and print XML documents",
                "Printing Application", ConsoleField::kPrinterApplication);
  }
  if (values.useDefaultPrinter == 0 && values.printerName.empty()) {
    return fail("A printer name is required to print XML documents", "Printer Name",
                ConsoleField::kPrinterName);
  }
  if (!UsableDirectory(values.spoolerDirectory)) {
    *focus = ConsoleField::kSpoolerDirectory;
    return OfferSpoolerDirectory(values.spoolerDirectory);
  }
  size_t length = CharacterCount(values.spoolerDirectory);
  if (length < 1 || length > kSpoolerDirectoryMaxLength) {
    return fail("The spooling directory length must be less than 35 characters", kSpoolerCaption,
                ConsoleField::kSpoolerDirectory);
  }
  struct Range {
    int64_t value, min, max;
    const char* text;
    const char* caption;
    ConsoleField field;
  } ranges[] = {
      {values.port, 1024, 65535,
       "A listening port number is required in the range of 1024 and 65535", "Port Number",
       ConsoleField::kPort},
      {values.maxConnections, 3, 32767,
       "A maximum concurrent connections value is required in the range of 3 and 32767",
       "Maximum Connections", ConsoleField::kMaxConnections},
      {values.sendBuffer, 1024, 32767,
       "A sending buffer size value is required in the range of 1024 and 32767",
       "Sending Buffer size", ConsoleField::kSendBuffer},
      {values.recvBuffer, 1024, 32767,
       "A receiving buffer size value is required in the range of 1024 and 32767",
       "Receiving Buffer size", ConsoleField::kRecvBuffer},
      {values.timeout, 1000, 2147483647,
       "A waiting time out (in milliseconds) value is required in the range of 1000 and "
       "2147483647",
       "Wait Time out", ConsoleField::kTimeout},
  };
  for (const Range& r : ranges) {
    if (r.value < r.min || r.value > r.max) return fail(r.text, r.caption, r.field);
  }
  return true;
}

bool ConsoleSettings::Ok(std::optional<ConsoleField>* focus) {
  std::optional<ConsoleField> ignored;
  if (!focus) focus = &ignored;
  focus->reset();
  ParameterValues values = parameters_.values();
  if (!CheckFields(&values, focus) || !CheckSettings(values, focus)) return false;
  parameters_.set_values(values);
  // A write refused by the registry (a user who may not write its hive)
  // would otherwise close the dialog as if the settings were kept.
  if (!parameters_.Save()) {
    ui_->ShowMessage(ConsoleMessage{"The settings could not be saved: the registry in " +
                                        platform::RegistryDirectory() + " cannot be written.",
                                    "Brelvane Console", MessageButtons::kOk, MessageAnswer::kOk,
                                    MessageIcon::kError});
    return false;
  }
  return true;
}

void ConsoleSettings::About() {
  ui_->ShowMessage(ConsoleMessage{"BrelvaneConsole Version 1.0", "About BrelvaneConsole",
                                  MessageButtons::kOk, MessageAnswer::kOk,
                                  MessageIcon::kInformation});
}

}  // namespace kavelo
