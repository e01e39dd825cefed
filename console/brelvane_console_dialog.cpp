#include "console/brelvane_console_dialog.h"

#include <wx/accel.h>
#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/gbsizer.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/spinbutt.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/valtext.h>

namespace kavelo {
namespace {

wxString Wx(const std::string& text) { return wxString::FromUTF8(text.c_str()); }
std::string Utf8(const wxString& text) { return std::string(text.utf8_str()); }

int NumberIndex(ConsoleField field) {
  int index = static_cast<int>(field) - static_cast<int>(ConsoleField::kPort);
  return index >= 0 && index < 5 ? index : -1;
}

}  // namespace

MessageAnswer WxConsoleUserInterface::ShowMessage(const ConsoleMessage& message) {
  long style = 0;
  switch (message.buttons) {
    case MessageButtons::kOk:
      style = wxOK;
      break;
    case MessageButtons::kOkCancel:
      style = wxOK | wxCANCEL |
              (message.defaultAnswer == MessageAnswer::kCancel ? wxCANCEL_DEFAULT : wxOK_DEFAULT);
      break;
    case MessageButtons::kYesNo:
      style =
          wxYES_NO | (message.defaultAnswer == MessageAnswer::kNo ? wxNO_DEFAULT : wxYES_DEFAULT);
      break;
  }
  switch (message.icon) {
    case MessageIcon::kInformation:
      style |= wxICON_INFORMATION;
      break;
    case MessageIcon::kWarning:
      style |= wxICON_WARNING;
      break;
    case MessageIcon::kQuestion:
      style |= wxICON_QUESTION;
      break;
    case MessageIcon::kError:
      style |= wxICON_ERROR;
      break;
  }
  wxMessageDialog box(parent_, Wx(message.text), Wx(message.caption), style);
  switch (box.ShowModal()) {
    case wxID_OK:
      return MessageAnswer::kOk;
    case wxID_YES:
      return MessageAnswer::kYes;
    case wxID_NO:
      return MessageAnswer::kNo;
    default:
      return message.buttons == MessageButtons::kYesNo ? MessageAnswer::kNo
                                                       : MessageAnswer::kCancel;
  }
}

bool WxConsoleUserInterface::ChooseFile(const std::string& title, const std::string& preset,
                                        std::string* chosen) {
  wxFileName presetName(Wx(preset));
  // Programs on Linux carry no name extension: every file is listed and the
  // caller refuses one that cannot be run.
  wxFileDialog chooser(parent_, Wx(title), presetName.GetPath(), presetName.GetFullName(),
                       "All files (*)|*", wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (chooser.ShowModal() != wxID_OK) return false;
  *chosen = Utf8(chooser.GetPath());
  return true;
}

bool WxConsoleUserInterface::ChooseDirectory(const std::string& title, const std::string& start,
                                             std::string* chosen) {
  wxDirDialog chooser(parent_, Wx(title), Wx(start), wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
  if (chooser.ShowModal() != wxID_OK) return false;
  *chosen = Utf8(chooser.GetPath());
  return true;
}

BrelvaneConsoleDialog::BrelvaneConsoleDialog(wxWindow* parent, ConsoleUserInterface* ui)
    : wxDialog(parent, wxID_ANY, "Brelvane Console") {
  if (!ui) {
    ownUi_ = std::make_unique<WxConsoleUserInterface>(this);
    ui = ownUi_.get();
  }
  settings_ = std::make_unique<ConsoleSettings>(ui);
  BuildControls();
  wxIcon icon = wxArtProvider::GetIcon(wxART_PRINT, wxART_FRAME_ICON);
  if (icon.IsOk()) SetIcon(icon);
  settings_->Open();
  ShowFields();
}

BrelvaneConsoleDialog::~BrelvaneConsoleDialog() = default;

void BrelvaneConsoleDialog::BuildControls() {
  auto* top = new wxBoxSizer(wxVERTICAL);
  const int gap = FromDIP(6);

  // Printer settings: the program, the printer and the spool folder.
  auto* printerBox = new wxStaticBoxSizer(wxVERTICAL, this, "Printer settings");
  wxWindow* pb = printerBox->GetStaticBox();
  auto* grid = new wxGridBagSizer(gap, gap);
  const wxSize pathSize(FromDIP(320), -1);
  auto addLabel = [&](const char* text, int row) {
    grid->Add(new wxStaticText(pb, wxID_ANY, text), wxGBPosition(row, 0), wxDefaultSpan,
              wxALIGN_CENTER_VERTICAL);
  };
  auto path = [&](int row) {
    auto* field = new wxTextCtrl(pb, wxID_ANY, "", wxDefaultPosition, pathSize);
    grid->Add(field, wxGBPosition(row, 1), wxDefaultSpan, wxEXPAND);
    return field;
  };
  auto browse = [&](int row) {
    auto* button =
        new wxButton(pb, wxID_ANY, "...", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    grid->Add(button, wxGBPosition(row, 2), wxDefaultSpan, wxEXPAND);
    return button;
  };
  addLabel("Printing Application:", 0);
  printerApplication_ = path(0);
  wxButton* browseApplication = browse(0);
  useDefaultPrinter_ =
      new wxCheckBox(pb, wxID_ANY, "Use the default printer or otherwise the following");
  grid->Add(useDefaultPrinter_, wxGBPosition(1, 0), wxGBSpan(1, 3));
  addLabel("Printer Name:", 2);
  printerName_ = path(2);
  addLabel("Spooling Directory:", 3);
  spoolerDirectory_ = path(3);
  wxButton* browseDirectory = browse(3);
  grid->Add(new wxStaticText(pb, wxID_ANY, "(N.B The path length must not exceed 35 characters.)"),
            wxGBPosition(4, 1), wxGBSpan(1, 2));
  grid->AddGrowableCol(1);
  printerBox->Add(grid, 1, wxEXPAND | wxALL, gap);
  top->Add(printerBox, 0, wxEXPAND | wxALL, 2 * gap);

  // The two TCP/IP groups side by side; each number field has its spin
  // button, parked at 0 so that both arrows always work.
  const wxSize numberSize(GetTextExtent("4294967295").x + FromDIP(24), -1);
  auto addNumber = [&](wxWindow* box, wxFlexGridSizer* sizer, const char* label,
                       ConsoleField field) {
    int index = NumberIndex(field);
    sizer->Add(new wxStaticText(box, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
    numbers_[index] = new wxTextCtrl(box, wxID_ANY, "", wxDefaultPosition, numberSize, 0,
                                     wxTextValidator(wxFILTER_DIGITS));
    sizer->Add(numbers_[index], 0, wxALIGN_CENTER_VERTICAL);
    spins_[index] =
        new wxSpinButton(box, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSP_VERTICAL);
    spins_[index]->SetRange(-1, 1);
    spins_[index]->SetValue(0);
    auto spin = [this, field](wxSpinEvent& event) { OnSpin(field, event); };
    spins_[index]->Bind(wxEVT_SPIN_UP, spin);
    spins_[index]->Bind(wxEVT_SPIN_DOWN, spin);
    sizer->Add(spins_[index], 0, wxALIGN_CENTER_VERTICAL);
  };

  auto* tcp = new wxBoxSizer(wxHORIZONTAL);
  auto* listenerBox = new wxStaticBoxSizer(wxVERTICAL, this, "TCP/IP Listener settings");
  auto* listenerGrid = new wxFlexGridSizer(3, wxSize(gap, gap));
  addNumber(listenerBox->GetStaticBox(), listenerGrid, "Port Number:", ConsoleField::kPort);
  addNumber(listenerBox->GetStaticBox(), listenerGrid,
            "Maximum Connections:", ConsoleField::kMaxConnections);
  listenerBox->Add(listenerGrid, 0, wxALL, gap);
  tcp->Add(listenerBox, 1, wxEXPAND | wxRIGHT, gap);

  auto* socketBox = new wxStaticBoxSizer(wxVERTICAL, this, "TCP/IP Socket settings");
  wxWindow* sb = socketBox->GetStaticBox();
  auto* socketGrid = new wxFlexGridSizer(3, wxSize(gap, gap));
  addNumber(sb, socketGrid, "Send buffer size:", ConsoleField::kSendBuffer);
  addNumber(sb, socketGrid, "Receive buffer size:", ConsoleField::kRecvBuffer);
  addNumber(sb, socketGrid, "Wait timeout (millisecs)", ConsoleField::kTimeout);
  socketBox->Add(socketGrid, 0, wxLEFT | wxRIGHT | wxTOP, gap);
  keepAlive_ = new wxCheckBox(sb, wxID_ANY, "Keep alive");
  socketBox->Add(keepAlive_, 0, wxALL, gap);
  tcp->Add(socketBox, 1, wxEXPAND);
  top->Add(tcp, 0, wxEXPAND | wxLEFT | wxRIGHT, 2 * gap);

  // About (also F1) on the left, the dialog's own buttons on the right.
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* about = new wxButton(this, wxID_ABOUT, "&About...");
  buttons->Add(about);
  buttons->AddStretchSpacer();
  auto* defaults = new wxButton(this, wxID_ANY, "&Defaults...");
  buttons->Add(defaults, 0, wxRIGHT, 2 * gap);
  okButton_ = new wxButton(this, wxID_OK, "OK");
  auto* cancel = new wxButton(this, wxID_CANCEL, "Cancel");
  buttons->Add(cancel, 0, wxRIGHT, gap);
  buttons->Add(okButton_);
  okButton_->SetDefault();
  top->Add(buttons, 0, wxEXPAND | wxALL, 2 * gap);
  SetSizerAndFit(top);
  Centre();

  wxAcceleratorEntry keys[] = {wxAcceleratorEntry(wxACCEL_NORMAL, WXK_F1, wxID_ABOUT)};
  SetAcceleratorTable(wxAcceleratorTable(1, keys));

  browseApplication->Bind(wxEVT_BUTTON, &BrelvaneConsoleDialog::OnBrowseApplication, this);
  browseDirectory->Bind(wxEVT_BUTTON, &BrelvaneConsoleDialog::OnBrowseDirectory, this);
  useDefaultPrinter_->Bind(wxEVT_CHECKBOX, &BrelvaneConsoleDialog::OnUseDefaultPrinter, this);
  defaults->Bind(wxEVT_BUTTON, &BrelvaneConsoleDialog::OnDefaults, this);
  okButton_->Bind(wxEVT_BUTTON, &BrelvaneConsoleDialog::OnOk, this);
  Bind(wxEVT_BUTTON, &BrelvaneConsoleDialog::OnAbout, this, wxID_ABOUT);
  Bind(wxEVT_MENU, &BrelvaneConsoleDialog::OnAbout, this, wxID_ABOUT);
}

wxTextCtrl* BrelvaneConsoleDialog::FieldControl(ConsoleField field) const {
  switch (field) {
    case ConsoleField::kPrinterApplication:
      return printerApplication_;
    case ConsoleField::kPrinterName:
      return printerName_;
    case ConsoleField::kSpoolerDirectory:
      return spoolerDirectory_;
    default: {
      int index = NumberIndex(field);
      return index >= 0 ? numbers_[index] : nullptr;
    }
  }
}

wxCheckBox* BrelvaneConsoleDialog::CheckControl(ConsoleField field) const {
  if (field == ConsoleField::kUseDefaultPrinter) return useDefaultPrinter_;
  if (field == ConsoleField::kKeepAlive) return keepAlive_;
  return nullptr;
}

wxSpinButton* BrelvaneConsoleDialog::SpinControl(ConsoleField field) const {
  int index = NumberIndex(field);
  return index >= 0 ? spins_[index] : nullptr;
}

ConsoleFields BrelvaneConsoleDialog::ReadControls() const {
  ConsoleFields fields;
  fields.printerApplication = Utf8(printerApplication_->GetValue());
  fields.useDefaultPrinter = useDefaultPrinter_->GetValue();
  fields.printerName = Utf8(printerName_->GetValue());
  fields.spoolerDirectory = Utf8(spoolerDirectory_->GetValue());
  fields.port = Utf8(numbers_[0]->GetValue());
  fields.maxConnections = Utf8(numbers_[1]->GetValue());
  fields.sendBuffer = Utf8(numbers_[2]->GetValue());
  fields.recvBuffer = Utf8(numbers_[3]->GetValue());
  fields.timeout = Utf8(numbers_[4]->GetValue());
  fields.keepAlive = keepAlive_->GetValue();
  return fields;
}

void BrelvaneConsoleDialog::ShowFields() {
  const ConsoleFields& fields = settings_->fields();
  printerApplication_->ChangeValue(Wx(fields.printerApplication));
  useDefaultPrinter_->SetValue(fields.useDefaultPrinter);
  printerName_->ChangeValue(Wx(fields.printerName));
  // Typing stops at the limit; a longer stored path is shown whole so that
  // OK can refuse it rather than the field cutting it silently.
  wxString spool = Wx(fields.spoolerDirectory);
  spoolerDirectory_->SetMaxLength(0);
  spoolerDirectory_->ChangeValue(spool);
  if (spool.length() <= kSpoolerDirectoryMaxLength) {
    spoolerDirectory_->SetMaxLength(kSpoolerDirectoryMaxLength);
  }
  const std::string* numbers[] = {&fields.port, &fields.maxConnections, &fields.sendBuffer,
                                  &fields.recvBuffer, &fields.timeout};
  for (int i = 0; i < 5; ++i) numbers_[i]->ChangeValue(Wx(*numbers[i]));
  keepAlive_->SetValue(fields.keepAlive);
  printerName_->Enable(settings_->PrinterNameEnabled());
}

void BrelvaneConsoleDialog::FocusField(ConsoleField field) {
  wxWindow* control = FieldControl(field);
  if (!control) control = CheckControl(field);
  if (!control) return;
  control->SetFocus();
  if (wxTextCtrl* text = FieldControl(field)) text->SelectAll();
}

void BrelvaneConsoleDialog::OnBrowseApplication(wxCommandEvent&) {
  settings_->set_fields(ReadControls());
  settings_->BrowsePrintingApplication();
  ShowFields();
}

void BrelvaneConsoleDialog::OnBrowseDirectory(wxCommandEvent&) {
  settings_->set_fields(ReadControls());
  settings_->BrowseSpoolingDirectory();
  ShowFields();
}

void BrelvaneConsoleDialog::OnUseDefaultPrinter(wxCommandEvent&) {
  settings_->set_fields(ReadControls());
  printerName_->Enable(settings_->PrinterNameEnabled());
}

void BrelvaneConsoleDialog::OnDefaults(wxCommandEvent&) {
  settings_->set_fields(ReadControls());
  if (settings_->RestoreDefaults()) ShowFields();
}

void BrelvaneConsoleDialog::OnOk(wxCommandEvent&) {
  settings_->set_fields(ReadControls());
  std::optional<ConsoleField> focus;
  if (settings_->Ok(&focus)) {
    EndModal(wxID_OK);
    return;
  }
  if (focus) FocusField(*focus);
}

void BrelvaneConsoleDialog::OnAbout(wxCommandEvent&) { settings_->About(); }

void BrelvaneConsoleDialog::OnSpin(ConsoleField field, wxSpinEvent& event) {
  settings_->set_fields(ReadControls());
  settings_->Step(field, event.GetPosition());
  ShowFields();
  // Back to 0: the button never reaches an end of its range.
  event.Veto();
}

}  // namespace kavelo
