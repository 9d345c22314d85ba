// Changes the User PIN or the SO PIN; in the default-PIN mode it asks only
// for the new PIN, because the current one is the known default.
#pragma once

#include "PinDialogBase.h"
#include "PinKind.h"

class wxStaticText;
class wxTextCtrl;

class ChangePINDlg final : public PinDialogBase {
public:
    enum {
        ID_GBX_CHANGE_PIN = 1101,
        ID_LBE_HEADER_0,
        ID_LBE_HEADER_1,
        ID_LBE_CURRENT_PIN,
        ID_TXT_CURRENT_PIN,
        ID_LBE_NEW_PIN,
        ID_TXT_NEW_PIN,
        ID_LBE_VERIFY_NEW_PIN,
        ID_TXT_VERIFY_NEW_PIN,
        ID_LINE_DIVISION,
        ID_LBE_ERROR_MESSAGE,
        ID_BTN_OK,
        ID_BTN_CANCEL,
    };

    ChangePINDlg(wxWindow* parent, const wxString& tokenLabel, PinKind kind, int minLength, int maxLength,
        bool defaultPinMode);
    ~ChangePINDlg() override;

    void SetErrorMessage(const wxString& text);
    wxString GetNewPIN() const { return m_newPin; }
    // Empty in the default-PIN mode.
    wxString GetCurrentPIN() const { return m_currentPin; }

private:
    void OnOK(wxCommandEvent& event);
    bool IsCurrentShown() const { return !m_defaultPinMode; }

    PinKind m_kind;
    int m_minLength;
    bool m_defaultPinMode;
    wxTextCtrl* m_currentField = nullptr;
    wxTextCtrl* m_newField = nullptr;
    wxTextCtrl* m_verifyField = nullptr;
    wxStaticText* m_errorLine = nullptr;
    wxString m_newPin;
    wxString m_currentPin;
};
