#include "UnlockPINDlg.h"

#include "manager/core/DialogIdentity.h"
#include "manager/core/SecretString.h"

#include <wx/button.h>
#include <wx/gbsizer.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

UnlockPINDlg::UnlockPINDlg(
    wxWindow* parent, const wxString& tokenLabel, int minUserLength, int maxUserLength, int maxSOLength)
    : PinDialogBase(parent, DialogIdentity::ID_DLG_UNLOCK_PIN, _("Unlock User PIN"), "UnlockPINDlg")
    , m_minUserLength(minUserLength)
{
    const int gap = FromDIP(6);
    auto* group = new wxStaticBoxSizer(new wxStaticBox(this, ID_GBX_MAIN, wxString()), wxVERTICAL);
    wxWindow* box = group->GetStaticBox();
    // One grid for both parts, so the SO PIN field lines up with the User PIN fields.
    auto* grid = new wxGridBagSizer(gap, FromDIP(10));
    const wxSize fieldSize(FromDIP(220), -1);
    int row = 0;
    const auto addRow = [&](int captionId, const wxString& caption, int fieldId) {
        grid->Add(new wxStaticText(box, captionId, caption), wxGBPosition(row, 0), wxDefaultSpan,
            wxALIGN_CENTER_VERTICAL);
        auto* field = new wxTextCtrl(box, fieldId, wxString(), wxDefaultPosition, fieldSize, wxTE_PASSWORD);
        grid->Add(field, wxGBPosition(row++, 1), wxDefaultSpan, wxEXPAND);
        return field;
    };
    m_newField = addRow(ID_LBE_NEW_USER_PIN, _("New User PIN:"), ID_TXT_NEW_USER_PIN);
    m_verifyField = addRow(ID_LBE_VERIFY_NEW_USER_PIN, _("Verify New User PIN:"), ID_TXT_VERIFY_NEW_USER_PIN);
    grid->Add(new wxStaticText(box, ID_LBE_NOTIFICATION, _("SO PIN is required to verify authorization.")),
        wxGBPosition(row++, 0), wxGBSpan(1, 2), wxTOP, gap);
    m_soField = addRow(ID_LBE_CURRENT_SO_PIN, _("Current SO PIN:"), ID_TXT_CURRENT_SO_PIN);
    grid->AddGrowableCol(1);
    m_errorLine = CreateErrorLine(box, ID_LBE_ERROR_MESSAGE, _("Error"));
    group->Add(grid, wxSizerFlags().Expand().Border(wxALL, gap));
    group->Add(m_errorLine, wxSizerFlags().Expand().Border(wxLEFT | wxRIGHT | wxBOTTOM, gap));

    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(group, wxSizerFlags(1).Expand());
    column->Add(
        CreateButtonRow(ID_BTN_OK, _("OK"), ID_BTN_CANCEL), wxSizerFlags().Expand().Border(wxTOP, gap));
    // TRANSLATORS: %s is the token label.
    SetTitle(ManagerTitle(wxString::Format(_("Unlock User PIN for \"%s\""), tokenLabel)));

    m_newField->SetMaxLength(maxUserLength);
    m_verifyField->SetMaxLength(maxUserLength);
    m_soField->SetMaxLength(maxSOLength);

    Bind(wxEVT_BUTTON, &UnlockPINDlg::OnOK, this, ID_BTN_OK);
    Bind(wxEVT_BUTTON, &UnlockPINDlg::OnCancelButton, this, ID_BTN_CANCEL);
    FinishLayout(column);
    m_newField->SetFocus();
}

UnlockPINDlg::~UnlockPINDlg()
{
    SecretString::Wipe(m_newUserPin);
    SecretString::Wipe(m_soPin);
}

void UnlockPINDlg::SetErrorMessage(const wxString& text)
{
    ShowError(m_errorLine, text);
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
