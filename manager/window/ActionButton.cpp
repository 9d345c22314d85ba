#include "ActionButton.h"

#include <algorithm>
#include <wx/arrstr.h>
#include <wx/button.h>
#include <wx/sizer.h>

namespace {
const wxColour kLineColour(170, 180, 200);
constexpr int kHeight = 46;
// Room the native button takes around its icon and label.
constexpr int kLabelMargin = 30;
} // namespace

ActionButton::ActionButton(wxWindow* parent, wxWindowID id, const wxString& label,
    const wxString& alternateLabel, const wxBitmap& normalImage, const wxBitmap& hoverImage, int width)
    : wxPanel(parent, id, wxDefaultPosition, wxSize(width, -1), wxTAB_TRAVERSAL, "ActionButton")
    , m_alternate(alternateLabel)
    , m_text(label)
{
    auto* topLine = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxSize(width, 1));
    auto* bottomLine = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxSize(width, 1));
    topLine->SetBackgroundColour(kLineColour);
    bottomLine->SetBackgroundColour(kLineColour);
    topLine->Disable();
    bottomLine->Disable();

    m_button
        = new wxButton(this, wxID_ANY, label, wxDefaultPosition, wxDefaultSize, wxBU_LEFT | wxBORDER_NONE);
    // Labels such as "Re-initialize Token" must fit two lines of a narrow button.
    m_button->SetFont(m_button->GetFont().Smaller());
    if (normalImage.IsOk()) {
        m_button->SetBitmap(normalImage, wxLEFT);
        m_button->SetBitmapMargins(4, 0);
    }
    if (hoverImage.IsOk()) {
        m_button->SetBitmapCurrent(hoverImage);
        m_button->SetBitmapFocus(hoverImage);
    }
    m_imageWidth = normalImage.IsOk() ? normalImage.GetWidth() : 0;

    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(topLine, 0, wxEXPAND);
    column->Add(m_button, 1, wxEXPAND);
    column->Add(bottomLine, 0, wxEXPAND);
    SetSizer(column);
    // Every word of either label fits beside the icon.
    int widestWord = 0;
    for (const wxString& text : { label, alternateLabel }) {
        for (const wxString& word : wxSplit(text, ' ', '\0')) {
            widestWord = std::max(widestWord, m_button->GetTextExtent(word).x);
        }
    }
    SetButtonWidth(std::max(width, widestWord + m_imageWidth + kLabelMargin));
    m_button->Bind(wxEVT_BUTTON, &ActionButton::OnButton, this);
}

wxString ActionButton::WrapLabel(
    const wxString& label, int room, const std::function<int(const wxString&)>& measure)
{
    // Greedy word wrap; wxStaticText::Wrap leaves a line alone when its first
    // word is already too wide.
    wxString text;
    wxString line;
    for (const wxString& word : wxSplit(label, ' ', '\0')) {
        const wxString candidate = line.empty() ? word : line + ' ' + word;
        if (!line.empty() && measure(candidate) > room) {
            text += line + '\n';
            line = word;
        } else {
            line = candidate;
        }
    }
    return text + line;
}

void ActionButton::SetButtonWidth(int width)
{
    m_labelRoom = width - m_imageWidth - kLabelMargin;
    int lines = 1;
    for (const wxString& text : { m_alternate, m_text }) {
        lines = std::max(lines, ShowWrapped(text));
    }
    // A fixed height, set once for both labels: relabelling ("Login" and
    // "Logout") must not move the column, but a translation that wraps to
    // three or four lines must show.
    const int height = std::max(kHeight, lines * m_button->GetCharHeight() + 16);
    SetMinSize(wxSize(width, height));
    SetMaxSize(wxSize(width, height));
    Layout();
}

int ActionButton::ShowWrapped(const wxString& label)
{
    const wxString wrapped = WrapLabel(
        label, m_labelRoom, [this](const wxString& text) { return m_button->GetTextExtent(text).x; });
    m_button->SetLabel(wrapped);
    return static_cast<int>(wrapped.Freq('\n')) + 1;
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

void ActionButton::OnButton(wxCommandEvent&)
{
    // The window binds the ActionButton's ID, not the inner button's.
    wxCommandEvent click(wxEVT_BUTTON, GetId());
    click.SetEventObject(this);
    ProcessWindowEvent(click);
}
