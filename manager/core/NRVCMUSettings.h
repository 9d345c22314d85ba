// The token manager's settings store: a flat wxFileConfig file guarded by a
// SHA-1 digest over its 45 keys, plus the three settings other parts of the
// middleware read from the registry.
#pragma once

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

    wxString GetDefaultLanguage() const;
    void SetDefaultLanguage(const wxString& value);
    bool IsLaunchAtStartup() const;
    void SetIsLaunchAtStartup(bool value);
    bool IsMinimizeToTray() const;
    void SetIsMinimizeToTray(bool value);
    bool IsAskOnExit() const;
    void SetIsAskOnExit(bool value);
    bool IsAskChangeDefaultPin() const;
    void SetIsAskChangeDefaultPin(bool value);
    bool IsAutoLogout() const;
    void SetIsAutoLogout(bool value);
    long GetAutoLogoutTime() const;
    void SetAutoLogoutTime(long value);
    bool IsInstallCertificate() const;
    void SetIsInstallCertificate(bool value);
    bool IsRemoveCertificate() const;
    void SetIsRemoveCertificate(bool value);
    wxString GetTokenLabel() const;
    void SetTokenLabel(const wxString& value);
    bool IsAppendSerialNumberToLabel() const;
    void SetIsAppendSerialNumberToLabel(bool value);
    long GetUserPINType() const;
    void SetUserPINType(long value);
    wxString GetUserPINDefaultValue() const;
    void SetUserPINDefaultValue(const wxString& value);
    long GetUserPINMinLength() const;
    void SetUserPINMinLength(long value);
    long GetUserPINMaxLength() const;
    void SetUserPINMaxLength(long value);
    long GetUserPINErrorLimit() const;
    void SetUserPINErrorLimit(long value);
    long GetRandomUserPINLength() const;
    void SetRandomUserPINLength(long value);
    bool IsRandomUserPINUseNumbers() const;
    void SetIsRandomUserPINUseNumbers(bool value);
    bool IsRandomUserPINUseUppercaseLetters() const;
    void SetIsRandomUserPINUseUppercaseLetters(bool value);
    bool IsRandomUserPINUseLowercaseLetters() const;
    void SetIsRandomUserPINUseLowercaseLetters(bool value);
    bool IsRandomUserPINUseSymbols() const;
    void SetIsRandomUserPINUseSymbols(bool value);
    long GetSOPINType() const;
    void SetSOPINType(long value);
    wxString GetSOPINDefaultValue() const;
    void SetSOPINDefaultValue(const wxString& value);
    long GetSOPINMinLength() const;
    void SetSOPINMinLength(long value);
    long GetSOPINMaxLength() const;
    void SetSOPINMaxLength(long value);
    long GetSOPINErrorLimit() const;
    void SetSOPINErrorLimit(long value);
    long GetRandomSOPINLength() const;
    void SetRandomSOPINLength(long value);
    bool IsRandomSOPINUseNumbers() const;
    void SetIsRandomSOPINUseNumbers(bool value);
    bool IsRandomSOPINUseUppercaseLetters() const;
    void SetIsRandomSOPINUseUppercaseLetters(bool value);
    bool IsRandomSOPINUseLowercaseLetters() const;
    void SetIsRandomSOPINUseLowercaseLetters(bool value);
    bool IsRandomSOPINUseSymbols() const;
    void SetIsRandomSOPINUseSymbols(bool value);
    long GetMaxRSAKeyPairs() const;
    void SetMaxRSAKeyPairs(long value);
    bool IsCSPx86LogEnabled() const;
    void SetIsCSPx86LogEnabled(bool value);
    wxString GetCSPx86LogLocation() const;
    void SetCSPx86LogLocation(const wxString& value);
    bool IsCSPx64LogEnabled() const;
    void SetIsCSPx64LogEnabled(bool value);
    wxString GetCSPx64LogLocation() const;
    void SetCSPx64LogLocation(const wxString& value);
    bool IsKSPx86LogEnabled() const;
    void SetIsKSPx86LogEnabled(bool value);
    wxString GetKSPx86LogLocation() const;
    void SetKSPx86LogLocation(const wxString& value);
    bool IsKSPx64LogEnabled() const;
    void SetIsKSPx64LogEnabled(bool value);
    wxString GetKSPx64LogLocation() const;
    void SetKSPx64LogLocation(const wxString& value);
    bool IsPKCS11x86LogEnabled() const;
    void SetIsPKCS11x86LogEnabled(bool value);
    wxString GetPKCS11x86LogLocation() const;
    void SetPKCS11x86LogLocation(const wxString& value);
    bool IsPKCS11x64LogEnabled() const;
    void SetIsPKCS11x64LogEnabled(bool value);
    wxString GetPKCS11x64LogLocation() const;
    void SetPKCS11x64LogLocation(const wxString& value);
    bool IsPINCacheEnabled() const;
    void SetIsPINCacheEnabled(bool value);

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
