#include "ChangePINDlg.h"

#include <algorithm>
#include <wx/button.h>
#include <wx/intl.h>
#include <wx/statbox.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {
constexpr int kHeaderHeight = 52; // the two notices and the divider
constexpr int kRow = 30;
} // namespace

ChangePINDlg::ChangePINDlg(
    wxWindow* parent, const wxString& tokenLabel, int kind, int minLength, int maxLength, bool defaultPinMode)
    : PinDialogBase(parent, _("Error:"), "NRVCMU_DLG_CHANGE_PIN", "ChangePINDlg")
    , m_kind(kind == PinKind::SO ? PinKind::SO : PinKind::User)
    , m_minLength(minLength)
    , m_defaultPinMode(defaultPinMode)
{
    const bool isSO = m_kind == PinKind::SO;
    // TRANSLATORS: %s is the token label.
    const wxString subject = isSO ? wxString::Format(_("Change SO PIN for \"%s\""), tokenLabel)
                                  // TRANSLATORS: %s is the token label.
                                  : wxString::Format(_("Change User PIN for \"%s\""), tokenLabel);

    auto* header0 = new wxStaticText(this, ID_LBE_HEADER_0,
        isSO ? _("This application detected your token with a default SO PIN.")
             : _("This application detected your token with a default User PIN."),
        wxPoint(14, 8));
    auto* header1 = new wxStaticText(this, ID_LBE_HEADER_1,
        isSO ? _("To make your token more secure, please change your SO PIN now.")
             : _("To make token more secure, please change your User PIN now."),
        wxPoint(14, 26));
    // The notices decide the width when a font or a language makes them long.
    const int width = std::max(428, std::max(header0->GetSize().x, header1->GetSize().x) + 28);
    auto* divider = new wxStaticLine(this, ID_LINE_DIVISION, wxPoint(8, 46), wxSize(width - 16, 2));

    // In the default-PIN mode the current-PIN row is hidden and the rows
    // below it take its place; in the normal mode the notices go instead.
    const int top = defaultPinMode ? kHeaderHeight : 0;
    const int rows = defaultPinMode ? 2 : 3;
    int y = top + 20;
    auto* box = new wxStaticBox(
        this, ID_GBX_CHANGE_PIN, wxString(), wxPoint(8, top + 4), wxSize(width - 16, 24 + rows * kRow + 22));
    auto* currentCaption = new wxStaticText(
        this, ID_LBE_CURRENT_PIN, isSO ? _("Current SO PIN:") : _("Current User PIN:"), wxPoint(20, y + 4));
    m_currentField = new wxTextCtrl(
        this, ID_TXT_CURRENT_PIN, wxString(), wxPoint(190, y), wxSize(218, 25), wxTE_PASSWORD);
    if (!defaultPinMode) {
        y += kRow;
    }
    new wxStaticText(this, ID_LBE_NEW_PIN, isSO ? _("New SO PIN:") : _("New User PIN:"), wxPoint(20, y + 4));
    m_newField
        = new wxTextCtrl(this, ID_TXT_NEW_PIN, wxString(), wxPoint(190, y), wxSize(218, 25), wxTE_PASSWORD);
    y += kRow;
    new wxStaticText(this, ID_LBE_VERIFY_NEW_PIN, isSO ? _("Verify New SO PIN:") : _("Verify New User PIN:"),
        wxPoint(20, y + 4));
    m_verifyField = new wxTextCtrl(
        this, ID_TXT_VERIFY_NEW_PIN, wxString(), wxPoint(190, y), wxSize(218, 25), wxTE_PASSWORD);
    y += kRow;
    m_errorLine = CreateErrorLine(ID_LBE_ERROR_MESSAGE, _("Error"), wxPoint(20, y + 2), wxSize(388, 18));
    y = box->GetRect().GetBottom() + 8;
    auto* ok = new wxButton(this, ID_BTN_OK, _("OK"), wxPoint(width - 174, y), wxSize(80, 25));
    new wxButton(this, ID_BTN_CANCEL, _("Cancel"), wxPoint(width - 88, y), wxSize(80, 25));
    SetClientSize(width, y + 33);
    SetTitle(ManagerTitle(subject));

    m_newField->SetMaxLength(maxLength);
    m_verifyField->SetMaxLength(maxLength);
    m_currentField->SetMaxLength(maxLength < 9 ? 8 : 16);
    if (defaultPinMode) {
        currentCaption->Hide();
        m_currentField->Hide();
        m_newField->ChangeValue(wxString());
        m_newField->SetFocus();
    } else {
        header0->Hide();
        header1->Hide();
        divider->Hide();
        m_currentField->ChangeValue(wxString());
        m_currentField->SetFocus();
    }

    ok->SetDefault();
    SetEscapeId(ID_BTN_CANCEL);
    Bind(wxEVT_BUTTON, &ChangePINDlg::OnOK, this, ID_BTN_OK);
    Bind(wxEVT_BUTTON, &ChangePINDlg::OnCancelButton, this, ID_BTN_CANCEL);
    CentreOnParent();
}

ChangePINDlg::~ChangePINDlg()
{
    WipeText(m_newPin);
    WipeText(m_currentPin);
}

void ChangePINDlg::SetErrorMessage(const wxString& text)
{
    m_errorLine->SetLabelText(text);
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
