#include "SettingsValues.h"

#include "manager/core/NRVCMUSettings.h"

namespace {

const char* ComponentKeyWord(LogComponent component)
{
    switch (component) {
    case LogComponent::CSP:
        return "CSP";
    case LogComponent::KSP:
        return "KSP";
    case LogComponent::PKCS11:
        return "PKCS11";
    }
    return "CSP";
}

wxString LocationKey(LogComponent component, bool x64)
{
    return wxString(ComponentKeyWord(component)) + (x64 ? "x64" : "x86") + "LogLocation";
}

bool DefaultBool(const NRVCMUSettings& settings, const char* key)
{
    return settings.GetDefaultValue(key) == "1";
}

long DefaultLong(const NRVCMUSettings& settings, const char* key)
{
    long value = 0;
    settings.GetDefaultValue(key).ToLong(&value);
    return value;
}

PinPageValues DefaultPin(const NRVCMUSettings& settings, const wxString& prefix, const wxString& randomPrefix)
{
    PinPageValues pin;
    pin.type = DefaultLong(settings, prefix + "PINType");
    pin.defaultValue = settings.GetDefaultValue(prefix + "PINDefaultValue");
    pin.minLength = DefaultLong(settings, prefix + "PINMinLength");
    pin.maxLength = DefaultLong(settings, prefix + "PINMaxLength");
    pin.errorLimit = DefaultLong(settings, prefix + "PINErrorLimit");
    pin.randomLength = DefaultLong(settings, "Random" + randomPrefix + "PINLength");
    pin.useNumbers = DefaultBool(settings, "IsRandom" + randomPrefix + "PINUseNumbers");
    pin.useUppercase = DefaultBool(settings, "IsRandom" + randomPrefix + "PINUseUppercaseLetters");
    pin.useLowercase = DefaultBool(settings, "IsRandom" + randomPrefix + "PINUseLowercaseLetters");
    pin.useSymbols = DefaultBool(settings, "IsRandom" + randomPrefix + "PINUseSymbols");
    return pin;
}

LogPageValues DefaultLog(const NRVCMUSettings& settings, LogComponent component)
{
    const wxString word = ComponentKeyWord(component);
    LogPageValues log;
    log.x86Enabled = DefaultBool(settings, "Is" + word + "x86LogEnabled");
    log.x86Location = DefaultLogLocation(settings, component, false);
    log.x64Enabled = DefaultBool(settings, "Is" + word + "x64LogEnabled");
    log.x64Location = DefaultLogLocation(settings, component, true);
    return log;
}

} // namespace

LogPageValues& SettingsValues::Log(LogComponent component)
{
    switch (component) {
    case LogComponent::KSP:
        return ksp;
    case LogComponent::PKCS11:
        return pkcs11;
    case LogComponent::CSP:
        break;
    }
    return csp;
}

wxString DefaultLogFileName(LogComponent component, bool x64)
{
    const wxString word = component == LogComponent::PKCS11 ? "PKCS" : ComponentKeyWord(component);
    return word + (x64 ? "_x64.LOG" : "_x86.LOG");
}

wxString DefaultLogLocation(const NRVCMUSettings& settings, LogComponent component, bool x64)
{
    return settings.GetDefaultValue(LocationKey(component, x64));
}

SettingsValues ReadSettingsValues(const NRVCMUSettings& s)
{
    SettingsValues v;
    v.launchAtStartup = s.IsLaunchAtStartup();
    v.minimizeToTray = s.IsMinimizeToTray();
    v.askOnExit = s.IsAskOnExit();
    v.askChangeDefaultPin = s.IsAskChangeDefaultPin();
    v.autoLogout = s.IsAutoLogout();
    v.autoLogoutTime = s.GetAutoLogoutTime();
    v.installCertificate = s.IsInstallCertificate();
    v.removeCertificate = s.IsRemoveCertificate();
    v.pinCacheEnabled = s.IsPINCacheEnabled();

    v.tokenLabel = s.GetTokenLabel();
    v.appendSerialNumber = s.IsAppendSerialNumberToLabel();
    v.maxRSAKeyPairs = s.GetMaxRSAKeyPairs();

    v.userPin = { s.GetUserPINType(), s.GetUserPINDefaultValue(), s.GetUserPINMinLength(),
        s.GetUserPINMaxLength(), s.GetUserPINErrorLimit(), s.GetRandomUserPINLength(),
        s.IsRandomUserPINUseNumbers(), s.IsRandomUserPINUseUppercaseLetters(),
        s.IsRandomUserPINUseLowercaseLetters(), s.IsRandomUserPINUseSymbols() };
    v.soPin = { s.GetSOPINType(), s.GetSOPINDefaultValue(), s.GetSOPINMinLength(), s.GetSOPINMaxLength(),
        s.GetSOPINErrorLimit(), s.GetRandomSOPINLength(), s.IsRandomSOPINUseNumbers(),
        s.IsRandomSOPINUseUppercaseLetters(), s.IsRandomSOPINUseLowercaseLetters(),
        s.IsRandomSOPINUseSymbols() };

    v.csp = { s.IsCSPx86LogEnabled(), s.GetCSPx86LogLocation(), s.IsCSPx64LogEnabled(),
        s.GetCSPx64LogLocation() };
    v.ksp = { s.IsKSPx86LogEnabled(), s.GetKSPx86LogLocation(), s.IsKSPx64LogEnabled(),
        s.GetKSPx64LogLocation() };
    v.pkcs11 = { s.IsPKCS11x86LogEnabled(), s.GetPKCS11x86LogLocation(), s.IsPKCS11x64LogEnabled(),
        s.GetPKCS11x64LogLocation() };
    return v;
}

SettingsValues DefaultSettingsValues(const NRVCMUSettings& s)
{
    SettingsValues v;
    v.launchAtStartup = DefaultBool(s, "IsLaunchAtStartup");
    v.minimizeToTray = DefaultBool(s, "IsMinimizeToTray");
    v.askOnExit = DefaultBool(s, "IsAskOnExit");
    v.askChangeDefaultPin = DefaultBool(s, "IsAskChangeDefaultPin");
    v.autoLogout = DefaultBool(s, "IsAutoLogout");
    v.autoLogoutTime = DefaultLong(s, "AutoLogoutTime");
    v.installCertificate = DefaultBool(s, "IsInstallCertificate");
    v.removeCertificate = DefaultBool(s, "IsRemoveCertificate");
    v.pinCacheEnabled = DefaultBool(s, "IsPINCacheEnabled");
    v.tokenLabel = s.GetDefaultValue("TokenLabel");
    v.appendSerialNumber = DefaultBool(s, "IsAppendSerialNumberToLabel");
    v.maxRSAKeyPairs = DefaultLong(s, "MaxRSAKeyPairs");
    v.userPin = DefaultPin(s, "User", "User");
    v.soPin = DefaultPin(s, "SO", "SO");
    v.csp = DefaultLog(s, LogComponent::CSP);
    v.ksp = DefaultLog(s, LogComponent::KSP);
    v.pkcs11 = DefaultLog(s, LogComponent::PKCS11);
    return v;
}

void WriteSettingsValues(NRVCMUSettings& s, const SettingsValues& v)
{
    s.SetIsLaunchAtStartup(v.launchAtStartup);
    s.SetIsMinimizeToTray(v.minimizeToTray);
    s.SetIsAskOnExit(v.askOnExit);
    s.SetIsAskChangeDefaultPin(v.askChangeDefaultPin);
    s.SetIsAutoLogout(v.autoLogout);
    s.SetAutoLogoutTime(v.autoLogoutTime);
    s.SetIsInstallCertificate(v.installCertificate);
    s.SetIsRemoveCertificate(v.removeCertificate);
    s.SetIsPINCacheEnabled(v.pinCacheEnabled);

    s.SetTokenLabel(v.tokenLabel);
    s.SetIsAppendSerialNumberToLabel(v.appendSerialNumber);
    s.SetMaxRSAKeyPairs(v.maxRSAKeyPairs);

    const PinPageValues& u = v.userPin;
    s.SetUserPINType(u.type);
    s.SetUserPINDefaultValue(u.defaultValue);
    s.SetUserPINErrorLimit(u.errorLimit);
    s.SetUserPINMinLength(u.minLength);
    s.SetUserPINMaxLength(u.maxLength);
    s.SetRandomUserPINLength(u.randomLength);
    s.SetIsRandomUserPINUseNumbers(u.useNumbers);
    s.SetIsRandomUserPINUseUppercaseLetters(u.useUppercase);
    s.SetIsRandomUserPINUseLowercaseLetters(u.useLowercase);
    s.SetIsRandomUserPINUseSymbols(u.useSymbols);

    const PinPageValues& o = v.soPin;
    s.SetSOPINType(o.type);
    s.SetSOPINDefaultValue(o.defaultValue);
    s.SetSOPINErrorLimit(o.errorLimit);
    s.SetSOPINMinLength(o.minLength);
    s.SetSOPINMaxLength(o.maxLength);
    s.SetRandomSOPINLength(o.randomLength);
    s.SetIsRandomSOPINUseNumbers(o.useNumbers);
    s.SetIsRandomSOPINUseUppercaseLetters(o.useUppercase);
    s.SetIsRandomSOPINUseLowercaseLetters(o.useLowercase);
    s.SetIsRandomSOPINUseSymbols(o.useSymbols);

    s.SetIsCSPx86LogEnabled(v.csp.x86Enabled);
    s.SetCSPx86LogLocation(v.csp.x86Location);
    s.SetIsCSPx64LogEnabled(v.csp.x64Enabled);
    s.SetCSPx64LogLocation(v.csp.x64Location);
    s.SetIsPKCS11x86LogEnabled(v.pkcs11.x86Enabled);
    s.SetPKCS11x86LogLocation(v.pkcs11.x86Location);
    s.SetIsPKCS11x64LogEnabled(v.pkcs11.x64Enabled);
    s.SetPKCS11x64LogLocation(v.pkcs11.x64Location);
    s.SetIsKSPx86LogEnabled(v.ksp.x86Enabled);
    s.SetKSPx86LogLocation(v.ksp.x86Location);
    s.SetIsKSPx64LogEnabled(v.ksp.x64Enabled);
    s.SetKSPx64LogLocation(v.ksp.x64Location);
}
