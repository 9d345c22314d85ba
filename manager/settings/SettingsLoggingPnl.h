// The three logging pages (CSP, KSP, PKCS#11): where each middleware component
// writes its debug log for 32-bit and 64-bit applications.
#pragma once

#include "SettingsDlgRules.h"

#include <wx/panel.h>

class NRVCMUSettings;
class wxButton;
class wxCheckBox;
class wxTextCtrl;

class SettingsLoggingPnl : public wxPanel {
public:
    enum {
        ID_GBX_LOG_FILE_PREF = 2400,
        ID_LBE_ENABLE_CSP_LOG,
        ID_CHK_32BIT_APPS,
        ID_TXT_32BIT_DIRECTORY,
        ID_BTN_BROWSE_32BIT_DIRECTORY,
        ID_CHK_64BIT_APPS,
        ID_TXT_64BIT_DIRECTORY,
        ID_BTN_BROWSE_64BIT_DIRECTORY,
        ID_GBX_NOTE,
        ID_LBE_NOTE,
    };

    void Load(const LogPageValues& values);
    LogPageValues Store() const;
    LogComponent GetComponent() const { return m_component; }
    bool IsChanged() const { return m_changed; }

protected:
    // show64: the system runs 64-bit applications (the 64-bit controls show).
    SettingsLoggingPnl(wxWindow* parent, const NRVCMUSettings& settings, LogComponent component, bool show64);

private:
    void OnEnable(wxCommandEvent& event);
    void OnBrowse(wxCommandEvent& event);

    const NRVCMUSettings& m_settings;
    const LogComponent m_component;
    const bool m_show64;
    wxCheckBox* m_enable32 = nullptr;
    wxTextCtrl* m_path32 = nullptr;
    wxButton* m_browse32 = nullptr;
    wxCheckBox* m_enable64 = nullptr;
    wxTextCtrl* m_path64 = nullptr;
    wxButton* m_browse64 = nullptr;
    bool m_changed = false;
};

class SettingsLoggingCSPPnl final : public SettingsLoggingPnl {
public:
    SettingsLoggingCSPPnl(wxWindow* parent, const NRVCMUSettings& settings, bool show64)
        : SettingsLoggingPnl(parent, settings, LogComponent::CSP, show64)
    {
    }
};

class SettingsLoggingKSPPnl final : public SettingsLoggingPnl {
public:
    SettingsLoggingKSPPnl(wxWindow* parent, const NRVCMUSettings& settings, bool show64)
        : SettingsLoggingPnl(parent, settings, LogComponent::KSP, show64)
    {
    }
};

class SettingsLoggingPKCS11Pnl final : public SettingsLoggingPnl {
public:
    SettingsLoggingPKCS11Pnl(wxWindow* parent, const NRVCMUSettings& settings, bool show64)
        : SettingsLoggingPnl(parent, settings, LogComponent::PKCS11, show64)
    {
    }
};
