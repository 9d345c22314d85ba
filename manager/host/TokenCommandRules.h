// Decisions of the token commands that need no window: dialog limits, how a
// module result steers a login, which sentence a failure shows, and the label
// of a token being initialized.
#pragma once

#include "pkcs11/pkcs11.h"

#include <wx/string.h>

namespace TokenCommandRules {

// What to do with the result of a login attempt.
enum class LoginStep {
    Done, // CKR_OK
    ReopenSession, // CKR_SESSION_HANDLE_INVALID: reopen, then log in again
    LogOutFirst, // someone is logged in already: log out, then log in again
    AskAgain, // wrong PIN with attempts left: show the dialog again
    Locked, // CKR_PIN_LOCKED
    Fail // anything else
};

LoginStep ClassifyLogin(CK_RV rv);

// A retry count of the vendor login, unblock and init calls (1 to 14).
bool IsPinRetryCode(CK_RV rv);
// A result after which the user may type the PIN again.
bool IsWrongPinResult(CK_RV rv);

// Longest PIN the User login dialog accepts: 16 when the token allows 9 or
// more characters, else 8.
int GetLoginMaxPinLength(CK_ULONG tokenMaxPinLen);
// Longest SO PIN the unlock dialog accepts, by the token's model.
int GetUnlockSOPINMaxLength(const wxString& model);

// The status text of a failed PIN step: the PIN sentence for PIN results,
// otherwise the generic one, both after the context.
wxString GetPinFailureText(CK_RV rv, bool isSO, const wxString& context);
// The status text of a failed initialization call. Retry counts and a lock
// there refer to the SO PIN; everything else, including the disabled
// clear-card function, takes the generic sentence.
wxString GetInitFailureText(CK_RV rv, const wxString& context);

// The label written by initialization: the configured label, with "_" and
// the serial number appended when asked.
wxString BuildInitLabel(const wxString& tokenLabel, bool appendSerialNumber, const wxString& serialNumber);
// Cuts text so that its multibyte form fits maxBytes, never splitting a
// character.
wxString FitToBytes(const wxString& text, std::size_t maxBytes);

// A fixed-width blank-padded field of CK_TOKEN_INFO as text, trailing blanks
// (and zeros) removed.
wxString FixedFieldText(const CK_UTF8CHAR* field, std::size_t width);

} // namespace TokenCommandRules
