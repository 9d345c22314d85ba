#include "MessageBoxDlg.h"

#include "manager/core/DialogIdentity.h"

#include <algorithm>
#include <wx/button.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

namespace {
// The box is at least this wide; a message wider than kMessageWidth is
// broken into lines first.
constexpr int kMinWidth = 520;
constexpr int kMinHeight = 96;
constexpr int kMessageWidth = 500;
} // namespace

MessageBoxDlg::MessageBoxDlg(wxWindow* parent, const wxString& title, const wxString& message, bool question)
    : PinDialogBase(parent, DialogIdentity::ID_DLG_MESSAGE_BOX, ManagerTitle(title), "MessageBoxDlg",
        wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX)
{
    m_yes = new wxButton(this, ID_BTN_YES, _("Yes"));
    m_no = new wxButton(this, ID_BTN_NO, _("No"));
    m_message = new wxStaticText(this, ID_LBE_CAPTION, _("Do you want to continue?"), wxDefaultPosition,
        wxDefaultSize, wxALIGN_CENTRE_HORIZONTAL);
    m_message->SetLabelText(message);
    if (m_message->GetBestSize().x > kMessageWidth) {
        m_message->SetLabelText(BreakLongMessage(m_message->GetLabelText()));
    }
    if (!question) {
        m_yes->SetLabel(_("OK"));
        m_no->Hide();
    }
    // Buttons no narrower than the box's usual 80 pixels, wider for a long word.
    const wxSize least(80, 23);
    for (wxButton* button : { m_yes, m_no }) {
        const wxSize best = button->GetBestSize();
        button->SetMinSize(wxSize(std::max(best.x, least.x), std::max(best.y, least.y)));
    }

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(m_yes, wxSizerFlags().Border(wxLEFT | wxRIGHT, 15));
    buttons->Add(m_no, wxSizerFlags().Border(wxLEFT | wxRIGHT, 15));
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(m_message, 0, wxALIGN_CENTER_HORIZONTAL | wxLEFT | wxRIGHT | wxTOP, 12);
    column->AddStretchSpacer();
    column->Add(buttons, wxSizerFlags().Center().Border(wxTOP | wxBOTTOM, 8));
    SetSizer(column);
    SetMinClientSize(wxSize(kMinWidth, kMinHeight));
    Fit();
    CentreOnParent();

    m_yes->SetDefault();
    SetEscapeId(ID_BTN_NO);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { EndIfModal(wxID_OK); }, ID_BTN_YES);
    Bind(wxEVT_BUTTON, &MessageBoxDlg::OnCancelButton, this, ID_BTN_NO);
}
