#include "LogInDlg.h"

#include "manager/core/DialogIdentity.h"
#include "manager/core/SecretString.h"

#include <wx/button.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

LogInDlg::LogInDlg(wxWindow* parent, PinKind kind, const wxString& title, const wxString& notification,
    int maxLength, const wxString& extra)
    : PinDialogBase(parent, DialogIdentity::ID_DLG_LOGIN, _("Login"), "LogInDlg")
    , m_kind(kind)
{
    auto* group = new wxStaticBoxSizer(new wxStaticBox(this, ID_GBX_LOG_IN, wxString()), wxVERTICAL);
    wxWindow* box = group->GetStaticBox();
    auto* notice = new wxStaticText(box, ID_LBE_NOTIFICATION, _("Please enter User PIN for "));
    m_pinField = new wxTextCtrl(box, ID_TXT_PIN, wxString(), wxDefaultPosition, wxSize(FromDIP(300), -1),
        wxTE_PASSWORD | wxTE_CENTRE);
    m_errorLine = CreateErrorLine(box, ID_LBE_ERROR_MESSAGE, _("Error"));
    const int gap = FromDIP(6);
    group->Add(notice, wxSizerFlags().Expand().Border(wxALL, gap));
    group->Add(m_pinField, wxSizerFlags().Expand().Border(wxLEFT | wxRIGHT, gap));
    group->Add(m_errorLine, wxSizerFlags().Expand().Border(wxALL, gap));

    if (m_kind == PinKind::SO || m_kind == PinKind::User) {
        SetTitle(ManagerTitle(title));
    }
    // A second notification line pushes everything below it down.
    notice->SetLabelText(extra.empty() ? notification : notification + "\n" + extra);
    m_pinField->SetMaxLength(maxLength);
    m_pinField->ChangeValue(wxString());

    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(group, wxSizerFlags(1).Expand());
    column->Add(
        CreateButtonRow(ID_BTN_OK, _("OK"), ID_BTN_CANCEL), wxSizerFlags().Expand().Border(wxTOP, gap));
    Bind(wxEVT_BUTTON, &LogInDlg::OnOK, this, ID_BTN_OK);
    Bind(wxEVT_BUTTON, &LogInDlg::OnCancelButton, this, ID_BTN_CANCEL);
    FinishLayout(column);
    m_pinField->SetFocus();
}

LogInDlg::~LogInDlg()
{
    SecretString::Wipe(m_pin);
}

void LogInDlg::SetErrorMessage(const wxString& text)
{
    ShowError(m_errorLine, text);
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
