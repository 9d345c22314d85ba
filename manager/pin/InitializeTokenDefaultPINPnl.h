// Shows the configured default PIN of one kind, masked unless the user asks
// to see the characters.
#pragma once

#include "PinKind.h"
#include "PinPolicy.h"

#include <wx/panel.h>

class wxCheckBox;
class wxTextCtrl;

class InitializeTokenDefaultPINPnl final : public wxPanel {
public:
    enum {
        ID_LBE_PIN = 1601,
        ID_TXT_PIN,
        ID_TXT_PIN_CHAR,
        ID_CHK_SHOW_CHAR,
    };

    InitializeTokenDefaultPINPnl(wxWindow* parent, PinKind kind, const PinPolicy& policy);

private:
    void OnShowCharacters(wxCommandEvent& event);

    wxTextCtrl* m_masked = nullptr;
    wxTextCtrl* m_plain = nullptr;
};
