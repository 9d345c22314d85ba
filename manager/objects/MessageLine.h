// The message line at the foot of a manager window: one line, cut with an
// ellipsis when longer than the window, with the whole text as its tooltip.
#pragma once

#include <wx/stattext.h>

class MessageLine final : public wxStaticText {
public:
    MessageLine(wxWindow* parent, wxWindowID id);

    void SetMessage(const wxString& text);
    wxString GetMessage() const { return GetLabelText(); }
};
