// The Token Settings page: the label new tokens get and how many RSA key
// pairs they hold.
#pragma once

#include "SettingsDlgRules.h"

#include <wx/panel.h>

class SpinField;
class wxCheckBox;
class wxTextCtrl;

class SettingsInitializationTokenPnl final : public wxPanel {
public:
    enum {
        ID_GBX_TOKEN_LABEL = 2200,
        ID_CHK_USE_NRV_DEFAULT_SETTING,
        ID_TXT_TOKEN_LABEL,
        ID_CHK_APPEND_SERIAL_NO,
        ID_GBX_KEYPAIRS,
        ID_LBE_MAX_KEYPAIRS,
        ID_TXT_MAX_KEYPAIRS,
        ID_SPIN_MAX_KEYPAIRS,
    };

    explicit SettingsInitializationTokenPnl(wxWindow* parent);

    void Load(const SettingsValues& values);
    void Store(SettingsValues& values) const;
    TokenPageState GetState() const;
    wxTextCtrl* GetLabelField() const { return m_label; }
    bool IsChanged() const { return m_changed; }

private:
    void OnUseDefault(wxCommandEvent& event);
    void OnAppendSerial(wxCommandEvent& event);

    wxCheckBox* m_useDefault = nullptr;
    wxTextCtrl* m_label = nullptr;
    wxCheckBox* m_appendSerial = nullptr;
    SpinField* m_maxKeyPairs = nullptr;
    bool m_changed = false;
};
