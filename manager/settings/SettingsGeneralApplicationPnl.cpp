#include "SettingsGeneralApplicationPnl.h"

#include "SettingsDlgRules.h"
#include "SpinField.h"

#include <wx/checkbox.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

SettingsGeneralApplicationPnl::SettingsGeneralApplicationPnl(wxWindow* parent)
    : wxPanel(parent)
{
    const int gap = FromDIP(6);
    auto* column = new wxBoxSizer(wxVERTICAL);
    auto group = [&](int id, const wxString& title) {
        auto* box = new wxStaticBoxSizer(new wxStaticBox(this, id, title), wxVERTICAL);
        column->Add(box, wxSizerFlags().Expand().Border(wxBOTTOM, gap));
        return box;
    };
    auto check = [&](wxStaticBoxSizer* box, int id, const wxString& text) {
        auto* item = new wxCheckBox(box->GetStaticBox(), id, text);
        box->Add(item, wxSizerFlags().Border(wxALL, gap / 2));
        item->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& event) {
            m_changed = true;
            event.Skip();
        });
        return item;
    };

    wxStaticBoxSizer* general = group(ID_GBX_GENERAL, wxString());
    m_launch
        = check(general, ID_CHK_LAUNCH_AT_STARTUP, _("Automatically launch this utility on system start-up"));
    m_tray = check(general, ID_CHK_MINIMIZE_TO_TRAY, _("Minimize this utility to system tray"));
    m_notify = check(general, ID_CHK_NOTIFY_ON_CLOSE, _("Always notify upon closing this utility"));

    wxStaticBoxSizer* login = group(ID_GBX_LOGIN_LOGOUT, _("Login and Logout"));
    m_changeDefaultPin = check(login, ID_CHK_CHANGE_DEFAULT_PIN,
        _("Always ask to change default User PIN upon login (Recommended)"));
    m_autoLogout = new wxCheckBox(login->GetStaticBox(), ID_CHK_AUTO_LOGOUT, _("Automatically logout after"));
    m_logoutTime = new SpinField(login->GetStaticBox(), ID_TXT_LOGOUT_TIME, ID_SPIN_LOGOUT_TIME,
        kMinAutoLogoutMinutes, kMaxAutoLogoutMinutes, SpinField::Rules::Minutes);
    auto* minutes = new wxStaticText(login->GetStaticBox(), ID_LBE_MINUTES, _("minutes"));
    auto* logoutRow = new wxBoxSizer(wxHORIZONTAL);
    logoutRow->Add(m_autoLogout, wxSizerFlags().CenterVertical().Border(wxRIGHT, gap));
    logoutRow->Add(m_logoutTime, wxSizerFlags().CenterVertical().Border(wxRIGHT, gap));
    logoutRow->Add(minutes, wxSizerFlags().CenterVertical());
    login->Add(logoutRow, wxSizerFlags().Border(wxALL, gap / 2));
    m_autoLogout->Bind(wxEVT_CHECKBOX, &SettingsGeneralApplicationPnl::OnAutoLogout, this);
    m_logoutTime->GetText()->Bind(wxEVT_TEXT, [this](wxCommandEvent& event) {
        m_changed = true;
        event.Skip();
    });

    wxStaticBoxSizer* certificate = group(ID_GBX_CERTIFICATE, _("Certificate"));
    m_certProp = new wxCheckBox(certificate->GetStaticBox(), ID_CHK_TURN_ON_CERT_PROP,
        _("Install certificates to certificate store upon inserting the card/token"));
    certificate->Add(m_certProp, wxSizerFlags().Border(wxALL, gap / 2));
    m_certProp->Bind(wxEVT_CHECKBOX, &SettingsGeneralApplicationPnl::OnCertProp, this);
    m_removeCert = check(certificate, ID_CHK_REMOVE_CERT_TO_STORE,
        _("Remove certificates from certificate store upon unplugging the card/token"));

    wxStaticBoxSizer* cache = group(ID_GBX_PIN_CACHE, _("PIN Cache"));
    m_pinCache = check(cache, ID_CHK_PIN_CACHE, _("Enable PIN caching for CSP"));

    SetSizer(column);
}

void SettingsGeneralApplicationPnl::Load(const SettingsValues& values)
{
    m_launch->SetValue(values.launchAtStartup);
    m_tray->SetValue(values.minimizeToTray);
    m_notify->SetValue(values.askOnExit);
    m_changeDefaultPin->SetValue(values.askChangeDefaultPin);
    m_autoLogout->SetValue(values.autoLogout);
    m_logoutTime->SetValue(values.autoLogout ? values.autoLogoutTime : kMinAutoLogoutMinutes);
    m_logoutTime->Enable(values.autoLogout);
    m_certProp->SetValue(values.installCertificate);
    m_removeCert->SetValue(values.removeCertificate);
    m_removeCert->Enable(values.installCertificate);
    m_pinCache->SetValue(values.pinCacheEnabled);
    m_changed = false;
}

void SettingsGeneralApplicationPnl::Store(SettingsValues& values) const
{
    values.launchAtStartup = m_launch->GetValue();
    values.minimizeToTray = m_tray->GetValue();
    values.askOnExit = m_notify->GetValue();
    values.askChangeDefaultPin = m_changeDefaultPin->GetValue();
    values.autoLogout = m_autoLogout->GetValue();
    values.autoLogoutTime = m_logoutTime->GetValue();
    values.installCertificate = m_certProp->GetValue();
    values.removeCertificate = m_removeCert->GetValue();
    values.pinCacheEnabled = m_pinCache->GetValue();
}

void SettingsGeneralApplicationPnl::OnAutoLogout(wxCommandEvent&)
{
    m_changed = true;
    const bool on = m_autoLogout->GetValue();
    m_logoutTime->Enable(on);
    if (!on) {
        m_logoutTime->SetValue(kMinAutoLogoutMinutes);
        return;
    }
    m_logoutTime->GetText()->SetFocus();
    m_logoutTime->GetText()->SelectAll();
}

void SettingsGeneralApplicationPnl::OnCertProp(wxCommandEvent&)
{
    m_changed = true;
    const bool on = m_certProp->GetValue();
    if (!on) {
        m_removeCert->SetValue(false);
    }
    m_removeCert->Enable(on);
}
