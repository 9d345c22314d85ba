// The column of buttons beside a manager window's list: equal buttons, all
// as wide as the longest label needs, so a longer translation widens them all.
#pragma once

#include <vector>
#include <wx/string.h>

class wxButton;
class wxSizer;
class wxWindow;

class ButtonColumn final {
public:
    struct Entry {
        int id;
        wxString label;
    };

    // Makes the buttons on parent; the returned sizer goes into its layout.
    wxSizer* Create(wxWindow* parent, const std::vector<Entry>& entries);
    // The button of that ID, or nullptr.
    wxButton* Get(int id) const;
    void Enable(bool enable);

private:
    std::vector<wxButton*> m_buttons;
};
