// What the PIN, label and message dialogs decide, kept apart from the windows
// so it can be checked without a display: the order of the checks, the text
// of the first failure, the field that gets the focus and what happens to it.
#pragma once

#include "PinKind.h"

#include <wx/string.h>

// Every character code from 32 to 255: no control characters, nothing
// outside Latin-1. An empty text is valid.
bool IsValidPinCharacters(const wxString& text);

enum class PinField {
    None,
    Pin,
    CurrentPin,
    NewPin,
    VerifyPin,
    SOPin,
    NewLabel,
    UserPin,
    UserVerifyPin,
    SOVerifyPin,
};

struct PinCheckResult {
    bool accepted = true;
    wxString message;
    PinField focus = PinField::None;
    bool selectAll = false;
    // The focused field's text is replaced by replacement (emptied, trimmed).
    bool replaceText = false;
    wxString replacement;
};

PinCheckResult CheckLogIn(PinKind kind, const wxString& pin);

// currentShown is false in the default-PIN mode, where the current PIN is
// neither asked for nor checked.
PinCheckResult CheckChangePIN(PinKind kind, bool currentShown, const wxString& currentPin,
    const wxString& newPin, const wxString& verifyPin, long minLength);

PinCheckResult CheckUnlockPIN(
    const wxString& newUserPin, const wxString& verifyPin, const wxString& soPin, long minUserLength);

PinCheckResult CheckRenameToken(const wxString& currentLabel, const wxString& newLabel);

// One manually entered PIN of the initialization dialog (kind User or SO);
// the focus names the User or the SO field.
PinCheckResult CheckInitializePIN(
    PinKind kind, const wxString& pin, const wxString& verifyPin, long minLength);

// What UnlockPINDlg::SetErrorMessage does with the SO PIN field.
enum class SOPinReaction { None, Focus, ClearAndFocus };
SOPinReaction UnlockErrorReaction(const wxString& errorText);

// The match image of a manual PIN panel.
enum class MatchImage { Hidden, Match, Mismatch };
MatchImage MatchImageFor(const wxString& pin, const wxString& verifyPin);

// PIN type settings: 0 default value, 1 manual input, anything else random.
enum class PinSource { Default, Manual, Random };
PinSource PinSourceForType(long type);
// "User PIN - Default Value", "SO PIN - Randomly Generated", ...
wxString PinGroupTitle(PinKind kind, PinSource source);

// A message too wide for the message box: everything before the last line
// break, a line break, then the last line, broken after backslashes into
// pieces of about 80 characters when it is longer than that.
wxString BreakLongMessage(const wxString& message);
