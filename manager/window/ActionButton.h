// One of the main window's six action buttons: an icon, a label and thin
// line panels above and below. The icon switches to its hover image under
// the mouse; a click sends wxEVT_BUTTON with the button's ID.
#pragma once

#include <wx/bitmap.h>
#include <wx/panel.h>

class wxStaticBitmap;
class wxStaticText;

class ActionButton final : public wxPanel {
public:
    ActionButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxBitmap& normalImage,
        const wxBitmap& hoverImage, int width);

    bool Enable(bool enable = true) override;
    void SetLabel(const wxString& label) override;
    wxString GetLabel() const override;
    bool IsHovered() const { return m_hovered; }

private:
    // Shows the label broken into lines that fit beside the icon; returns the line count.
    int ShowWrapped(const wxString& label);
    void SetHovered(bool hovered);
    void OnEnter(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void OnClick(wxMouseEvent& event);

    wxBitmap m_normalImage;
    wxBitmap m_hoverImage;
    wxStaticBitmap* m_icon = nullptr;
    wxStaticText* m_label = nullptr;
    // The label as given; the control holds it wrapped to the button's width.
    wxString m_text;
    bool m_hovered = false;
};
