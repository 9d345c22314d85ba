#include "InitializeTokenManualInputPINPnl.h"

#include "PinDialogChecks.h"
#include "manager/res/EmbeddedImages.h"

#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

InitializeTokenManualInputPINPnl::InitializeTokenManualInputPINPnl(
    wxWindow* parent, PinKind kind, const PinPolicy& policy)
    : wxPanel(parent, wxID_ANY)
{
    const bool isSO = kind == PinKind::SO;
    const wxSize fieldSize(FromDIP(120), -1);
    auto* caption = new wxStaticText(this, ID_LBE_PIN, isSO ? _("SO PIN:") : _("User PIN:"));
    m_pin = new wxTextCtrl(this, ID_TXT_PIN, wxString(), wxDefaultPosition, fieldSize, wxTE_PASSWORD);
    auto* verifyCaption
        = new wxStaticText(this, ID_LBE_VERIFY_PIN, isSO ? _("Verify SO PIN:") : _("Verify User PIN:"));
    m_verify
        = new wxTextCtrl(this, ID_TXT_VERIFY_PIN, wxString(), wxDefaultPosition, fieldSize, wxTE_PASSWORD);
    m_checker = new wxStaticBitmap(this, ID_IMG_CHECKER, wxNullBitmap, wxDefaultPosition, wxSize(16, 16));
    m_checker->Hide();

    auto* grid = new wxFlexGridSizer(3, FromDIP(6), FromDIP(4));
    grid->AddGrowableCol(1);
    grid->Add(caption, wxSizerFlags().CenterVertical().Border(wxRIGHT, FromDIP(4)));
    grid->Add(m_pin, wxSizerFlags().Expand());
    grid->AddSpacer(16);
    grid->Add(verifyCaption, wxSizerFlags().CenterVertical().Border(wxRIGHT, FromDIP(4)));
    grid->Add(m_verify, wxSizerFlags().Expand());
    // The image comes and goes as the user types; its place stays, so nothing moves.
    grid->Add(m_checker, wxSizerFlags().CenterVertical().ReserveSpaceEvenIfHidden());
    SetSizerAndFit(grid);

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
