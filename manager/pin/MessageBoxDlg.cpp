#include "MessageBoxDlg.h"

#include <algorithm>
#include <wx/button.h>
#include <wx/intl.h>
#include <wx/stattext.h>

namespace {
constexpr int kWidth = 520;
constexpr int kMessageWidth = 500;
} // namespace

MessageBoxDlg::MessageBoxDlg(wxWindow* parent, const wxString& title, const wxString& message, bool question)
    : PinDialogBase(parent, ManagerTitle(title), "NRVCMU_DLG_MESSAGE_BOX", "MessageBoxDlg",
        wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX)
{
    m_yes = new wxButton(this, ID_BTN_YES, _("Yes"), wxPoint(165, 66), wxSize(80, 23));
    m_no = new wxButton(this, ID_BTN_NO, _("No"), wxPoint(275, 66), wxSize(80, 23));
    m_message = new wxStaticText(this, ID_LBE_CAPTION, _("Do you want to continue?"), wxPoint(10, 16),
        wxSize(kMessageWidth, -1), wxALIGN_CENTRE_HORIZONTAL);
    SetClientSize(kWidth, 96);
    m_message->SetLabelText(message);
    if (!question) {
        m_yes->SetLabel(_("OK"));
        m_yes->Move(220, 66);
        m_no->Hide();
    }
    FitMessage();

    m_yes->SetDefault();
    SetEscapeId(ID_BTN_NO);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { EndIfModal(wxID_OK); }, ID_BTN_YES);
    Bind(wxEVT_BUTTON, &MessageBoxDlg::OnCancelButton, this, ID_BTN_NO);
}

void MessageBoxDlg::FitMessage()
{
    m_message->SetSize(m_message->GetBestSize());
    if (m_message->GetSize().x > kMessageWidth) {
        m_message->SetLabelText(BreakLongMessage(m_message->GetLabelText()));
        m_message->SetSize(m_message->GetBestSize());
    }
    const int height = m_message->GetSize().y;
    if (height >= 49) {
        const int shift = height - 38;
        m_yes->Move(m_yes->GetPosition().x, m_yes->GetPosition().y + shift);
        if (m_no->IsShown()) {
            m_no->Move(m_no->GetPosition().x, m_no->GetPosition().y + shift);
        }
        SetClientSize(kWidth, height + 58);
    }
    // Eighty characters can still be wider than the box in a large font:
    // widen the box rather than cut lines off.
    const int width = std::max(kWidth, m_message->GetSize().x + 20);
    if (width != kWidth) {
        SetClientSize(width, GetClientSize().y);
        const int offset = (width - kWidth) / 2;
        m_yes->Move(m_yes->GetPosition().x + offset, m_yes->GetPosition().y);
        m_no->Move(m_no->GetPosition().x + offset, m_no->GetPosition().y);
    }
    m_message->Move((width - m_message->GetSize().x) / 2, m_message->GetPosition().y);
    CentreOnParent();
}
