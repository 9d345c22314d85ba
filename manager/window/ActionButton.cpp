#include "ActionButton.h"

#include <algorithm>
#include <wx/arrstr.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

namespace {
const wxColour kLineColour(170, 180, 200);
const wxColour kHoverBackground(255, 240, 225);
constexpr int kHeight = 46;
// Gaps around the icon and after the label.
constexpr int kLabelMargin = 14;
} // namespace

ActionButton::ActionButton(wxWindow* parent, wxWindowID id, const wxString& label,
    const wxBitmap& normalImage, const wxBitmap& hoverImage, int width)
    : wxPanel(parent, id, wxDefaultPosition, wxSize(width, -1), wxTAB_TRAVERSAL, "ActionButton")
    , m_normalImage(normalImage)
    , m_hoverImage(hoverImage)
    , m_text(label)
{
    auto* topLine = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxSize(width, 1));
    auto* bottomLine = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxSize(width, 1));
    topLine->SetBackgroundColour(kLineColour);
    bottomLine->SetBackgroundColour(kLineColour);
    m_icon = new wxStaticBitmap(this, wxID_ANY, m_normalImage);
    m_label = new wxStaticText(this, wxID_ANY, label);
    // Labels such as "Re-initialize Token" must fit two lines of a narrow button.
    m_label->SetFont(m_label->GetFont().Smaller());

    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(m_icon, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
    row->Add(m_label, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(topLine, 0, wxEXPAND);
    column->Add(row, 1, wxEXPAND);
    column->Add(bottomLine, 0, wxEXPAND);
    SetSizer(column);
    SetMinSize(wxSize(width, kHeight));
    const int lines = ShowWrapped(label);
    // A fixed height, set once: relabelling ("Login" and "Logout") must not
    // move the column, but a translation that wraps to three lines must show.
    const int height = std::max(kHeight, lines * m_label->GetCharHeight() + 12);
    SetMinSize(wxSize(width, height));
    SetMaxSize(wxSize(width, height));

    // The children cover the panel, so each of them reports the mouse too.
    for (wxWindow* window :
        { static_cast<wxWindow*>(this), static_cast<wxWindow*>(m_icon), static_cast<wxWindow*>(m_label),
            static_cast<wxWindow*>(topLine), static_cast<wxWindow*>(bottomLine) }) {
        window->Bind(wxEVT_ENTER_WINDOW, &ActionButton::OnEnter, this);
        window->Bind(wxEVT_LEAVE_WINDOW, &ActionButton::OnLeave, this);
        window->Bind(wxEVT_LEFT_UP, &ActionButton::OnClick, this);
        window->SetCursor(wxCursor(wxCURSOR_HAND));
    }
}

int ActionButton::ShowWrapped(const wxString& label)
{
    // Greedy word wrap measured in the label's own font; wxStaticText::Wrap
    // leaves a line alone when its first word is already too wide.
    const int room = GetMinSize().GetWidth() - m_normalImage.GetWidth() - kLabelMargin;
    wxString text;
    wxString line;
    int lines = 1;
    for (const wxString& word : wxSplit(label, ' ', '\0')) {
        const wxString candidate = line.empty() ? word : line + ' ' + word;
        if (!line.empty() && m_label->GetTextExtent(candidate).GetWidth() > room) {
            text += line + '\n';
            line = word;
            ++lines;
        } else {
            line = candidate;
        }
    }
    m_label->SetLabel(text + line);
    return lines;
}

bool ActionButton::Enable(bool enable)
{
    if (!enable) {
        SetHovered(false);
    }
    return wxPanel::Enable(enable);
}

void ActionButton::SetLabel(const wxString& label)
{
    if (m_text != label) {
        m_text = label;
        ShowWrapped(label);
        Layout();
    }
}

wxString ActionButton::GetLabel() const
{
    return m_text;
}

void ActionButton::SetHovered(bool hovered)
{
    if (m_hovered == hovered) {
        return;
    }
    m_hovered = hovered;
    m_icon->SetBitmap(hovered ? m_hoverImage : m_normalImage);
    SetBackgroundColour(hovered ? kHoverBackground : wxNullColour);
    Refresh();
}

void ActionButton::OnEnter(wxMouseEvent& event)
{
    if (IsEnabled()) {
        SetHovered(true);
    }
    event.Skip();
}

void ActionButton::OnLeave(wxMouseEvent& event)
{
    // Moving from the panel onto one of its children is not leaving the button.
    const wxPoint inside = ScreenToClient(wxGetMousePosition());
    if (!GetClientRect().Contains(inside)) {
        SetHovered(false);
    }
    event.Skip();
}

void ActionButton::OnClick(wxMouseEvent& event)
{
    event.Skip();
    if (!IsEnabled()) {
        return;
    }
    wxCommandEvent click(wxEVT_BUTTON, GetId());
    click.SetEventObject(this);
    ProcessWindowEvent(click);
}
