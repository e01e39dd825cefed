// BrelvaneConsoleDialog: the modal "Brelvane Console" dialog, a thin wx view
// over ConsoleSettings.  Before each operation it hands the controls' values
// to the settings object and shows the result afterwards; every decision
// is the settings object's.
//
// WxConsoleUserInterface: message boxes and choosers as wx dialogs.
//
// Both live on the wx main thread.
#ifndef KAVELO_CONSOLE_BRELVANE_CONSOLE_DIALOG_H_
#define KAVELO_CONSOLE_BRELVANE_CONSOLE_DIALOG_H_

#include <memory>

#include <wx/dialog.h>

#include "console/console_settings.h"

class wxButton;
class wxCheckBox;
class wxCommandEvent;
class wxSpinButton;
class wxSpinEvent;
class wxTextCtrl;

namespace kavelo {

class WxConsoleUserInterface : public ConsoleUserInterface {
 public:
  // *parent (may be null) must outlive this object; it owns the boxes.
  explicit WxConsoleUserInterface(wxWindow* parent) : parent_(parent) {}
  MessageAnswer ShowMessage(const ConsoleMessage& message) override;
  bool ChooseFile(const std::string& title, const std::string& preset,
                  std::string* chosen) override;
  bool ChooseDirectory(const std::string& title, const std::string& start,
                       std::string* chosen) override;

 private:
  wxWindow* parent_;
};

class BrelvaneConsoleDialog : public wxDialog {
 public:
  // Loads the parameters and shows them.  With ui null the dialog talks to
  // the user through wx message boxes and choosers; otherwise *ui must
  // outlive the dialog.
  explicit BrelvaneConsoleDialog(wxWindow* parent, ConsoleUserInterface* ui = nullptr);
  ~BrelvaneConsoleDialog() override;

  // The controls, for tests that press and type.
  wxTextCtrl* FieldControl(ConsoleField field) const;
  wxCheckBox* CheckControl(ConsoleField field) const;
  wxSpinButton* SpinControl(ConsoleField field) const;
  wxButton* OkButton() const { return okButton_; }

 private:
  void BuildControls();
  ConsoleFields ReadControls() const;
  void ShowFields();
  void FocusField(ConsoleField field);

  void OnBrowseApplication(wxCommandEvent& event);
  void OnBrowseDirectory(wxCommandEvent& event);
  void OnUseDefaultPrinter(wxCommandEvent& event);
  void OnDefaults(wxCommandEvent& event);
  void OnOk(wxCommandEvent& event);
  void OnAbout(wxCommandEvent& event);
  void OnSpin(ConsoleField field, wxSpinEvent& event);

  std::unique_ptr<ConsoleUserInterface> ownUi_;
  std::unique_ptr<ConsoleSettings> settings_;

  wxTextCtrl* printerApplication_ = nullptr;
  wxCheckBox* useDefaultPrinter_ = nullptr;
  wxTextCtrl* printerName_ = nullptr;
  wxTextCtrl* spoolerDirectory_ = nullptr;
  wxTextCtrl* numbers_[5] = {};  // port, connections, send, receive, timeout
  wxSpinButton* spins_[5] = {};
  wxCheckBox* keepAlive_ = nullptr;
  wxButton* okButton_ = nullptr;
};

}  // namespace kavelo

#endif  // KAVELO_CONSOLE_BRELVANE_CONSOLE_DIALOG_H_
