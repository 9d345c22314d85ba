// Takes a PIN of one kind typed twice, with an image telling whether the
// two entries match.
#pragma once

#include "PinKind.h"
#include "PinPolicy.h"

#include <wx/panel.h>

class wxStaticBitmap;
class wxTextCtrl;

class InitializeTokenManualInputPINPnl final : public wxPanel {
public:
    enum {
        ID_LBE_PIN = 1701,
        ID_TXT_PIN,
        ID_LBE_VERIFY_PIN,
        ID_TXT_VERIFY_PIN,
        ID_IMG_CHECKER,
    };

    InitializeTokenManualInputPINPnl(wxWindow* parent, PinKind kind, const PinPolicy& policy);

    wxTextCtrl* GetPINField() const { return m_pin; }
    wxTextCtrl* GetVerifyField() const { return m_verify; }

private:
    void OnText(wxCommandEvent& event);

    wxTextCtrl* m_pin = nullptr;
    wxTextCtrl* m_verify = nullptr;
    wxStaticBitmap* m_checker = nullptr;
};
