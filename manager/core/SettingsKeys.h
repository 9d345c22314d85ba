// The token manager's 45 settings, in the order the file's digest covers
// them: X(type, name, default, where). type is Bool, Long or Text; a Bool
// name is its getter's name (IsX), the others get GetX; every key has SetX.
// where is Value for a plain default, or LogFile for a file name the log
// folder goes in front of. The store, its digest and its accessors all come
// from this one list.
#pragma once

#define VELA5_SETTINGS_KEYS(X)                                                                               \
    X(Text, DefaultLanguage, "Bulgarian", Value)                                                             \
    X(Bool, IsLaunchAtStartup, "0", Value)                                                                   \
    X(Bool, IsMinimizeToTray, "0", Value)                                                                    \
    X(Bool, IsAskOnExit, "1", Value)                                                                         \
    X(Bool, IsAskChangeDefaultPin, "1", Value)                                                               \
    X(Bool, IsAutoLogout, "0", Value)                                                                        \
    X(Long, AutoLogoutTime, "1", Value)                                                                      \
    X(Bool, IsInstallCertificate, "1", Value)                                                                \
    X(Bool, IsRemoveCertificate, "1", Value)                                                                 \
    X(Text, TokenLabel, "NRV Card OS 5", Value)                                                              \
    X(Bool, IsAppendSerialNumberToLabel, "0", Value)                                                         \
    X(Long, UserPINType, "0", Value)                                                                         \
    X(Text, UserPINDefaultValue, "73920518", Value)                                                          \
    X(Long, UserPINMinLength, "4", Value)                                                                    \
    X(Long, UserPINMaxLength, "8", Value)                                                                    \
    X(Long, UserPINErrorLimit, "8", Value)                                                                   \
    X(Long, RandomUserPINLength, "8", Value)                                                                 \
    X(Bool, IsRandomUserPINUseNumbers, "1", Value)                                                           \
    X(Bool, IsRandomUserPINUseUppercaseLetters, "1", Value)                                                  \
    X(Bool, IsRandomUserPINUseLowercaseLetters, "1", Value)                                                  \
    X(Bool, IsRandomUserPINUseSymbols, "1", Value)                                                           \
    X(Long, SOPINType, "0", Value)                                                                           \
    X(Text, SOPINDefaultValue, "73920518", Value)                                                            \
    X(Long, SOPINMinLength, "4", Value)                                                                      \
    X(Long, SOPINMaxLength, "8", Value)                                                                      \
    X(Long, SOPINErrorLimit, "8", Value)                                                                     \
    X(Long, RandomSOPINLength, "8", Value)                                                                   \
    X(Bool, IsRandomSOPINUseNumbers, "1", Value)                                                             \
    X(Bool, IsRandomSOPINUseUppercaseLetters, "1", Value)                                                    \
    X(Bool, IsRandomSOPINUseLowercaseLetters, "1", Value)                                                    \
    X(Bool, IsRandomSOPINUseSymbols, "1", Value)                                                             \
    X(Long, MaxRSAKeyPairs, "10", Value)                                                                     \
    X(Bool, IsCSPx86LogEnabled, "0", Value)                                                                  \
    X(Text, CSPx86LogLocation, "CSP_x86.LOG", LogFile)                                                       \
    X(Bool, IsCSPx64LogEnabled, "0", Value)                                                                  \
    X(Text, CSPx64LogLocation, "CSP_x64.LOG", LogFile)                                                       \
    X(Bool, IsKSPx86LogEnabled, "0", Value)                                                                  \
    X(Text, KSPx86LogLocation, "KSP_x86.LOG", LogFile)                                                       \
    X(Bool, IsKSPx64LogEnabled, "0", Value)                                                                  \
    X(Text, KSPx64LogLocation, "KSP_x64.LOG", LogFile)                                                       \
    X(Bool, IsPKCS11x86LogEnabled, "0", Value)                                                               \
    X(Text, PKCS11x86LogLocation, "PKCS_x86.LOG", LogFile)                                                   \
    X(Bool, IsPKCS11x64LogEnabled, "0", Value)                                                               \
    X(Text, PKCS11x64LogLocation, "PKCS_x64.LOG", LogFile)                                                   \
    X(Bool, IsPINCacheEnabled, "1", Value)
