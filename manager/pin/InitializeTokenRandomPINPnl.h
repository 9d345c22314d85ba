// Shows a freshly drawn random PIN of one kind for the user to write down.
#pragma once

#include "PINRandomizer.h"
#include "PinKind.h"
#include "PinPolicy.h"

#include <memory>
#include <wx/panel.h>

class wxTextCtrl;

class InitializeTokenRandomPINPnl final : public wxPanel {
public:
    enum {
        ID_LBE_PIN = 1801,
        ID_TXT_PIN,
        ID_LBE_REMINDER,
    };

    InitializeTokenRandomPINPnl(wxWindow* parent, PinKind kind, const PinPolicy& policy);
    ~InitializeTokenRandomPINPnl() override;

    wxString GetPIN() const;

private:
    std::unique_ptr<PINRandomizer> m_randomizer;
    wxTextCtrl* m_pin = nullptr;
};
