#include "ButtonColumn.h"

#include <algorithm>
#include <wx/button.h>
#include <wx/sizer.h>

wxSizer* ButtonColumn::Create(wxWindow* parent, const std::vector<Entry>& entries)
{
    int width = 0;
    for (const Entry& entry : entries) {
        auto* button = new wxButton(parent, entry.id, entry.label);
        m_buttons.push_back(button);
        width = std::max(width, button->GetBestSize().GetWidth());
    }
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->AddSpacer(8);
    for (wxButton* button : m_buttons) {
        button->SetMinSize(wxSize(width, -1));
        column->Add(button, 0, wxEXPAND | wxBOTTOM, 4);
    }
    return column;
}

wxButton* ButtonColumn::Get(int id) const
{
    const auto found = std::find_if(
        m_buttons.begin(), m_buttons.end(), [id](wxButton* button) { return button->GetId() == id; });
    return found != m_buttons.end() ? *found : nullptr;
}

void ButtonColumn::Enable(bool enable)
{
    for (wxButton* button : m_buttons) {
        button->Enable(enable);
    }
}
