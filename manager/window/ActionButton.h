// One of the main window's six action buttons: a flat native button with an
// icon and a label, between thin line panels above and below. The icon
// switches to its hover image under the mouse and while the button has the
// keyboard focus. Being a native button, it takes the focus with Tab, shows
// it, acts on Space and Enter, draws its label by its own enabled state, and
// its label is its accessible name. A press sends wxEVT_BUTTON with the
// ActionButton's ID.
#pragma once

#include <functional>
#include <wx/bitmap.h>
#include <wx/panel.h>

class wxButton;

class ActionButton final : public wxPanel {
public:
    // alternateLabel is the other text the button can carry ("Logout" beside
    // "Login"); the button is sized for both. width is the least width; a
    // word wider than the room it leaves widens the button.
    ActionButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxString& alternateLabel,
        const wxBitmap& normalImage, const wxBitmap& hoverImage, int width);

    // The width the button takes; a column of buttons gives all the widest one's.
    int GetButtonWidth() const { return GetMinSize().GetWidth(); }
    void SetButtonWidth(int width);

    void SetLabel(const wxString& label) override;
    wxString GetLabel() const override;
    // The native button inside (tests, focus handling).
    wxButton* GetButton() const { return m_button; }

    // The label broken at blanks into lines no wider than room in font;
    // a word wider than room keeps a line of its own.
    static wxString WrapLabel(
        const wxString& label, int room, const std::function<int(const wxString&)>& measure);

private:
    // Shows the label broken into lines that fit beside the icon; returns the line count.
    int ShowWrapped(const wxString& label);
    void OnButton(wxCommandEvent& event);

    wxButton* m_button = nullptr;
    int m_imageWidth = 0;
    int m_labelRoom = 0;
    wxString m_alternate;
    // The label as given; the button holds it wrapped to its width.
    wxString m_text;
};
