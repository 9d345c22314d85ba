// Unblocks the User PIN: a new User PIN, authorised by the SO PIN.
#pragma once

#include "PinDialogBase.h"

class wxStaticText;
class wxTextCtrl;

class UnlockPINDlg final : public PinDialogBase {
public:
    enum {
        ID_GBX_MAIN = 1201,
        ID_LBE_NEW_USER_PIN,
        ID_TXT_NEW_USER_PIN,
        ID_LBE_VERIFY_NEW_USER_PIN,
        ID_TXT_VERIFY_NEW_USER_PIN,
        ID_LBE_NOTIFICATION,
        ID_LBE_CURRENT_SO_PIN,
        ID_TXT_CURRENT_SO_PIN,
        ID_BTN_OK,
        ID_BTN_CANCEL,
        ID_LBE_ERROR_MESSAGE,
    };

    UnlockPINDlg(
        wxWindow* parent, const wxString& tokenLabel, int minUserLength, int maxUserLength, int maxSOLength);
    ~UnlockPINDlg() override;

    // A wrong SO PIN empties the SO PIN field; other SO PIN failures only
    // focus it.
    void SetErrorMessage(const wxString& text);
    wxString GetNewUserPIN() const { return m_newUserPin; }
    wxString GetSOPIN() const { return m_soPin; }

private:
    void OnOK(wxCommandEvent& event);

    int m_minUserLength;
    wxTextCtrl* m_newField = nullptr;
    wxTextCtrl* m_verifyField = nullptr;
    wxTextCtrl* m_soField = nullptr;
    wxStaticText* m_errorLine = nullptr;
    wxString m_newUserPin;
    wxString m_soPin;
};
