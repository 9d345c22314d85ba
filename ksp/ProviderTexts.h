// The provider's own text table, English only: the string table entries
// and the texts of its dialogs.
#pragma once

namespace ProviderTexts {

inline constexpr const char* kLogin = "Login"; // 121
inline constexpr const char* kEnterPinFor = "Enter PIN for"; // 122
inline constexpr const char* kCurrentUserPin = "Current User PIN"; // 123
inline constexpr const char* kNewUserPin = "New User PIN"; // 124
inline constexpr const char* kVerifyUserPin = "Verify User PIN"; // 125

inline constexpr const char* kPinLabel = "PIN:";
inline constexpr const char* kCancel = "Cancel";
inline constexpr const char* kProviderCaption = "Key Storage\n   Provider";
inline constexpr const char* kRetriesLeft = "Incorrect PIN. Retries left";
inline constexpr const char* kPinLocked = "Pin is locked";

} // namespace ProviderTexts
