// The token manager's settings store: a flat wxFileConfig file guarded by a
// SHA-1 digest over its 45 keys, plus the three settings other parts of the
// middleware read from the registry.
#pragma once

#include "SettingsKeys.h"

#include <memory>
#include <wx/string.h>

class wxFileConfig;

class NRVCMUSettings {
public:
    // The program's folder (where PavixManager lives): the log folder and the
    // launcher path are built from it. Opens or creates the file and checks it.
    explicit NRVCMUSettings(const wxString& programFolder);
    virtual ~NRVCMUSettings();
    NRVCMUSettings(const NRVCMUSettings&) = delete;
    NRVCMUSettings& operator=(const NRVCMUSettings&) = delete;

    // The file was rejected (and deleted): the caller must not go on.
    bool IsTampered() const { return m_tampered; }
    // Recomputes the digest, stores it under Hash and flushes the file.
    void SaveHash();

    void ApplyLaunchAtStartup(bool enabled);
    void ApplyPINCache(bool enabled);
    // component: 0 = CSP, 1 = KSP, 2 = PKCS#11.
    void ApplyLogging(int component);

    // Where the settings file lives: the temporary folder plus "nrvcme".
    static wxString GetFolder();
    static wxString GetFilePath();
    // The folder two levels above the program file plus "Middleware/Logs/".
    wxString GetLogFolder() const { return m_logFolder; }
    // The program's folder the store was opened for.
    wxString GetProgramFolder() const { return m_programFolder; }
    // The digest the file's current values give.
    wxString ComputeHash() const;
    // The value a fresh file gets for key, as text ("1"/"0" for booleans; log
    // locations with the log folder); empty for an unknown key.
    wxString GetDefaultValue(const wxString& key) const;

    // IsX()/SetIsX(bool), GetX()/SetX(long), GetX()/SetX(const wxString&): one
    // pair per key of the list.
#define VELA5_SETTING_ACCESSORS(type, name, fallback, where) VELA5_SETTING_ACCESSORS_##type(name)
#define VELA5_SETTING_ACCESSORS_Bool(Name)                                                                   \
    bool Name() const;                                                                                       \
    void Set##Name(bool value);
#define VELA5_SETTING_ACCESSORS_Long(Name)                                                                   \
    long Get##Name() const;                                                                                  \
    void Set##Name(long value);
#define VELA5_SETTING_ACCESSORS_Text(Name)                                                                   \
    wxString Get##Name() const;                                                                              \
    void Set##Name(const wxString& value);
    VELA5_SETTINGS_KEYS(VELA5_SETTING_ACCESSORS)
#undef VELA5_SETTING_ACCESSORS
#undef VELA5_SETTING_ACCESSORS_Bool
#undef VELA5_SETTING_ACCESSORS_Long
#undef VELA5_SETTING_ACCESSORS_Text

private:
    bool ReadBool(const wxString& key, bool fallback) const;
    long ReadLong(const wxString& key, long fallback) const;
    wxString ReadText(const wxString& key, const wxString& fallback) const;
    void WriteBool(const wxString& key, bool value);
    void WriteLong(const wxString& key, long value);
    void WriteText(const wxString& key, const wxString& value);
    void WriteDefaults();
    bool CheckIntegrity() const;

    bool m_tampered = false;
    wxString m_programFolder;
    wxString m_logFolder;
    std::unique_ptr<wxFileConfig> m_config;
};
