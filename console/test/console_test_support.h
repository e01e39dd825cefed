// Test support for the console: a user who answers from a script and
// records every box, and an install folder with a runnable print control and
// a spool folder that the defaults point at.
#ifndef KAVELO_CONSOLE_TEST_CONSOLE_TEST_SUPPORT_H_
#define KAVELO_CONSOLE_TEST_CONSOLE_TEST_SUPPORT_H_

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "common/service_parameters.h"
#include "console/console_settings.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"
#include "testsupport/temp_registry.h"

namespace kavelo::testsupport {

// Records each box as "caption | text | buttons", the default button
// starred, and answers from `answers` (then with the default button).
class ScriptedUser : public ConsoleUserInterface {
 public:
  MessageAnswer ShowMessage(const ConsoleMessage& m) override {
    static const char* const kButtons[] = {"OK", "OK/Cancel", "Yes/No"};
    std::string buttons = kButtons[static_cast<int>(m.buttons)];
    if (m.buttons != MessageButtons::kOk) {
      bool firstDefault =
          m.defaultAnswer == MessageAnswer::kOk || m.defaultAnswer == MessageAnswer::kYes;
      buttons.insert(firstDefault ? buttons.find('/') : buttons.size(), "*");
    }
    shown.push_back(m.caption + " | " + m.text + " | " + buttons);
    if (answers.empty()) return m.defaultAnswer;
    MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  bool ChooseFile(const std::string&, const std::string&, std::string* chosen) override {
    *chosen = choice;
    return !choice.empty();
  }
  bool ChooseDirectory(const std::string&, const std::string&, std::string* chosen) override {
    *chosen = choice;
    return !choice.empty();
  }

  std::deque<MessageAnswer> answers;
  std::string choice;  // what a chooser returns; empty: the user cancels
  std::vector<std::string> shown;
};

// A private registry and an install folder (short enough for the 35
// characters of the spool path) holding PrintService/Ostrevo (runnable),
// spool/ and a plain file "notes"; "DirPath" points at it.
class ConsoleWorld {
 public:
  ConsoleWorld() {
    std::filesystem::create_directories(root_ + "/PrintService");
    std::filesystem::create_directory(root_ + "/spool");
    WriteFile(root_ + "/PrintService/Ostrevo", "#!/bin/sh\n");
    chmod((root_ + "/PrintService/Ostrevo").c_str(), 0755);
    WriteFile(root_ + "/notes", "x");
    WriteRaw({{"SOFTWARE\\KAVELO", "DirPath", platform::REG_SZ, Sz(root_)}});
  }
  const std::string& root() const { return root_; }

  // The parameters as the service would load them; false when the
  // parameters key does not exist.
  static bool Stored(ParameterValues* values) {
    ServiceParameters stored;
    stored.Bind("Brelvane", platform::Hive::kLocalMachine);
    bool found = stored.Load();
    *values = stored.values();
    return found;
  }

 private:
  TempRegistry registry_;
  TempDir dir_{"kc"};
  const std::string root_ = dir_.path();
};

}  // namespace kavelo::testsupport

#endif  // KAVELO_CONSOLE_TEST_CONSOLE_TEST_SUPPORT_H_
