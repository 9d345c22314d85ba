// Everything the settings dialog edits, as plain values: read from the store,
// filled with the store's defaults (Reset to Default) and written back in the
// order the pages save.
#pragma once

#include <wx/string.h>

class NRVCMUSettings;

struct PinPageValues {
    long type = 0;
    wxString defaultValue;
    long minLength = 4;
    long maxLength = 8;
    long errorLimit = 8;
    long randomLength = 8;
    bool useNumbers = true;
    bool useUppercase = true;
    bool useLowercase = true;
    bool useSymbols = true;
};

struct LogPageValues {
    bool x86Enabled = false;
    wxString x86Location;
    bool x64Enabled = false;
    wxString x64Location;
};

// The logging components in the store's numbering (ApplyLogging).
enum class LogComponent { CSP = 0, KSP = 1, PKCS11 = 2 };

struct SettingsValues {
    bool launchAtStartup = false;
    bool minimizeToTray = false;
    bool askOnExit = true;
    bool askChangeDefaultPin = true;
    bool autoLogout = false;
    long autoLogoutTime = 1;
    bool installCertificate = true;
    bool removeCertificate = true;
    bool pinCacheEnabled = true;

    wxString tokenLabel;
    bool appendSerialNumber = false;
    long maxRSAKeyPairs = 10;

    PinPageValues userPin;
    PinPageValues soPin;
    LogPageValues csp;
    LogPageValues ksp;
    LogPageValues pkcs11;

    PinPageValues& Pin(bool so) { return so ? soPin : userPin; }
    LogPageValues& Log(LogComponent component);
};

SettingsValues ReadSettingsValues(const NRVCMUSettings& settings);
// What a fresh settings file holds.
SettingsValues DefaultSettingsValues(const NRVCMUSettings& settings);
// Application, Token, User PIN, SO PIN, CSP, PKCS#11, KSP; the caller saves the digest.
void WriteSettingsValues(NRVCMUSettings& settings, const SettingsValues& values);

// The default location of a component's log for one bitness.
wxString DefaultLogLocation(const NRVCMUSettings& settings, LogComponent component, bool x64);
// "CSP_x86.LOG", "PKCS_x64.LOG", ...
wxString DefaultLogFileName(LogComponent component, bool x64);
