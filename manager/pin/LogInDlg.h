// Asks for the SO PIN, the User PIN or a password before a login.
#pragma once

#include "PinDialogBase.h"
#include "PinKind.h"

class wxStaticText;
class wxTextCtrl;

class LogInDlg final : public PinDialogBase {
public:
    enum {
        ID_GBX_LOG_IN = 1001,
        ID_LBE_NOTIFICATION,
        ID_TXT_PIN,
        ID_BTN_OK,
        ID_BTN_CANCEL,
        ID_LBE_ERROR_MESSAGE,
    };

    LogInDlg(wxWindow* parent, PinKind kind, const wxString& title, const wxString& notification,
        int maxLength, const wxString& extra = wxString());
    ~LogInDlg() override;

    // Puts the token's answer in the error line and asks for the PIN again.
    void SetErrorMessage(const wxString& text);
    wxString GetPIN() const { return m_pin; }

private:
    void OnOK(wxCommandEvent& event);

    PinKind m_kind;
    wxTextCtrl* m_pinField = nullptr;
    wxStaticText* m_errorLine = nullptr;
    wxString m_pin;
};
