#include "UnlockPINDlg.h"

#include <wx/button.h>
#include <wx/intl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

UnlockPINDlg::UnlockPINDlg(
    wxWindow* parent, const wxString& tokenLabel, int minUserLength, int maxUserLength, int maxSOLength)
    : PinDialogBase(parent, _("Unlock User PIN"), "NRVCMU_DLG_UNLOCK_PIN", "UnlockPINDlg")
    , m_minUserLength(minUserLength)
{
    new wxStaticBox(this, ID_GBX_MAIN, wxString(), wxPoint(8, 4), wxSize(412, 150));
    new wxStaticText(this, ID_LBE_NEW_USER_PIN, _("New User PIN:"), wxPoint(20, 24));
    m_newField = new wxTextCtrl(
        this, ID_TXT_NEW_USER_PIN, wxString(), wxPoint(190, 20), wxSize(218, 25), wxTE_PASSWORD);
    new wxStaticText(this, ID_LBE_VERIFY_NEW_USER_PIN, _("Verify New User PIN:"), wxPoint(20, 54));
    m_verifyField = new wxTextCtrl(
        this, ID_TXT_VERIFY_NEW_USER_PIN, wxString(), wxPoint(190, 50), wxSize(218, 25), wxTE_PASSWORD);
    new wxStaticText(this, ID_LBE_NOTIFICATION, _("SO PIN is required to verify authorization."),
        wxPoint(20, 86), wxSize(388, 16), wxST_NO_AUTORESIZE);
    new wxStaticText(this, ID_LBE_CURRENT_SO_PIN, _("Current SO PIN:"), wxPoint(20, 110));
    m_soField = new wxTextCtrl(
        this, ID_TXT_CURRENT_SO_PIN, wxString(), wxPoint(190, 106), wxSize(218, 25), wxTE_PASSWORD);
    m_errorLine = CreateErrorLine(ID_LBE_ERROR_MESSAGE, _("Error"), wxPoint(20, 134), wxSize(388, 18));
    auto* ok = new wxButton(this, ID_BTN_OK, _("OK"), wxPoint(254, 162), wxSize(80, 25));
    new wxButton(this, ID_BTN_CANCEL, _("Cancel"), wxPoint(340, 162), wxSize(80, 25));
    SetClientSize(428, 195);
    // TRANSLATORS: %s is the token label.
    SetTitle(ManagerTitle(wxString::Format(_("Unlock User PIN for \"%s\""), tokenLabel)));

    m_newField->SetMaxLength(maxUserLength);
    m_verifyField->SetMaxLength(maxUserLength);
    m_soField->SetMaxLength(maxSOLength);
    m_newField->SetFocus();

    ok->SetDefault();
    SetEscapeId(ID_BTN_CANCEL);
    Bind(wxEVT_BUTTON, &UnlockPINDlg::OnOK, this, ID_BTN_OK);
    Bind(wxEVT_BUTTON, &UnlockPINDlg::OnCancelButton, this, ID_BTN_CANCEL);
    CentreOnParent();
}

UnlockPINDlg::~UnlockPINDlg()
{
    WipeText(m_newUserPin);
    WipeText(m_soPin);
}

void UnlockPINDlg::SetErrorMessage(const wxString& text)
{
    m_errorLine->SetLabelText(text);
    switch (UnlockErrorReaction(text)) {
    case SOPinReaction::ClearAndFocus:
        m_soField->ChangeValue(wxString());
        m_soField->SetFocus();
        break;
    case SOPinReaction::Focus:
        m_soField->SetFocus();
        break;
    case SOPinReaction::None:
        break;
    }
}

void UnlockPINDlg::OnOK(wxCommandEvent&)
{
    const wxString newPin = m_newField->GetValue();
    const wxString soPin = m_soField->GetValue();
    const PinCheckResult result = CheckUnlockPIN(newPin, m_verifyField->GetValue(), soPin, m_minUserLength);
    wxTextCtrl* field = m_newField;
    if (result.focus == PinField::VerifyPin) {
        field = m_verifyField;
    } else if (result.focus == PinField::SOPin) {
        field = m_soField;
    }
    if (!ApplyCheck(result, m_errorLine, field)) {
        return;
    }
    m_newUserPin = newPin;
    m_soPin = soPin;
    EndIfModal(wxID_OK);
}
