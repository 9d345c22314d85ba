#include "InitializeTokenRandomPINPnl.h"

#include "PinDialogBase.h"

#include <wx/intl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

InitializeTokenRandomPINPnl::InitializeTokenRandomPINPnl(
    wxWindow* parent, PinKind kind, const PinPolicy& policy, const wxPoint& pos, const wxSize& size)
    : wxPanel(parent, wxID_ANY, pos, size)
    , m_randomizer(std::make_unique<PINRandomizer>(policy.classFlags, kind))
{
    const bool isSO = kind == PinKind::SO;
    new wxStaticText(this, ID_LBE_PIN, isSO ? _("SO PIN:") : _("User PIN:"), wxPoint(0, 4));
    wxString pin = m_randomizer->Generate(static_cast<int>(policy.randomLength));
    m_pin = new wxTextCtrl(this, ID_TXT_PIN, pin, wxPoint(100, 0), wxSize(130, 25), wxTE_READONLY);
    WipeText(pin);
    auto* reminder = new wxStaticText(this, ID_LBE_REMINDER,
        isSO ? _("Make sure to copy and save this randomly\ngenerated SO PIN in a safe place.")
             : _("Make sure to copy and save this randomly\ngenerated User PIN in a safe place."),
        wxPoint(0, 28));
    reminder->SetForegroundColour(wxColour(255, 0, 0));
    // Two lines were drawn for a narrow system font; a wider one wraps further.
    reminder->SetFont(reminder->GetFont().Smaller());
    reminder->Wrap(size.x);
}

InitializeTokenRandomPINPnl::~InitializeTokenRandomPINPnl() = default;

wxString InitializeTokenRandomPINPnl::GetPIN() const
{
    return m_pin->GetValue();
}
