#include "PinDialogBase.h"

#include "manager/core/DialogIdentity.h"
#include "manager/core/NRVCMULog.h"

#include <algorithm>
#include <wx/button.h>
#include <wx/font.h>
#include <wx/intl.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

PinDialogBase::PinDialogBase(
    wxWindow* parent, int id, const wxString& title, const char* className, long style)
    : wxDialog(parent, id, title, wxDefaultPosition, wxDefaultSize, style, DialogIdentity::NameOf(id))
    , m_className(className)
{
    Bind(wxEVT_CLOSE_WINDOW, &PinDialogBase::OnClose, this);
    // Texts measured before the window was realized can come out a pixel
    // short; measure again once it is on screen.
    Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
        event.Skip();
        if (event.IsShown()) {
            GrowToFit();
        }
    });
}

PinDialogBase::~PinDialogBase()
{
    const std::string line = m_className + "::~" + m_className + "()";
    if (IsModal()) {
        NRVCMULog::Get().Write(line, ">> EndModal()", true);
        EndModal(wxID_CANCEL);
    } else {
        NRVCMULog::Get().Write(line, ">> Destroy()", true);
    }
}

void PinDialogBase::EndIfModal(int code)
{
    if (IsModal()) {
        EndModal(code);
    }
}

void PinDialogBase::OnCancelButton(wxCommandEvent&)
{
    EndIfModal(wxID_NO);
}

void PinDialogBase::OnClose(wxCloseEvent& event)
{
    if (IsModal()) {
        EndModal(wxID_NO);
        return;
    }
    event.Skip();
}

wxStaticText* PinDialogBase::CreateErrorLine(wxWindow* parent, wxWindowID id, const wxString& text)
{
    auto* line = new wxStaticText(parent, id, text);
    line->SetForegroundColour(wxColour(255, 0, 0));
    const wxFont base = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    line->SetFont(wxFont(base.GetPointSize(), wxFONTFAMILY_DEFAULT, wxFONTSTYLE_ITALIC, wxFONTWEIGHT_NORMAL));
    line->SetMinSize(wxSize(-1, line->GetCharHeight()));
    return line;
}

void PinDialogBase::ShowError(wxStaticText* errorLine, const wxString& text)
{
    errorLine->SetLabelText(text);
    errorLine->InvalidateBestSize();
    GrowToFit();
}

void PinDialogBase::GrowToFit()
{
    wxSizer* sizer = GetSizer();
    if (sizer == nullptr) {
        return;
    }
    // Grow, never shrink: a shorter message later must not make the dialog jump.
    const wxSize needed = sizer->ComputeFittingWindowSize(this);
    const wxSize now = GetSize();
    if (needed.x > now.x || needed.y > now.y) {
        SetSize(wxSize(std::max(needed.x, now.x), std::max(needed.y, now.y)));
    }
    Layout();
}

void PinDialogBase::FinishLayout(wxSizer* sizer)
{
    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(sizer, wxSizerFlags(1).Expand().Border(wxALL, FromDIP(8)));
    SetSizerAndFit(outer);
    CentreOnParent();
}

wxSizer* PinDialogBase::CreateButtonRow(wxWindowID okId, const wxString& okLabel, wxWindowID cancelId)
{
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->AddStretchSpacer();
    auto* ok = new wxButton(this, okId, okLabel);
    row->Add(ok, wxSizerFlags().Border(wxRIGHT, FromDIP(6)));
    row->Add(new wxButton(this, cancelId, _("Cancel")));
    ok->SetDefault();
    SetEscapeId(cancelId);
    return row;
}

bool PinDialogBase::ApplyCheck(const PinCheckResult& result, wxStaticText* errorLine, wxTextCtrl* field)
{
    if (result.accepted) {
        return true;
    }
    ShowError(errorLine, result.message);
    if (field == nullptr) {
        return false;
    }
    if (result.replaceText) {
        field->ChangeValue(result.replacement);
    }
    field->SetFocus();
    if (result.selectAll) {
        field->SelectAll();
    }
    return false;
}

wxString ManagerTitle(const wxString& subject)
{
    // TRANSLATORS: %s is what the window is about, e.g. "Rename Token".
    return wxString::Format(_("Pavix Manager - %s"), subject);
}
