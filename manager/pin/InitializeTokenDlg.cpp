#include "InitializeTokenDlg.h"

#include "InitializeTokenDefaultPINPnl.h"
#include "InitializeTokenManualInputPINPnl.h"
#include "InitializeTokenRandomPINPnl.h"
#include "manager/core/ModalRunner.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {
constexpr int kWidth = 536;
constexpr int kCompactHeight = 166;
constexpr int kPinBoxHeight = 90;
} // namespace

InitializeTokenDlg::InitializeTokenDlg(wxWindow* parent, const wxString& caption,
    const wxString& slotDescription, const PinPolicy& userPolicy, const PinPolicy& soPolicy)
    : PinDialogBase(parent, ManagerTitle(caption), "NRVCMU_DLG_INITIALIZE_TOKEN", "InitializeTokenDlg")
{
    m_user.policy = userPolicy;
    m_so.policy = soPolicy;
    const bool compact = caption != _("Initialize Token");

    // The notices wrap to the dialog's width; what they take decides how far
    // the rest sits below them.
    auto* notice0 = new wxStaticText(this, ID_LBE_NOTIFCATION0,
        _("Initialization process will irreversibly delete ALL the contents of your card/token."),
        wxPoint(18, 16));
    notice0->Wrap(kWidth - 40);
    auto* notice1 = new wxStaticText(this, ID_LBE_NOTIFCATION1,
        _("Click 'OK' if you would like to initialize the token with the current "
          "initialization settings.\nClick 'Cancel' if you do not wish to continue."),
        wxPoint(18, notice0->GetRect().GetBottom() + 6));
    notice1->Wrap(kWidth - 40);
    const int top = compact ? 0 : notice1->GetRect().GetBottom() + 8 - 16;
    new wxStaticBox(this, ID_GBX_MAIN, wxString(), wxPoint(8, 2), wxSize(kWidth - 16, top + 38));
    auto* slot = new wxStaticText(this, ID_LBE_SLOT_DESCRIPTION, _("Slot Description"), wxPoint(18, top + 16),
        wxSize(260, 18), wxST_NO_AUTORESIZE);
    m_clearCardBox = new wxCheckBox(
        this, ID_CHK_ENABLE_CLEAR_CARD, _("Enable Clear Card after Initialization"), wxPoint(0, top + 15));
    m_clearCardBox->Move(kWidth - 24 - m_clearCardBox->GetSize().x, top + 15);
    m_clearCardBox->SetValue(true);

    const int boxTop = top + 42;
    const int boxWidth = (kWidth - 24) / 2;
    auto* userBox = new wxStaticBox(
        this, ID_GBX_USER_PIN, wxString(), wxPoint(8, boxTop), wxSize(boxWidth, kPinBoxHeight));
    auto* soBox = new wxStaticBox(
        this, ID_GBX_SO_PIN, wxString(), wxPoint(16 + boxWidth, boxTop), wxSize(boxWidth, kPinBoxHeight));
    const int rowY = boxTop + kPinBoxHeight + 4;
    m_errorLine = CreateErrorLine(ID_LBE_ERROR_MESSAGE, _("Error"), wxPoint(12, rowY + 4), wxSize(340, 18));
    auto* ok = new wxButton(this, ID_BTN_OK, _("OK"), wxPoint(kWidth - 180, rowY), wxSize(80, 25));
    new wxButton(this, ID_BTN_CANCEL, _("Cancel"), wxPoint(kWidth - 92, rowY), wxSize(80, 25));
    SetClientSize(kWidth, kCompactHeight + top);
    if (compact) {
        notice0->Hide();
        notice1->Hide();
    }

    CreatePanels(PinKind::User, userBox);
    CreatePanels(PinKind::SO, soBox);
    // TRANSLATORS: %s is the description of the reader slot that holds the token.
    slot->SetLabelText(wxString::Format(_("[%s]"), slotDescription));

    ok->SetDefault();
    SetEscapeId(ID_BTN_CANCEL);
    Bind(wxEVT_BUTTON, &InitializeTokenDlg::OnOK, this, ID_BTN_OK);
    Bind(wxEVT_BUTTON, &InitializeTokenDlg::OnCancelButton, this, ID_BTN_CANCEL);
    Bind(wxEVT_CHECKBOX, &InitializeTokenDlg::OnClearCard, this, ID_CHK_ENABLE_CLEAR_CARD);
    CentreOnParent();
}

InitializeTokenDlg::~InitializeTokenDlg()
{
    WipeText(m_userPin);
    WipeText(m_soPin);
}

void InitializeTokenDlg::CreatePanels(PinKind kind, wxStaticBox* box)
{
    PinPanels& panels = kind == PinKind::SO ? m_so : m_user;
    const wxRect area = box->GetRect();
    const wxPoint pos(area.x + 8, area.y + 18);
    const wxSize size(area.width - 16, area.height - 22);
    // All three are built whatever the type, so both random PINs are always
    // drawn; each new panel hides the one before it.
    panels.defaultPanel = new InitializeTokenDefaultPINPnl(this, kind, panels.policy, pos, size);
    panels.manualPanel = new InitializeTokenManualInputPINPnl(this, kind, panels.policy, pos, size);
    panels.defaultPanel->Hide();
    panels.randomPanel = new InitializeTokenRandomPINPnl(this, kind, panels.policy, pos, size);
    panels.manualPanel->Hide();
    panels.randomPanel->Hide();

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
    box->SetLabel(PinGroupTitle(kind, source));
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
    m_errorLine->SetLabelText(text);
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
