#include "InitializeTokenDlg.h"

#include "InitializeTokenDefaultPINPnl.h"
#include "InitializeTokenManualInputPINPnl.h"
#include "InitializeTokenRandomPINPnl.h"
#include "manager/core/DialogIdentity.h"
#include "manager/core/ModalRunner.h"
#include "manager/core/SecretString.h"

#include <algorithm>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {
// The smallest client area of each form; texts that need more widen it.
constexpr int kMinWidth = 536;
constexpr int kCompactMinHeight = 166;
// The notices wrap at this width rather than making one very wide dialog.
constexpr int kNoticeWidth = 500;
} // namespace

InitializeTokenDlg::InitializeTokenDlg(wxWindow* parent, const wxString& caption,
    const wxString& slotDescription, const PinPolicy& userPolicy, const PinPolicy& soPolicy)
    : PinDialogBase(
        parent, DialogIdentity::ID_DLG_INITIALIZE_TOKEN, ManagerTitle(caption), "InitializeTokenDlg")
{
    m_user.policy = userPolicy;
    m_so.policy = soPolicy;
    const bool compact = caption != _("Initialize Token");
    const int gap = FromDIP(6);

    auto* mainGroup = new wxStaticBoxSizer(new wxStaticBox(this, ID_GBX_MAIN, wxString()), wxVERTICAL);
    wxWindow* mainBox = mainGroup->GetStaticBox();
    auto* notice0 = new wxStaticText(mainBox, ID_LBE_NOTIFCATION0,
        _("Initialization process will irreversibly delete ALL the contents of your card/token."));
    notice0->Wrap(FromDIP(kNoticeWidth));
    auto* notice1 = new wxStaticText(mainBox, ID_LBE_NOTIFCATION1,
        _("Click 'OK' if you would like to initialize the token with the current "
          "initialization settings.\nClick 'Cancel' if you do not wish to continue."));
    notice1->Wrap(FromDIP(kNoticeWidth));
    auto* slot = new wxStaticText(mainBox, ID_LBE_SLOT_DESCRIPTION, _("Slot Description"));
    m_clearCardBox
        = new wxCheckBox(mainBox, ID_CHK_ENABLE_CLEAR_CARD, _("Enable Clear Card after Initialization"));
    m_clearCardBox->SetValue(true);
    auto* slotRow = new wxBoxSizer(wxHORIZONTAL);
    slotRow->Add(slot, wxSizerFlags(1).CenterVertical().Border(wxRIGHT, FromDIP(12)));
    slotRow->Add(m_clearCardBox, wxSizerFlags().CenterVertical());
    mainGroup->Add(notice0, wxSizerFlags().Border(wxLEFT | wxRIGHT | wxTOP, gap));
    mainGroup->Add(notice1, wxSizerFlags().Border(wxLEFT | wxRIGHT | wxTOP, gap));
    mainGroup->Add(slotRow, wxSizerFlags().Expand().Border(wxALL, gap));

    auto* userGroup = new wxStaticBoxSizer(new wxStaticBox(this, ID_GBX_USER_PIN, wxString()), wxVERTICAL);
    auto* soGroup = new wxStaticBoxSizer(new wxStaticBox(this, ID_GBX_SO_PIN, wxString()), wxVERTICAL);
    CreatePanels(PinKind::User, userGroup);
    CreatePanels(PinKind::SO, soGroup);
    auto* pinRow = new wxBoxSizer(wxHORIZONTAL);
    pinRow->Add(userGroup, wxSizerFlags(1).Expand().Border(wxRIGHT, gap));
    pinRow->Add(soGroup, wxSizerFlags(1).Expand());

    m_errorLine = CreateErrorLine(this, ID_LBE_ERROR_MESSAGE, _("Error"));
    auto* bottomRow = new wxBoxSizer(wxHORIZONTAL);
    bottomRow->Add(m_errorLine, wxSizerFlags(1).CenterVertical().Border(wxRIGHT, gap));
    bottomRow->Add(CreateButtonRow(ID_BTN_OK, _("OK"), ID_BTN_CANCEL), wxSizerFlags().CenterVertical());

    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(mainGroup, wxSizerFlags().Expand());
    column->Add(pinRow, wxSizerFlags(1).Expand().Border(wxTOP, gap));
    column->Add(bottomRow, wxSizerFlags().Expand().Border(wxTOP, gap));
    if (compact) {
        notice0->Hide();
        notice1->Hide();
    }
    // TRANSLATORS: %s is the description of the reader slot that holds the token.
    slot->SetLabelText(wxString::Format(_("[%s]"), slotDescription));

    Bind(wxEVT_BUTTON, &InitializeTokenDlg::OnOK, this, ID_BTN_OK);
    Bind(wxEVT_BUTTON, &InitializeTokenDlg::OnCancelButton, this, ID_BTN_CANCEL);
    Bind(wxEVT_CHECKBOX, &InitializeTokenDlg::OnClearCard, this, ID_CHK_ENABLE_CLEAR_CARD);
    FinishLayout(column);
    if (compact) {
        const wxSize client = GetClientSize();
        SetClientSize(std::max(client.x, kMinWidth), std::max(client.y, kCompactMinHeight));
    } else if (GetClientSize().x < kMinWidth) {
        SetClientSize(kMinWidth, GetClientSize().y);
    }
    SetMinSize(GetSize());
    CentreOnParent();
}

InitializeTokenDlg::~InitializeTokenDlg()
{
    SecretString::Wipe(m_userPin);
    SecretString::Wipe(m_soPin);
}

void InitializeTokenDlg::CreatePanels(PinKind kind, wxStaticBoxSizer* group)
{
    PinPanels& panels = kind == PinKind::SO ? m_so : m_user;
    wxStaticBox* box = group->GetStaticBox();
    // All three are built whatever the type, so both random PINs are always
    // drawn; each new panel hides the one before it.
    panels.defaultPanel = new InitializeTokenDefaultPINPnl(box, kind, panels.policy);
    panels.manualPanel = new InitializeTokenManualInputPINPnl(box, kind, panels.policy);
    panels.defaultPanel->Hide();
    panels.randomPanel = new InitializeTokenRandomPINPnl(box, kind, panels.policy);
    panels.manualPanel->Hide();
    panels.randomPanel->Hide();
    for (wxWindow* panel : { static_cast<wxWindow*>(panels.defaultPanel),
             static_cast<wxWindow*>(panels.manualPanel), static_cast<wxWindow*>(panels.randomPanel) }) {
        group->Add(panel, wxSizerFlags().Expand().Border(wxALL, FromDIP(6)));
    }

    const PinSource source = PinSourceForType(panels.policy.type);
    switch (source) {
    case PinSource::Default:
        panels.defaultPanel->Show();
        break;
    case PinSource::Manual:
        panels.manualPanel->Show();
        break;
    case PinSource::Random:
        panels.randomPanel->Show();
        break;
    }
    const wxString title = PinGroupTitle(kind, source);
    box->SetLabel(title);
    // The frame draws its title over the border with a margin on both sides.
    group->SetMinSize(wxSize(box->GetTextExtent(title).x + FromDIP(32), -1));
}

InitializeTokenDefaultPINPnl* InitializeTokenDlg::GetDefaultPanel(PinKind kind) const
{
    return Panels(kind).defaultPanel;
}

InitializeTokenManualInputPINPnl* InitializeTokenDlg::GetManualPanel(PinKind kind) const
{
    return Panels(kind).manualPanel;
}

InitializeTokenRandomPINPnl* InitializeTokenDlg::GetRandomPanel(PinKind kind) const
{
    return Panels(kind).randomPanel;
}

void InitializeTokenDlg::SetErrorMessage(const wxString& text)
{
    ShowError(m_errorLine, text);
}

bool InitializeTokenDlg::CheckManualPIN(PinKind kind)
{
    const PinPanels& panels = Panels(kind);
    if (PinSourceForType(panels.policy.type) != PinSource::Manual) {
        return true;
    }
    wxTextCtrl* pinField = panels.manualPanel->GetPINField();
    wxTextCtrl* verifyField = panels.manualPanel->GetVerifyField();
    const PinCheckResult result
        = CheckInitializePIN(kind, pinField->GetValue(), verifyField->GetValue(), panels.policy.minLength);
    const bool onVerify = result.focus == PinField::UserVerifyPin || result.focus == PinField::SOVerifyPin;
    return ApplyCheck(result, m_errorLine, onVerify ? verifyField : pinField);
}

wxString InitializeTokenDlg::ChosenPIN(PinKind kind) const
{
    const PinPanels& panels = Panels(kind);
    switch (PinSourceForType(panels.policy.type)) {
    case PinSource::Default:
        return panels.policy.defaultValue;
    case PinSource::Manual:
        return panels.manualPanel->GetPINField()->GetValue();
    case PinSource::Random:
        break;
    }
    return panels.randomPanel->GetPIN();
}

void InitializeTokenDlg::OnOK(wxCommandEvent&)
{
    if (!CheckManualPIN(PinKind::User) || !CheckManualPIN(PinKind::SO)) {
        return;
    }
    m_userPin = ChosenPIN(PinKind::User);
    m_soPin = ChosenPIN(PinKind::SO);
    m_clearCard = m_clearCardBox->GetValue();
    EndIfModal(wxID_OK);
}

void InitializeTokenDlg::OnClearCard(wxCommandEvent& event)
{
    if (event.IsChecked()) {
        return;
    }
    const wxString question = _("This action will disable further card data clearing function to your "
                                "card/token after initialization.")
        + "\n" + _("Do you still want to uncheck this option?");
    if (ModalRunner::ShowMessage(question, _("Pavix Manager"), wxYES_NO | wxICON_EXCLAMATION, this)
        != wxYES) {
        m_clearCardBox->SetValue(true);
    }
}
