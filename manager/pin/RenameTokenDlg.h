// Asks for a new token label.
#pragma once

#include "PinDialogBase.h"

class wxStaticText;
class wxTextCtrl;

class RenameTokenDlg final : public PinDialogBase {
public:
    enum {
        ID_SBX_TOKEN_NAME = 1301,
        ID_LBE_CURRENT_TOKEN_LABEL,
        ID_TXT_CURRENT_TOKEN_NAME,
        ID_LBE_NEW_TOKEN_LABEL,
        ID_TXT_NEW_TOKEN_NAME,
        ID_BTN_CHANGE,
        ID_BTN_CANCEL,
        ID_LBL_ERROR,
    };

    RenameTokenDlg(wxWindow* parent, const wxString& currentLabel);

    // The label as typed; it never ends with white space.
    wxString GetNewLabel() const { return m_newLabel; }

private:
    void OnChange(wxCommandEvent& event);

    wxString m_currentLabel;
    wxTextCtrl* m_newField = nullptr;
    wxStaticText* m_errorLine = nullptr;
    wxString m_newLabel;
};
