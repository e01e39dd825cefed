// ConsoleSettings: everything the configuration console does, without a
// display.  It holds what the dialog's ten controls show, steps the number
// fields for the spin buttons, restores the defaults, checks the fields and
// the settings when OK is pressed, creates the spooling directory on request
// and saves the service parameters.  It talks to the user only through a
// ConsoleUserInterface (message boxes and the two choosers), so the wx
// dialog is a thin view over it and the tests drive it with a scripted user.
//
// A ConsoleSettings is used by the user-interface thread alone.
#ifndef KAVELO_CONSOLE_CONSOLE_SETTINGS_H_
#define KAVELO_CONSOLE_CONSOLE_SETTINGS_H_

#include <cstdint>
#include <optional>
#include <string>

#include "common/service_parameters.h"

namespace kavelo {

// The ten fields, in the order in which they are exchanged and checked.
enum class ConsoleField {
  kPrinterApplication,
  kUseDefaultPrinter,
  kPrinterName,
  kSpoolerDirectory,
  kPort,
  kMaxConnections,
  kSendBuffer,
  kRecvBuffer,
  kTimeout,
  kKeepAlive,
};

// What the controls show: the edit fields as typed text, the check boxes as
// flags.
struct ConsoleFields {
  std::string printerApplication;
  bool useDefaultPrinter = true;
  std::string printerName;
  std::string spoolerDirectory;
  std::string port;
  std::string maxConnections;
  std::string sendBuffer;
  std::string recvBuffer;
  std::string timeout;
  bool keepAlive = true;
};

enum class MessageButtons { kOk, kOkCancel, kYesNo };
enum class MessageAnswer { kOk, kCancel, kYes, kNo };
enum class MessageIcon { kInformation, kWarning, kQuestion, kError };

// One message box.
struct ConsoleMessage {
  std::string text;
  std::string caption;
  MessageButtons buttons = MessageButtons::kOk;
  MessageAnswer defaultAnswer = MessageAnswer::kOk;
  MessageIcon icon = MessageIcon::kWarning;
};

// The user as the console sees it.  Every call is modal: it returns when the
// user has answered.
class ConsoleUserInterface {
 public:
  virtual ~ConsoleUserInterface() = default;
  // Shows the message and returns the button pressed (closing the box
  // answers Cancel, or No for a Yes/No box).
  virtual MessageAnswer ShowMessage(const ConsoleMessage& message) = 0;
  // An open-file chooser preset with `preset`, for an existing file.  True
  // with *chosen set when the user confirms.
  virtual bool ChooseFile(const std::string& title, const std::string& preset,
                          std::string* chosen) = 0;
  // A directory chooser that starts at `start`.  True with *chosen set when
  // the user confirms.
  virtual bool ChooseDirectory(const std::string& title, const std::string& start,
                               std::string* chosen) = 0;
};

// The most characters the spooling directory field takes.
constexpr size_t kSpoolerDirectoryMaxLength = 35;

class ConsoleSettings {
 public:
  // *ui must outlive this object.  The parameters are not read until Open.
  explicit ConsoleSettings(ConsoleUserInterface* ui);
  ConsoleSettings(const ConsoleSettings&) = delete;
  ConsoleSettings& operator=(const ConsoleSettings&) = delete;

  // Binds the parameters to "Brelvane" under HKEY_LOCAL_MACHINE, loads them
  // (whatever Load returns: a missing key shows the defaults) and shows them.
  void Open();

  const ConsoleFields& fields() const { return fields_; }
  // The view hands over what the controls hold before every operation.
  void set_fields(const ConsoleFields& fields) { fields_ = fields; }

  // The printer name can be typed exactly when the default printer is not used.
  bool PrinterNameEnabled() const { return !fields_.useDefaultPrinter; }

  // A spin button beside a number field was pressed: a positive delta
  // raises the field by its step, any other lowers it, each only within its
  // bounds.  Text that is not a number counts as 0.  Other fields are left.
  void Step(ConsoleField field, int delta);

  // The two "..." buttons: choose a file or directory into the field.
  void BrowsePrintingApplication();
  void BrowseSpoolingDirectory();

  // "Defaults...": after the user's OK, every field shows its default.
  // True when the fields changed.
  bool RestoreDefaults();

  // OK: the field checks, then the settings checks, then the save.  True
  // when the parameters were saved and the dialog closes; otherwise the
  // user has been told why, and *focus (when given) names the field to
  // return to, if any.
  bool Ok(std::optional<ConsoleField>* focus = nullptr);

  // The about box.
  void About();

 private:
  void ShowFields(const ParameterValues& values);
  bool CheckFields(ParameterValues* values, std::optional<ConsoleField>* focus);
  bool CheckSettings(const ParameterValues& values, std::optional<ConsoleField>* focus);
  bool OfferSpoolerDirectory(const std::string& path);
  std::string* NumberText(ConsoleField field);

  ConsoleUserInterface* ui_;
  ServiceParameters parameters_;
  ConsoleFields fields_;
};

}  // namespace kavelo

#endif  // KAVELO_CONSOLE_CONSOLE_SETTINGS_H_
