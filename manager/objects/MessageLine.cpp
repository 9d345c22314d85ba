#include "MessageLine.h"

MessageLine::MessageLine(wxWindow* parent, wxWindowID id)
    : wxStaticText(
        parent, id, wxString(), wxDefaultPosition, wxDefaultSize, wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END)
{
}

void MessageLine::SetMessage(const wxString& text)
{
    SetLabelText(text);
    SetToolTip(text);
}
