#include "LogInDlg.h"

#include <wx/button.h>
#include <wx/intl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

LogInDlg::LogInDlg(wxWindow* parent, int kind, const wxString& title, const wxString& notification,
    int maxLength, const wxString& extra)
    : PinDialogBase(parent, _("Login"), "NRVCMU_DLG_LOGIN", "LogInDlg")
    , m_kind(static_cast<PinKind>(kind))
{
    // A second notification line pushes everything below it down.
    const int shift = extra.empty() ? 0 : 16;
    new wxStaticBox(this, ID_GBX_LOG_IN, wxString(), wxPoint(8, 4), wxSize(334, 96 + shift));
    auto* notice = new wxStaticText(this, ID_LBE_NOTIFICATION, _("Please enter User PIN for "),
        wxPoint(20, 20), wxSize(310, 16 + shift), wxST_NO_AUTORESIZE);
    m_pinField = new wxTextCtrl(
        this, ID_TXT_PIN, wxString(), wxPoint(20, 42 + shift), wxSize(310, 25), wxTE_PASSWORD | wxTE_CENTRE);
    m_errorLine = CreateErrorLine(ID_LBE_ERROR_MESSAGE, _("Error"), wxPoint(20, 74 + shift), wxSize(310, 18));
    auto* ok = new wxButton(this, ID_BTN_OK, _("OK"), wxPoint(176, 108 + shift), wxSize(80, 25));
    new wxButton(this, ID_BTN_CANCEL, _("Cancel"), wxPoint(262, 108 + shift), wxSize(80, 25));
    SetClientSize(350, 141 + shift);

    if (m_kind == PinKind::SO || m_kind == PinKind::User) {
        SetTitle(ManagerTitle(title));
    }
    notice->SetLabelText(extra.empty() ? notification : notification + "\n" + extra);
    m_pinField->SetMaxLength(maxLength);
    m_pinField->ChangeValue(wxString());
    m_pinField->SetFocus();

    ok->SetDefault();
    SetEscapeId(ID_BTN_CANCEL);
    Bind(wxEVT_BUTTON, &LogInDlg::OnOK, this, ID_BTN_OK);
    Bind(wxEVT_BUTTON, &LogInDlg::OnCancelButton, this, ID_BTN_CANCEL);
    CentreOnParent();
}

LogInDlg::~LogInDlg()
{
    WipeText(m_pin);
}

void LogInDlg::SetErrorMessage(const wxString& text)
{
    m_errorLine->SetLabelText(text);
    m_pinField->ChangeValue(wxString());
    m_pinField->SetFocus();
}

void LogInDlg::OnOK(wxCommandEvent&)
{
    const wxString pin = m_pinField->GetValue();
    if (!ApplyCheck(CheckLogIn(m_kind, pin), m_errorLine, m_pinField)) {
        return;
    }
    m_pin = pin;
    EndIfModal(wxID_OK);
}
