#include "InitializeTokenManualInputPINPnl.h"

#include "PinDialogChecks.h"
#include "manager/res/EmbeddedImages.h"

#include <wx/intl.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

InitializeTokenManualInputPINPnl::InitializeTokenManualInputPINPnl(
    wxWindow* parent, PinKind kind, const PinPolicy& policy, const wxPoint& pos, const wxSize& size)
    : wxPanel(parent, wxID_ANY, pos, size)
{
    const bool isSO = kind == PinKind::SO;
    new wxStaticText(this, ID_LBE_PIN, isSO ? _("SO PIN:") : _("User PIN:"), wxPoint(0, 4));
    m_pin = new wxTextCtrl(this, ID_TXT_PIN, wxString(), wxPoint(110, 0), wxSize(110, 25), wxTE_PASSWORD);
    new wxStaticText(
        this, ID_LBE_VERIFY_PIN, isSO ? _("Verify SO PIN:") : _("Verify User PIN:"), wxPoint(0, 34));
    m_verify = new wxTextCtrl(
        this, ID_TXT_VERIFY_PIN, wxString(), wxPoint(110, 30), wxSize(110, 25), wxTE_PASSWORD);
    m_checker = new wxStaticBitmap(this, ID_IMG_CHECKER, wxNullBitmap, wxPoint(224, 34), wxSize(16, 16));
    m_checker->Hide();
    m_pin->SetMaxLength(policy.maxLength);
    m_verify->SetMaxLength(policy.maxLength);
    m_pin->Bind(wxEVT_TEXT, &InitializeTokenManualInputPINPnl::OnText, this);
    m_verify->Bind(wxEVT_TEXT, &InitializeTokenManualInputPINPnl::OnText, this);
}

void InitializeTokenManualInputPINPnl::OnText(wxCommandEvent& event)
{
    event.Skip();
    switch (MatchImageFor(m_pin->GetValue(), m_verify->GetValue())) {
    case MatchImage::Hidden:
        m_checker->Hide();
        return;
    case MatchImage::Match:
        m_checker->SetBitmap(LoadEmbeddedBitmap("CheckerTrue"));
        break;
    case MatchImage::Mismatch:
        m_checker->SetBitmap(LoadEmbeddedBitmap("CheckerFalse"));
        break;
    }
    m_checker->Show();
}
