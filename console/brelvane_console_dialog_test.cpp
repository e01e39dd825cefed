#include "console/brelvane_console_dialog.h"

#include <cstdlib>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/init.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/spinbutt.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include "console/test/console_test_support.h"

namespace kavelo {
namespace {

using testsupport::ConsoleWorld;
using F = ConsoleField;

// Lets the X server and GTK deliver what was sent.
void Settle() {
  for (int i = 0; i < 15; ++i) {
    wxYield();
    wxMilliSleep(20);
  }
}

// Clicks at a fraction of the window's width, halfway down.
void Click(wxUIActionSimulator& sim, wxWindow* window, double across = 0.5) {
  wxRect r = window->GetScreenRect();
  sim.MouseMove(r.x + static_cast<int>(r.width * across), r.y + r.height / 2);
  Settle();
  sim.MouseClick();
  Settle();
}

void TypeOver(wxUIActionSimulator& sim, wxTextCtrl* field, const char* text) {
  Click(sim, field);
  field->SelectAll();
  sim.Text(text);
  Settle();
}

// Answers every wx message box with its first button and records it.
class MessageBoxHook : public wxModalDialogHook {
 public:
  std::vector<std::string> seen;

 protected:
  int Enter(wxDialog* dialog) override {
    auto* box = dynamic_cast<wxMessageDialog*>(dialog);
    if (!box) return wxID_NONE;
    seen.push_back(std::string((box->GetCaption() + " | " + box->GetMessage()).utf8_str()));
    return (box->GetMessageDialogStyle() & wxYES_NO) ? wxID_YES : wxID_OK;
  }
  void Exit(wxDialog*) override {}
};

// A real dialog on the X display (Xvfb in the test command), driven with
// real pointer and key events; the message boxes are answered by a script.
TEST(ConsoleWindowTest, TypedAndSteppedValuesAreCheckedThenSaved) {
  if (!getenv("DISPLAY") || !*getenv("DISPLAY")) {
    GTEST_SKIP() << "DISPLAY is not set: the window test needs an X display "
                    "(scripts/test.sh starts Xvfb)";
  }
  int argc = 1;
  char name[] = "console_tests";
  char* argv[] = {name, nullptr};
  wxApp::SetInstance(new wxApp());
  ASSERT_TRUE(wxEntryStart(argc, argv)) << "cannot open the display " << getenv("DISPLAY");
  {
    ConsoleWorld world;
    testsupport::ScriptedUser user;
    BrelvaneConsoleDialog dialog(nullptr, &user);
    wxTextCtrl* port = dialog.FieldControl(F::kPort);
    wxTextCtrl* connections = dialog.FieldControl(F::kMaxConnections);
    wxTextCtrl* printer = dialog.FieldControl(F::kPrinterName);
    EXPECT_EQ(port->GetValue(), "4000");
    EXPECT_FALSE(printer->IsEnabled());

    wxTimer guard;  // a stuck dialog fails the test instead of hanging it
    guard.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
      if (dialog.IsModal()) dialog.EndModal(wxID_ABORT);
    });
    guard.StartOnce(60000);
    dialog.CallAfter([&] {
      wxUIActionSimulator sim;
      Settle();
      // GTK draws a spin button as "-" and "+" side by side.
      TypeOver(sim, port, "65534");
      EXPECT_EQ(port->GetValue(), "65534");
      Click(sim, dialog.SpinControl(F::kPort), 0.75);
      EXPECT_EQ(port->GetValue(), "65535");
      Click(sim, dialog.SpinControl(F::kPort), 0.75);
      EXPECT_EQ(port->GetValue(), "65535");
      Click(sim, dialog.SpinControl(F::kSendBuffer), 0.25);
      EXPECT_EQ(dialog.FieldControl(F::kSendBuffer)->GetValue(), "3072");
      Click(sim, dialog.CheckControl(F::kUseDefaultPrinter), 0.05);
      EXPECT_TRUE(printer->IsEnabled());
      TypeOver(sim, printer, "Office 2");
      TypeOver(sim, connections, "32768");

      // A refused value: its message, focus back, nothing written.
      Click(sim, dialog.OkButton());
      EXPECT_EQ(user.shown, std::vector<std::string>{"BrelvaneConsole | Please enter an integer "
                                                     "between 3 and 32767. | OK"});
      EXPECT_EQ(wxWindow::FindFocus(), connections);
      ParameterValues stored;
      EXPECT_FALSE(ConsoleWorld::Stored(&stored));

      TypeOver(sim, connections, "32767");
      Click(sim, dialog.OkButton());
      if (dialog.IsModal()) dialog.EndModal(wxID_ABORT);
    });
    EXPECT_EQ(dialog.ShowModal(), wxID_OK);

    // What the service will load at its next start.
    ParameterValues stored;
    EXPECT_TRUE(ConsoleWorld::Stored(&stored));
    ParameterValues expected{65535,
                             32767,
                             1,
                             300000,
                             3072,
                             4096,
                             world.root() + "/PrintService/Ostrevo",
                             0,
                             "Office 2",
                             world.root() + "/spool"};
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(user.shown.size(), 1u);

    // With its own message boxes, the dialog shows the about box on F1.
    MessageBoxHook boxes;
    boxes.Register();
    BrelvaneConsoleDialog own(nullptr);
    own.Show();
    wxUIActionSimulator sim;
    Click(sim, own.FieldControl(F::kPort));
    sim.KeyDown(WXK_F1);
    sim.KeyUp(WXK_F1);
    Settle();
    EXPECT_EQ(boxes.seen,
              std::vector<std::string>{"About BrelvaneConsole | BrelvaneConsole Version 1.0"});
    boxes.Unregister();
  }
  wxEntryCleanup();
}

}  // namespace
}  // namespace kavelo
