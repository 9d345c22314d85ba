#include "SettingsLoggingPnl.h"

#include "manager/core/ModalRunner.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

wxString EnableText(LogComponent component)
{
    switch (component) {
    case LogComponent::KSP:
        return _("Enable KSP log for:");
    case LogComponent::PKCS11:
        return _("Enable PKCS log for:");
    case LogComponent::CSP:
        break;
    }
    return _("Enable CSP log for:");
}

wxString BrowseTitle(LogComponent component)
{
    switch (component) {
    case LogComponent::KSP:
        return _("Save KSP log as");
    case LogComponent::PKCS11:
        return _("Save PKCS log as");
    case LogComponent::CSP:
        break;
    }
    return _("Save CSP log as");
}

} // namespace

SettingsLoggingPnl::SettingsLoggingPnl(
    wxWindow* parent, const NRVCMUSettings& settings, LogComponent component, bool show64)
    : wxPanel(parent)
    , m_settings(settings)
    , m_component(component)
    , m_show64(show64)
{
    const int gap = FromDIP(6);
    auto* column = new wxBoxSizer(wxVERTICAL);
    auto* group = new wxStaticBoxSizer(
        new wxStaticBox(this, ID_GBX_LOG_FILE_PREF, _("Log File Preference")), wxVERTICAL);
    wxWindow* box = group->GetStaticBox();
    group->Add(new wxStaticText(box, ID_LBE_ENABLE_CSP_LOG, EnableText(component)),
        wxSizerFlags().Border(wxALL, gap / 2));

    auto row = [&](int checkId, const wxString& text, int pathId, int browseId, wxCheckBox*& check,
                   wxTextCtrl*& path, wxButton*& browse) {
        check = new wxCheckBox(box, checkId, text);
        path = new wxTextCtrl(box, pathId);
        path->SetInitialSize(path->GetSizeFromTextSize(path->GetTextExtent(wxString('x', 48)).x));
        browse = new wxButton(box, browseId, _("Browse"));
        auto* pathRow = new wxBoxSizer(wxHORIZONTAL);
        pathRow->Add(path, wxSizerFlags(1).CenterVertical().Border(wxRIGHT, gap));
        pathRow->Add(browse, wxSizerFlags().CenterVertical());
        group->Add(check, wxSizerFlags().Border(wxALL, gap / 2));
        group->Add(pathRow, wxSizerFlags().Expand().Border(wxLEFT, gap * 4).Border(wxALL, gap / 2));
        check->Bind(wxEVT_CHECKBOX, &SettingsLoggingPnl::OnEnable, this);
        browse->Bind(wxEVT_BUTTON, &SettingsLoggingPnl::OnBrowse, this);
        path->Bind(wxEVT_TEXT, [this](wxCommandEvent& event) {
            m_changed = true;
            event.Skip();
        });
    };
    row(ID_CHK_32BIT_APPS, _("32-bit applications"), ID_TXT_32BIT_DIRECTORY, ID_BTN_BROWSE_32BIT_DIRECTORY,
        m_enable32, m_path32, m_browse32);
    row(ID_CHK_64BIT_APPS, _("64-bit applications"), ID_TXT_64BIT_DIRECTORY, ID_BTN_BROWSE_64BIT_DIRECTORY,
        m_enable64, m_path64, m_browse64);
    if (!show64) {
        m_enable64->Hide();
        m_path64->Hide();
        m_browse64->Hide();
    }
    column->Add(group, wxSizerFlags().Expand().Border(wxBOTTOM, gap));

    auto* note = new wxStaticBoxSizer(new wxStaticBox(this, ID_GBX_NOTE, wxString()), wxVERTICAL);
    auto* noteText = new wxStaticText(note->GetStaticBox(), ID_LBE_NOTE,
        _("NOTE: Logging preferences are available for computer accounts with Admin privileges only."));
    noteText->Wrap(FromDIP(420));
    note->Add(noteText, wxSizerFlags().Border(wxALL, gap / 2));
    column->Add(note, wxSizerFlags().Expand());
    SetSizer(column);
}

void SettingsLoggingPnl::Load(const LogPageValues& values)
{
    m_enable32->SetValue(values.x86Enabled);
    m_path32->ChangeValue(values.x86Location);
    m_path32->Enable(values.x86Enabled);
    m_browse32->Enable(values.x86Enabled);
    m_enable64->SetValue(values.x64Enabled);
    m_path64->ChangeValue(values.x64Location);
    m_path64->Enable(values.x64Enabled);
    m_browse64->Enable(values.x64Enabled);
    m_changed = false;
}

LogPageValues SettingsLoggingPnl::Store() const
{
    const LogPageState state { m_enable32->GetValue(), m_path32->GetValue(), m_enable64->GetValue(),
        m_path64->GetValue() };
    return LogPageWrite(state, DefaultLogLocation(m_settings, m_component, false),
        DefaultLogLocation(m_settings, m_component, true), m_show64);
}

void SettingsLoggingPnl::OnEnable(wxCommandEvent& event)
{
    m_changed = true;
    const bool x64 = event.GetId() == ID_CHK_64BIT_APPS;
    const bool on = event.IsChecked();
    (x64 ? m_path64 : m_path32)->Enable(on);
    (x64 ? m_browse64 : m_browse32)->Enable(on);
}

void SettingsLoggingPnl::OnBrowse(wxCommandEvent& event)
{
    const bool x64 = event.GetId() == ID_BTN_BROWSE_64BIT_DIRECTORY;
    wxTextCtrl* field = x64 ? m_path64 : m_path32;
    const wxString folder = wxFileName(field->GetValue()).GetPath();
    wxFileDialog dialog(this, BrowseTitle(m_component), folder, DefaultLogFileName(m_component, x64),
        _("Log Files (*.LOG)|*.LOG"), wxFD_SAVE);
    wxString path;
    if (ModalRunner::ShowFileDialog(dialog, path) != wxID_OK || path.empty()) {
        return;
    }
    field->SetValue(path);
    field->SetFocus();
    field->SelectAll();
}
