// The PIN dialog: "Enter PIN for <token label>", the masking PIN field
// (1001), the red status line (1004), "Login" and "Cancel". "Login" logs
// the token in with the typed PIN; a wrong PIN keeps the dialog open with
// the retries left, a blocked PIN leaves only Cancel. The window is named
// "CLogin", by which tests find and answer it.
#pragma once

#include "ksp/CryptokiLibrary.h"
#include "ksp/DebugClass.h"
#include "ksp/PinManager.h"
#include "pkcs11/pkcs11.h"

#include <string>

class CLogin final {
public:
    static constexpr int kPinFieldId = 1001;
    static constexpr int kBitmapId = 1002;
    static constexpr int kPinLabelId = 1003;
    static constexpr int kStatusId = 1004;
    static constexpr int kCaptionId = 1008;
    static constexpr const char* kWindowName = "CLogin";
    static constexpr CK_ULONG kDefaultMaxPin = 8;

    CryptokiLibrary* library = nullptr;
    CK_SESSION_HANDLE session = 0;
    PinManager* pinManager = nullptr;
    TokenSerial serial {};
    bool hasSerial = false;
    std::u16string tokenLabel;
    CK_ULONG maxPinLength = kDefaultMaxPin;
    CK_ULONG minPinLength = 0;

    // Shows the dialog modally on this thread. ERROR_SUCCESS once logged in
    // (the PIN cached as PINCACHE allows); SCARD_W_CANCELLED_BY_USER for
    // Cancel, the close box, or another PIN dialog already running; the
    // login's own failure otherwise; NTE_NOT_FOUND when no dialog can be
    // shown at all.
    SECURITY_STATUS Run(const DebugClass& log) const;
};

// Logs the User in with a PIN: C_NRV_Login on the maker's module, C_Login on
// another.
CK_RV LoginUser(CryptokiLibrary& library, CK_SESSION_HANDLE session, const CK_BYTE* pin, CK_ULONG length);

// Whether a login answer means the PIN was refused, and how many tries are
// left (0 when the module does not say).
bool IsWrongPin(CK_RV rv, int& retriesLeft);

// After a good login: caches the PIN unless PINCACHE says "00000000".
// Failures are logged only; they never fail the login.
void CachePin(const DebugClass& log, PinManager* pins, const TokenSerial* serial, const CK_BYTE* pin,
    std::size_t length);

// The typed PIN as single bytes; false when a character is outside 0-255.
bool PinBytes(const std::u16string& pin, std::string& bytes);
