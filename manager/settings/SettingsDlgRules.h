// What the settings dialog decides, apart from its windows so it is checked
// without a display: the acceptance checks in order, the page and field a
// failure selects, what each page writes, and the rules of the minutes field,
// the label boxes and the randomization boxes.
#pragma once

#include "SettingsValues.h"
#include "manager/pin/PinKind.h"

#include <wx/string.h>

// The seven pages, in the order of the category list.
enum class SettingsPage { Application, Token, UserPIN, SOPIN, CSP, KSP, PKCS11 };

enum class SettingsField { None, TokenLabel, PinValue };

struct SettingsCheckResult {
    bool accepted = true;
    wxString message;
    SettingsPage page = SettingsPage::Application;
    SettingsField focus = SettingsField::None;
    bool selectAll = false;
    // The field's text becomes replacement (the trimmed label).
    bool replaceText = false;
    wxString replacement;
};

// The label every token gets unless the user names another.
inline const char* const kNrvDefaultTokenLabel = "NRV Card OS 5";
// The label field's limit, and its limit while the serial number is appended.
constexpr int kTokenLabelLimit = 32;
constexpr int kTokenLabelLimitWithSerial = 19;

struct TokenPageState {
    bool useDefaultLabel = true;
    wxString label;
    bool appendSerialNumber = false;
    long maxKeyPairs = 10;
};

// What a PIN page shows; value is the text of the visible value field.
struct PinPageState {
    long type = 0;
    wxString value;
    long errorLimit = 8;
    long minLength = 4;
    long maxLength = 8;
    long randomLength = 8;
    bool useNumbers = true;
    bool useUppercase = true;
    bool useLowercase = true;
    bool useSymbols = true;
};

struct LogPageState {
    bool x86Enabled = false;
    wxString x86Path;
    bool x64Enabled = false;
    wxString x64Path;
};

SettingsCheckResult CheckTokenPage(const TokenPageState& token);
// kind is User or SO.
SettingsCheckResult CheckPinPage(PinKind kind, const PinPageState& pin);
// Token, User PIN, SO PIN: the first failure.
SettingsCheckResult CheckSettingsPages(
    const TokenPageState& token, const PinPageState& userPin, const PinPageState& soPin);

// The default value a page writes unless its type is "Default Value".
inline const char* const kFactoryDefaultPin = "73920518";

PinPageValues PinPageWrite(const PinPageState& pin);
// show64 is false where the system has no 64-bit side: its values are the defaults.
LogPageValues LogPageWrite(
    const LogPageState& log, const wxString& defaultX86, const wxString& defaultX64, bool show64 = true);
wxString TokenLabelWrite(const TokenPageState& token);

// The minutes field of auto-logout.
constexpr long kMinAutoLogoutMinutes = 1;
constexpr long kMaxAutoLogoutMinutes = 100;
// True for the keys that may reach the field: digits typed without Shift,
// keypad digits, Home, End and Left.
bool IsMinutesKeyAccepted(int keyCode, bool shiftDown);
struct MinutesEdit {
    wxString shown;
    long value = 1;
};
// typed is the field's text after the user's edit, previous its text before.
MinutesEdit ApplyMinutesEdit(const wxString& typed, const wxString& previous);

// A spin field's text read as a number within [min, max]; min when it is no number.
long ClampSpinText(const wxString& text, long minValue, long maxValue);
// Digits only, for the other spin fields.
wxString DigitsOnly(const wxString& text);

// The label when "Append Card Serial Number to Label" is ticked.
wxString CutLabelForSerial(const wxString& label);

// The randomization boxes of a PIN page.
struct RandomizationBoxes {
    bool numbers = true;
    bool letters = true;
    bool uppercase = true;
    bool lowercase = true;
    bool symbols = true;
    bool operator==(const RandomizationBoxes&) const = default;
};
enum class RandomizationBox { Numbers, Letters, Uppercase, Lowercase, Symbols };
struct RandomizationReaction {
    RandomizationBoxes boxes;
    // "At least one randomization option must be checked."
    bool showMessage = false;
};
// before: the boxes before the click; ticked: the clicked box's new state.
RandomizationReaction ToggleRandomization(RandomizationBoxes before, RandomizationBox box, bool ticked);

// The sentence under the PIN type choice.
wxString PinTypeDescription(PinKind kind, long type);
