// What the PIN, label and message dialogs share: the end codes, the red
// italic error line, the destructor's log line, and applying a check result
// to the dialog's fields.
#pragma once

#include "PinDialogChecks.h"

#include <string>
#include <wx/dialog.h>

class wxSizer;
class wxStaticText;
class wxTextCtrl;

class PinDialogBase : public wxDialog {
public:
    ~PinDialogBase() override;

protected:
    // id is one of DialogIdentity's, which also gives the window name;
    // className is written to the log when the dialog goes.
    PinDialogBase(
        wxWindow* parent, int id, const wxString& title, const char* className, long style = wxCAPTION);

    // Ends the dialog with code, but only while it runs modally.
    void EndIfModal(int code);
    // Cancel and the close box both answer wxID_NO.
    void OnCancelButton(wxCommandEvent& event);

    // The red italic line, one text line high even while empty.
    wxStaticText* CreateErrorLine(wxWindow* parent, wxWindowID id, const wxString& text);
    // Puts text in the error line and widens the dialog when the text needs
    // it, so a message is never cut.
    void ShowError(wxStaticText* errorLine, const wxString& text);
    // Widens or heightens the dialog to what its sizer needs now.
    void GrowToFit();
    // Lays the dialog out around sizer (with the dialog's outer margin) and
    // centres it on its parent.
    void FinishLayout(wxSizer* sizer);
    // The OK and Cancel row, at the right.
    wxSizer* CreateButtonRow(wxWindowID okId, const wxString& okLabel, wxWindowID cancelId);

    // Shows the message, changes and focuses the named field; true when the
    // input was accepted.
    bool ApplyCheck(const PinCheckResult& result, wxStaticText* errorLine, wxTextCtrl* field);

private:
    void OnClose(wxCloseEvent& event);

    std::string m_className;
};

// "Pavix Manager - %s"
wxString ManagerTitle(const wxString& subject);
