// The Application Settings page: start-up and tray, closing, the default-PIN
// prompt, auto-logout, certificate propagation and the PIN cache.
#pragma once

#include "SettingsValues.h"

#include <wx/panel.h>

class SpinField;
class wxCheckBox;

class SettingsGeneralApplicationPnl final : public wxPanel {
public:
    enum {
        ID_GBX_GENERAL = 2100,
        ID_CHK_LAUNCH_AT_STARTUP,
        ID_CHK_MINIMIZE_TO_TRAY,
        ID_CHK_NOTIFY_ON_CLOSE,
        ID_GBX_LOGIN_LOGOUT,
        ID_CHK_CHANGE_DEFAULT_PIN,
        ID_CHK_AUTO_LOGOUT,
        ID_TXT_LOGOUT_TIME,
        ID_SPIN_LOGOUT_TIME,
        ID_LBE_MINUTES,
        ID_GBX_CERTIFICATE,
        ID_CHK_TURN_ON_CERT_PROP,
        ID_CHK_REMOVE_CERT_TO_STORE,
        ID_GBX_PIN_CACHE,
        ID_CHK_PIN_CACHE,
    };

    explicit SettingsGeneralApplicationPnl(wxWindow* parent);

    void Load(const SettingsValues& values);
    void Store(SettingsValues& values) const;
    bool IsChanged() const { return m_changed; }
    SpinField* GetLogoutTime() const { return m_logoutTime; }

private:
    void OnAutoLogout(wxCommandEvent& event);
    void OnCertProp(wxCommandEvent& event);

    wxCheckBox* m_launch = nullptr;
    wxCheckBox* m_tray = nullptr;
    wxCheckBox* m_notify = nullptr;
    wxCheckBox* m_changeDefaultPin = nullptr;
    wxCheckBox* m_autoLogout = nullptr;
    SpinField* m_logoutTime = nullptr;
    wxCheckBox* m_certProp = nullptr;
    wxCheckBox* m_removeCert = nullptr;
    wxCheckBox* m_pinCache = nullptr;
    bool m_changed = false;
};
