#include "ChangePINDlg.h"

#include "manager/core/DialogIdentity.h"
#include "manager/core/SecretString.h"

#include <utility>
#include <wx/button.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

ChangePINDlg::ChangePINDlg(wxWindow* parent, const wxString& tokenLabel, PinKind kind, int minLength,
    int maxLength, bool defaultPinMode)
    : PinDialogBase(parent, DialogIdentity::ID_DLG_CHANGE_PIN, _("Error:"), "ChangePINDlg")
    , m_kind(kind == PinKind::SO ? PinKind::SO : PinKind::User)
    , m_minLength(minLength)
    , m_defaultPinMode(defaultPinMode)
{
    const bool isSO = m_kind == PinKind::SO;
    // TRANSLATORS: %s is the token label.
    const wxString subject = isSO ? wxString::Format(_("Change SO PIN for \"%s\""), tokenLabel)
                                  // TRANSLATORS: %s is the token label.
                                  : wxString::Format(_("Change User PIN for \"%s\""), tokenLabel);
    const int gap = FromDIP(6);

    auto* header0 = new wxStaticText(this, ID_LBE_HEADER_0,
        isSO ? _("This application detected your token with a default SO PIN.")
             : _("This application detected your token with a default User PIN."));
    auto* header1 = new wxStaticText(this, ID_LBE_HEADER_1,
        isSO ? _("To make your token more secure, please change your SO PIN now.")
             : _("To make token more secure, please change your User PIN now."));
    auto* divider = new wxStaticLine(this, ID_LINE_DIVISION);

    auto* group = new wxStaticBoxSizer(new wxStaticBox(this, ID_GBX_CHANGE_PIN, wxString()), wxVERTICAL);
    wxWindow* box = group->GetStaticBox();
    auto* grid = new wxFlexGridSizer(2, gap, FromDIP(10));
    grid->AddGrowableCol(1);
    const wxSize fieldSize(FromDIP(220), -1);
    const auto addRow = [&](int captionId, const wxString& caption, int fieldId) {
        auto* text = new wxStaticText(box, captionId, caption);
        auto* field = new wxTextCtrl(box, fieldId, wxString(), wxDefaultPosition, fieldSize, wxTE_PASSWORD);
        grid->Add(text, wxSizerFlags().CenterVertical());
        grid->Add(field, wxSizerFlags().Expand());
        return std::make_pair(text, field);
    };
    const auto current = addRow(
        ID_LBE_CURRENT_PIN, isSO ? _("Current SO PIN:") : _("Current User PIN:"), ID_TXT_CURRENT_PIN);
    m_currentField = current.second;
    m_newField = addRow(ID_LBE_NEW_PIN, isSO ? _("New SO PIN:") : _("New User PIN:"), ID_TXT_NEW_PIN).second;
    m_verifyField = addRow(ID_LBE_VERIFY_NEW_PIN, isSO ? _("Verify New SO PIN:") : _("Verify New User PIN:"),
        ID_TXT_VERIFY_NEW_PIN)
                        .second;
    m_errorLine = CreateErrorLine(box, ID_LBE_ERROR_MESSAGE, _("Error"));
    group->Add(grid, wxSizerFlags().Expand().Border(wxALL, gap));
    group->Add(m_errorLine, wxSizerFlags().Expand().Border(wxLEFT | wxRIGHT | wxBOTTOM, gap));

    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(header0, wxSizerFlags().Border(wxLEFT | wxRIGHT, gap));
    column->Add(header1, wxSizerFlags().Border(wxLEFT | wxRIGHT | wxTOP, gap));
    column->Add(divider, wxSizerFlags().Expand().Border(wxTOP | wxBOTTOM, gap));
    column->Add(group, wxSizerFlags(1).Expand());
    column->Add(
        CreateButtonRow(ID_BTN_OK, _("OK"), ID_BTN_CANCEL), wxSizerFlags().Expand().Border(wxTOP, gap));
    SetTitle(ManagerTitle(subject));

    m_newField->SetMaxLength(maxLength);
    m_verifyField->SetMaxLength(maxLength);
    m_currentField->SetMaxLength(maxLength < 9 ? 8 : 16);
    // In the default-PIN mode the current-PIN row is hidden; in the normal
    // mode the notices go instead and the dialog is smaller.
    if (defaultPinMode) {
        current.first->Hide();
        m_currentField->Hide();
        m_newField->ChangeValue(wxString());
    } else {
        header0->Hide();
        header1->Hide();
        divider->Hide();
        m_currentField->ChangeValue(wxString());
    }

    Bind(wxEVT_BUTTON, &ChangePINDlg::OnOK, this, ID_BTN_OK);
    Bind(wxEVT_BUTTON, &ChangePINDlg::OnCancelButton, this, ID_BTN_CANCEL);
    FinishLayout(column);
    (defaultPinMode ? m_newField : m_currentField)->SetFocus();
}

ChangePINDlg::~ChangePINDlg()
{
    SecretString::Wipe(m_newPin);
    SecretString::Wipe(m_currentPin);
}

void ChangePINDlg::SetErrorMessage(const wxString& text)
{
    ShowError(m_errorLine, text);
    m_currentField->ChangeValue(wxString());
    if (IsCurrentShown()) {
        m_currentField->SetFocus();
    } else {
        m_newField->SetFocus();
    }
}

void ChangePINDlg::OnOK(wxCommandEvent&)
{
    const wxString current = IsCurrentShown() ? m_currentField->GetValue() : wxString();
    const wxString newPin = m_newField->GetValue();
    const PinCheckResult result
        = CheckChangePIN(m_kind, IsCurrentShown(), current, newPin, m_verifyField->GetValue(), m_minLength);
    wxTextCtrl* field = nullptr;
    switch (result.focus) {
    case PinField::CurrentPin:
        field = m_currentField;
        break;
    case PinField::NewPin:
        field = m_newField;
        break;
    default:
        field = m_verifyField;
        break;
    }
    if (!ApplyCheck(result, m_errorLine, field)) {
        return;
    }
    m_newPin = newPin;
    m_currentPin = current;
    EndIfModal(wxID_OK);
}
