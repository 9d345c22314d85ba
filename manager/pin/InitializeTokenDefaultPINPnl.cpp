#include "InitializeTokenDefaultPINPnl.h"

#include <wx/checkbox.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

InitializeTokenDefaultPINPnl::InitializeTokenDefaultPINPnl(
    wxWindow* parent, PinKind kind, const PinPolicy& policy)
    : wxPanel(parent, wxID_ANY)
{
    auto* caption = new wxStaticText(this, ID_LBE_PIN, kind == PinKind::SO ? _("SO PIN:") : _("User PIN:"));
    const wxSize fieldSize(FromDIP(130), -1);
    m_masked = new wxTextCtrl(
        this, ID_TXT_PIN, policy.defaultValue, wxDefaultPosition, fieldSize, wxTE_PASSWORD | wxTE_READONLY);
    m_plain = new wxTextCtrl(
        this, ID_TXT_PIN_CHAR, policy.defaultValue, wxDefaultPosition, fieldSize, wxTE_READONLY);
    m_masked->SetMaxLength(8);
    m_plain->SetMaxLength(8);
    m_plain->Hide();
    auto* show = new wxCheckBox(this, ID_CHK_SHOW_CHAR, _("Show Characters"));

    // The two fields share one place; only one of them is shown.
    auto* fields = new wxBoxSizer(wxHORIZONTAL);
    fields->Add(m_masked, wxSizerFlags(1));
    fields->Add(m_plain, wxSizerFlags(1));
    auto* grid = new wxFlexGridSizer(2, FromDIP(6), FromDIP(8));
    grid->AddGrowableCol(1);
    grid->Add(caption, wxSizerFlags().CenterVertical());
    grid->Add(fields, wxSizerFlags().Expand());
    grid->AddSpacer(0);
    grid->Add(show);
    SetSizerAndFit(grid);
    Bind(wxEVT_CHECKBOX, &InitializeTokenDefaultPINPnl::OnShowCharacters, this, ID_CHK_SHOW_CHAR);
}

void InitializeTokenDefaultPINPnl::OnShowCharacters(wxCommandEvent& event)
{
    const bool show = event.IsChecked();
    m_plain->Show(show);
    m_masked->Show(!show);
    Layout();
}
