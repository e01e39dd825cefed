#include "console/console_settings.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "console/test/console_test_support.h"

namespace kavelo {
namespace {

using testsupport::ConsoleWorld;
using testsupport::ScriptedUser;
using F = ConsoleField;
using A = MessageAnswer;
using Typing = std::vector<std::pair<F, std::string>>;

// The field's text, or its flag for a check box.
std::string* Text(ConsoleFields* f, F field) {
  std::string* texts[] = {&f->printerApplication, nullptr,        &f->printerName,
                          &f->spoolerDirectory,   &f->port,       &f->maxConnections,
                          &f->sendBuffer,         &f->recvBuffer, &f->timeout};
  return field == F::kKeepAlive ? nullptr : texts[static_cast<int>(field)];
}
bool* Flag(ConsoleFields* f, F field) {
  return field == F::kKeepAlive ? &f->keepAlive : &f->useDefaultPrinter;
}
std::string Get(ConsoleFields f, F field) {
  return Text(&f, field) ? *Text(&f, field) : *Flag(&f, field) ? "1" : "0";
}
void Type(ConsoleFields* f, const Typing& typing) {
  for (const auto& [field, text] : typing) {
    if (Text(f, field))
      *Text(f, field) = text;
    else
      *Flag(f, field) = text == "1";
  }
}

TEST(ConsoleSettingsTest, SpinButtonsStepWithinTheirBounds) {
  struct {
    F field;
    const char* before;
    int delta;
    const char* after;
  } cases[] = {
      // clang-format off
      {F::kPort, "65535", 1, "65535"},           {F::kPort, "65534", 1, "65535"},
      {F::kPort, "1024", -1, "1024"},            {F::kPort, "1025", -1, "1024"},
      {F::kMaxConnections, "32767", 1, "32767"}, {F::kMaxConnections, "4", -1, "3"},
      {F::kMaxConnections, "3", -1, "3"},        {F::kSendBuffer, "31743", 1, "32767"},
      {F::kSendBuffer, "31744", 1, "31744"},     {F::kSendBuffer, "2047", -1, "2047"},
      {F::kRecvBuffer, "2048", -1, "1024"},      {F::kRecvBuffer, "31743", 1, "32767"},
      {F::kTimeout, "1999", -1, "1999"},         {F::kTimeout, "2000", -1, "1000"},
      {F::kTimeout, "4294966294", 1, "4294967294"}, {F::kTimeout, "4294966295", 1, "4294966295"},
      {F::kPort, "12a", 1, "1"},                 {F::kPort, "4294967296", 1, "1"},
      // clang-format on
  };
  ScriptedUser user;
  ConsoleSettings settings(&user);
  for (const auto& c : cases) {
    ConsoleFields fields;
    Type(&fields, {{c.field, c.before}});
    settings.set_fields(fields);
    settings.Step(c.field, c.delta);
    EXPECT_EQ(Get(settings.fields(), c.field), c.after) << c.before << " " << c.delta;
  }
}

const std::string kCreate =
    "Spooling Directory | The spooling directory does not exist. Create it? | Yes/No*";
const std::string kRestore =
    "Reload Default Settings | Click OK to restore all default settings for all fields | "
    "OK*/Cancel";

// One user session on a freshly opened console (which shows the defaults
// of ConsoleWorld's install folder ROOT).  `actions` are pressed in order:
// 'O' OK, 'D' "Defaults...", 'A' / 'S' the two "..." buttons, 'H' about,
// 'R' the registry becomes unwritable.
struct Session {
  const char* what;
  Typing typed;
  const char* actions;
  std::vector<A> answers;
  std::vector<std::string> boxes;  // "caption | text | buttons", default starred
  const char* okResults;           // per OK: S saved and closed, K kept open
  std::optional<F> focus;          // after the last OK
  Typing after;                    // fields afterwards
  std::string choice = "";         // what a chooser returns
};

TEST(ConsoleSettingsTest, SessionsCheckCreateRestoreAndSave) {
  const std::string d20(20, 'd'), sp = "Spooling Directory | ", bc = "BrelvaneConsole | ";
  const Session sessions[] = {
      // clang-format off
      // Field checks: the field's own message and focus, nothing saved.
      {"32768 connections", {{F::kMaxConnections, "32768"}}, "O", {},
       {bc + "Please enter an integer between 3 and 32767. | OK"}, "K", F::kMaxConnections, {}},
      {"32767 connections", {{F::kMaxConnections, "32767"}}, "O", {}, {}, "S", {}, {}},
      {"999 ms", {{F::kTimeout, "999"}}, "O", {},
       {bc + "Please enter an integer between 1000 and 2147483647. | OK"}, "K", F::kTimeout, {}},
      {"2147483647 ms", {{F::kTimeout, "2147483647"}}, "O", {}, {}, "S", {}, {}},
      {"blank port", {{F::kPort, " "}}, "O", {}, {bc + "Please enter a positive integer. | OK"},
       "K", F::kPort, {}},
      {"36 characters come before a bad port",
       {{F::kSpoolerDirectory, "ROOT/" + d20 + "s"}, {F::kPort, "80"}}, "O", {},
       {bc + "Please enter no more than 35 characters. | OK"}, "K", F::kSpoolerDirectory, {}},
      // ROOT is 14 characters: a 35-character folder, created, then saved.
      {"spool folder created, then saved", {{F::kSpoolerDirectory, "ROOT/" + d20}}, "OO",
       {A::kYes}, {kCreate, sp + "The spooling directory has been created successfully! | OK"},
       "KS", {}, {}},
      {"spool folder declined", {{F::kSpoolerDirectory, "ROOT/new"}}, "O", {A::kNo}, {kCreate},
       "K", F::kSpoolerDirectory, {}},
      {"spool folder below a missing one", {{F::kSpoolerDirectory, "ROOT/a/b"}}, "O", {A::kYes},
       {kCreate,
        sp + "An error exists in the spooling directory path. Please choose another name! | OK"},
       "K", F::kSpoolerDirectory, {}},
      {"spool path names a file", {{F::kSpoolerDirectory, "ROOT/notes"}}, "O", {A::kYes},
       {kCreate, sp + "The spooling directory already exists. Please choose another name! | OK"},
       "K", F::kSpoolerDirectory, {}},
      // Settings checks, in their order.
      {"missing program before missing printer",
       {{F::kPrinterApplication, "ROOT/Ostrevo"}, {F::kUseDefaultPrinter, "0"}}, "O", {},
       {"Printing Application | An application is required to render and print XML documents | "
        "OK"}, "K", F::kPrinterApplication, {}},
      {"no printer name", {{F::kUseDefaultPrinter, "0"}}, "O", {},
       {"Printer Name | A printer name is required to print XML documents | OK"}, "K",
       F::kPrinterName, {}},
      {"a printer name", {{F::kUseDefaultPrinter, "0"}, {F::kPrinterName, "Office 2"}}, "O", {},
       {}, "S", {}, {}},
      // Defaults: Cancel keeps the fields; OK shows the defaults; neither saves.
      {"defaults cancelled", {{F::kPort, "5000"}, {F::kUseDefaultPrinter, "0"}}, "D",
       {A::kCancel}, {kRestore}, "", {}, {{F::kPort, "5000"}, {F::kUseDefaultPrinter, "0"}}},
      {"defaults restored",
       {{F::kPort, "5000"}, {F::kKeepAlive, "0"}, {F::kUseDefaultPrinter, "0"},
        {F::kPrinterName, "Office"}, {F::kSpoolerDirectory, "/x"}},
       "D", {A::kOk}, {kRestore}, "", {},
       {{F::kPort, "4000"}, {F::kKeepAlive, "1"}, {F::kUseDefaultPrinter, "1"},
        {F::kPrinterName, ""}, {F::kSpoolerDirectory, "ROOT/spool"}}},
      // The application chooser takes only a file that can be run.
      {"chosen file cannot be run", {}, "A", {},
       {"Select an Executable File | \"ROOT/notes\" is not an executable file. | OK"}, "", {},
       {{F::kPrinterApplication, "ROOT/PrintService/Ostrevo"}}, "ROOT/notes"},
      {"chosen program", {}, "A", {}, {}, "", {},
       {{F::kPrinterApplication, "ROOT/spool/../PrintService/Ostrevo"}},
       "ROOT/spool/../PrintService/Ostrevo"},
      {"chosen spool folder", {}, "S", {}, {}, "", {}, {{F::kSpoolerDirectory, "ROOT/x"}},
       "ROOT/x"},
      {"about", {}, "H", {}, {"About BrelvaneConsole | BrelvaneConsole Version 1.0 | OK"}, "", {},
       {}},
      // A registry the user may not write: one message, the dialog stays.
      {"registry not writable", {}, "RO", {},
       {"Brelvane Console | The settings could not be saved: the registry in ROOT/notes/registry "
        "cannot be written. | OK"}, "K", {}, {}},
      // clang-format on
  };

  for (const Session& s : sessions) {
    SCOPED_TRACE(s.what);
    ConsoleWorld world;
    auto rooted = [&world](std::string text) {
      size_t at = text.find("ROOT");
      return at == std::string::npos ? text : text.replace(at, 4, world.root());
    };
    ScriptedUser user;
    user.answers.assign(s.answers.begin(), s.answers.end());
    user.choice = rooted(s.choice);
    ConsoleSettings settings(&user);
    settings.Open();
    ConsoleFields fields = settings.fields();
    Typing typed = s.typed;
    for (auto& entry : typed) entry.second = rooted(entry.second);
    Type(&fields, typed);
    settings.set_fields(fields);

    std::string okResults;
    std::optional<F> focus;
    for (const char* a = s.actions; *a; ++a) {
      if (*a == 'O') okResults += settings.Ok(&focus) ? 'S' : 'K';
      if (*a == 'D') settings.RestoreDefaults();
      if (*a == 'A') settings.BrowsePrintingApplication();
      if (*a == 'S') settings.BrowseSpoolingDirectory();
      if (*a == 'H') settings.About();
      if (*a == 'R') setenv("KAVELO_REGISTRY_DIR", rooted("ROOT/notes/registry").c_str(), 1);
    }
    std::vector<std::string> boxes;
    for (const std::string& b : s.boxes) boxes.push_back(rooted(b));
    EXPECT_EQ(user.shown, boxes);
    EXPECT_EQ(okResults, s.okResults);
    EXPECT_EQ(focus, s.focus);
    for (const auto& [field, text] : s.after)
      EXPECT_EQ(Get(settings.fields(), field), rooted(text));
    EXPECT_EQ(settings.PrinterNameEnabled(), !settings.fields().useDefaultPrinter);

    // Saved exactly when an OK closed the dialog, and then as the fields show.
    ParameterValues stored;
    bool saved = ConsoleWorld::Stored(&stored);
    EXPECT_EQ(saved, okResults.find('S') != std::string::npos);
    if (saved) {
      const ConsoleFields& f = settings.fields();
      ParameterValues shown{std::stoi(f.port),
                            std::stoi(f.maxConnections),
                            f.keepAlive,
                            std::stoi(f.timeout),
                            std::stoi(f.sendBuffer),
                            std::stoi(f.recvBuffer),
                            f.printerApplication,
                            f.useDefaultPrinter,
                            f.useDefaultPrinter ? "" : f.printerName,
                            f.spoolerDirectory};
      EXPECT_EQ(stored, shown);
      EXPECT_TRUE(std::filesystem::is_directory(f.spoolerDirectory));
    }
  }
}

}  // namespace
}  // namespace kavelo
