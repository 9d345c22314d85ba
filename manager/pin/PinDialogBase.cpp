#include "PinDialogBase.h"

#include "manager/core/NRVCMULog.h"

#include <openssl/crypto.h>
#include <wx/font.h>
#include <wx/intl.h>
#include <wx/settings.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

PinDialogBase::PinDialogBase(
    wxWindow* parent, const wxString& title, const wxString& windowName, const char* className, long style)
    : wxDialog(parent, wxID_ANY, title, wxDefaultPosition, wxDefaultSize, style, windowName)
    , m_className(className)
{
    Bind(wxEVT_CLOSE_WINDOW, &PinDialogBase::OnClose, this);
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

wxStaticText* PinDialogBase::CreateErrorLine(
    wxWindowID id, const wxString& text, const wxPoint& pos, const wxSize& size)
{
    auto* line = new wxStaticText(this, id, text, pos, size, wxST_NO_AUTORESIZE);
    line->SetForegroundColour(wxColour(255, 0, 0));
    const wxFont base = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    line->SetFont(wxFont(base.GetPointSize(), wxFONTFAMILY_DEFAULT, wxFONTSTYLE_ITALIC, wxFONTWEIGHT_NORMAL));
    return line;
}

bool PinDialogBase::ApplyCheck(const PinCheckResult& result, wxStaticText* errorLine, wxTextCtrl* field)
{
    if (result.accepted) {
        return true;
    }
    errorLine->SetLabelText(result.message);
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

void WipeText(wxString& text)
{
    if (!text.empty()) {
        OPENSSL_cleanse(const_cast<wchar_t*>(text.wc_str()), text.length() * sizeof(wchar_t));
    }
    text.clear();
}
