#include "InitializeTokenDefaultPINPnl.h"

#include <wx/checkbox.h>
#include <wx/intl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

InitializeTokenDefaultPINPnl::InitializeTokenDefaultPINPnl(
    wxWindow* parent, PinKind kind, const PinPolicy& policy, const wxPoint& pos, const wxSize& size)
    : wxPanel(parent, wxID_ANY, pos, size)
{
    new wxStaticText(this, ID_LBE_PIN, kind == PinKind::SO ? _("SO PIN:") : _("User PIN:"), wxPoint(0, 4));
    m_masked = new wxTextCtrl(this, ID_TXT_PIN, policy.defaultValue, wxPoint(100, 0), wxSize(130, 25),
        wxTE_PASSWORD | wxTE_READONLY);
    m_plain = new wxTextCtrl(
        this, ID_TXT_PIN_CHAR, policy.defaultValue, wxPoint(100, 0), wxSize(130, 25), wxTE_READONLY);
    m_masked->SetMaxLength(8);
    m_plain->SetMaxLength(8);
    m_plain->Hide();
    new wxCheckBox(this, ID_CHK_SHOW_CHAR, _("Show Characters"), wxPoint(100, 32));
    Bind(wxEVT_CHECKBOX, &InitializeTokenDefaultPINPnl::OnShowCharacters, this, ID_CHK_SHOW_CHAR);
}

void InitializeTokenDefaultPINPnl::OnShowCharacters(wxCommandEvent& event)
{
    const bool show = event.IsChecked();
    m_plain->Show(show);
    m_masked->Show(!show);
}
