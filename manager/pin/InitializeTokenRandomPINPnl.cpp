#include "InitializeTokenRandomPINPnl.h"

#include "PinDialogBase.h"
#include "manager/core/SecretString.h"

#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

InitializeTokenRandomPINPnl::InitializeTokenRandomPINPnl(
    wxWindow* parent, PinKind kind, const PinPolicy& policy)
    : wxPanel(parent, wxID_ANY)
    , m_randomizer(std::make_unique<PINRandomizer>(policy.classFlags, kind))
{
    const bool isSO = kind == PinKind::SO;
    auto* caption = new wxStaticText(this, ID_LBE_PIN, isSO ? _("SO PIN:") : _("User PIN:"));
    wxString pin = m_randomizer->Generate(static_cast<int>(policy.randomLength));
    m_pin = new wxTextCtrl(this, ID_TXT_PIN, pin, wxDefaultPosition, wxSize(FromDIP(130), -1), wxTE_READONLY);
    SecretString::Wipe(pin);
    auto* reminder = new wxStaticText(this, ID_LBE_REMINDER,
        isSO ? _("Make sure to copy and save this randomly\ngenerated SO PIN in a safe place.")
             : _("Make sure to copy and save this randomly\ngenerated User PIN in a safe place."));
    reminder->SetForegroundColour(wxColour(255, 0, 0));
    reminder->SetFont(reminder->GetFont().Smaller());

    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(caption, wxSizerFlags().CenterVertical().Border(wxRIGHT, FromDIP(8)));
    row->Add(m_pin, wxSizerFlags(1));
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(row, wxSizerFlags().Expand());
    column->Add(reminder, wxSizerFlags().Border(wxTOP, FromDIP(4)));
    SetSizerAndFit(column);
}

InitializeTokenRandomPINPnl::~InitializeTokenRandomPINPnl() = default;

wxString InitializeTokenRandomPINPnl::GetPIN() const
{
    return m_pin->GetValue();
}
