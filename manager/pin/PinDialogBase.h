// What the PIN, label and message dialogs share: the end codes, the red
// italic error line, the destructor's log line, and applying a check result
// to the dialog's fields.
#pragma once

#include "PinDialogChecks.h"

#include <string>
#include <wx/dialog.h>

class wxStaticText;
class wxTextCtrl;

class PinDialogBase : public wxDialog {
public:
    ~PinDialogBase() override;

protected:
    // className is written to the log when the dialog goes.
    PinDialogBase(wxWindow* parent, const wxString& title, const wxString& windowName, const char* className,
        long style = wxCAPTION);

    // Ends the dialog with code, but only while it runs modally.
    void EndIfModal(int code);
    // Cancel and the close box both answer wxID_NO.
    void OnCancelButton(wxCommandEvent& event);

    wxStaticText* CreateErrorLine(
        wxWindowID id, const wxString& text, const wxPoint& pos, const wxSize& size);

    // Shows the message, changes and focuses the named field; true when the
    // input was accepted.
    bool ApplyCheck(const PinCheckResult& result, wxStaticText* errorLine, wxTextCtrl* field);

private:
    void OnClose(wxCloseEvent& event);

    std::string m_className;
};

// "Pavix Manager - %s"
wxString ManagerTitle(const wxString& subject);

// Overwrites the characters of a text that held a PIN, then empties it.
void WipeText(wxString& text);
