// The manager's message and Yes/No question box; long one-line messages
// (file paths) are broken over several lines.
#pragma once

#include "PinDialogBase.h"

class wxButton;
class wxStaticText;

class MessageBoxDlg final : public PinDialogBase {
public:
    enum {
        ID_BTN_YES = 1401,
        ID_BTN_NO,
        ID_LBE_CAPTION,
    };

    // Without the question flag the box has a single "OK" button.
    MessageBoxDlg(wxWindow* parent, const wxString& title, const wxString& message, bool question);

private:
    wxButton* m_yes = nullptr;
    wxButton* m_no = nullptr;
    wxStaticText* m_message = nullptr;
};
