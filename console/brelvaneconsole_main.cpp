// BrelvaneConsole: the configuration console.  Shows the "Brelvane Console"
// dialog modally and ends when it closes.
//
//   BrelvaneConsole                     edit the service parameters
//   BrelvaneConsole --screenshot FILE   show the dialog, save it as a PNG, end
//                                       (for the documentation; nothing is saved)
//   BrelvaneConsole --help              print the usage (no display needed)
#include <cstdio>
#include <cstring>

#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/image.h>
#include <wx/timer.h>

#include "console/brelvane_console_dialog.h"

namespace {

class BrelvaneConsoleApp : public wxApp {
 public:
  bool OnInit() override {
    // wx's own command-line parser would refuse the screenshot option.
    for (int i = 1; i < argc; ++i) {
      if (std::strcmp(argv[i].utf8_str(), "--screenshot") == 0 && i + 1 < argc) {
        screenshot_ = argv[i + 1];
      }
    }
    wxInitAllImageHandlers();
    return true;
  }

  int OnRun() override {
    if (!screenshot_.empty()) {
      TakeScreenshot();
      wxApp::OnRun();
      return exitCode_;
    }
    kavelo::BrelvaneConsoleDialog dialog(nullptr);
    dialog.ShowModal();
    return 0;
  }

 private:
  // Shows the dialog without a modal loop, lets it paint, copies its screen
  // area into a PNG and ends the program.
  void TakeScreenshot() {
    auto* dialog = new kavelo::BrelvaneConsoleDialog(nullptr);
    dialog->Show();
    timer_.Bind(wxEVT_TIMER, [this, dialog](wxTimerEvent&) {
      wxRect area = dialog->GetScreenRect();
      wxBitmap bitmap(area.width, area.height);
      wxScreenDC screen;
      wxMemoryDC memory(bitmap);
      memory.Blit(0, 0, area.width, area.height, &screen, area.x, area.y);
      memory.SelectObject(wxNullBitmap);
      if (!bitmap.SaveFile(screenshot_, wxBITMAP_TYPE_PNG)) {
        std::fprintf(stderr, "BrelvaneConsole: cannot write %s\n",
                     static_cast<const char*>(screenshot_.utf8_str()));
        exitCode_ = 1;
      }
      dialog->Destroy();
      ExitMainLoop();
    });
    timer_.StartOnce(1500);
  }

  wxString screenshot_;
  wxTimer timer_;
  int exitCode_ = 0;
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(BrelvaneConsoleApp);

// The usage is answered before the toolkit starts, which would refuse to run
// without a display.
int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "usage: BrelvaneConsole\n\n"
          "Edits the parameters of the Brelvane print service in the \"Brelvane Console\"\n"
          "dialog (needs an X display and write access to the registry folder,\n"
          "KAVELO_REGISTRY_DIR, default /var/lib/kavelo/registry).  The service reads\n"
          "the new values at its next start.\n");
      return 0;
    }
  }
  return wxEntry(argc, argv);
}
