#include "SettingsDlgRules.h"

#include "manager/pin/PinDialogChecks.h"

#include <wx/defs.h>
#include <wx/intl.h>

namespace {

constexpr long kMinPinValueLength = 4;
// What a page writes for the controls its type hides.
constexpr long kWrittenMinLength = 4;
constexpr long kWrittenMaxLength = 8;
constexpr long kWrittenRandomLength = 8;

SettingsCheckResult Failure(
    SettingsPage page, const wxString& message, SettingsField focus = SettingsField::None)
{
    SettingsCheckResult result;
    result.accepted = false;
    result.page = page;
    result.message = message;
    result.focus = focus;
    return result;
}

bool IsWhiteSpace(wxUniChar c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

} // namespace

SettingsCheckResult CheckTokenPage(const TokenPageState& token)
{
    if (token.useDefaultLabel) {
        return {};
    }
    const SettingsPage page = SettingsPage::Token;
    if (token.label.empty()) {
        return Failure(page, _("Invalid token label."), SettingsField::TokenLabel);
    }
    if (!IsValidPinCharacters(token.label)) {
        SettingsCheckResult result = Failure(page, _("Invalid token label."), SettingsField::TokenLabel);
        result.selectAll = true;
        return result;
    }
    size_t kept = token.label.length();
    while (kept > 0 && IsWhiteSpace(token.label[kept - 1])) {
        --kept;
    }
    const size_t trailing = token.label.length() - kept;
    if (trailing == 0) {
        return {};
    }
    SettingsCheckResult result;
    if (kept == 0) {
        result = Failure(page, _("Invalid token label."), SettingsField::TokenLabel);
    } else if (trailing == 1) {
        result
            = Failure(page, _("Token label should not end with a white-space."), SettingsField::TokenLabel);
    } else {
        result = Failure(page, _("Token label should not end with white-spaces."), SettingsField::TokenLabel);
    }
    result.replaceText = true;
    result.replacement = token.label.Left(kept);
    return result;
}

SettingsCheckResult CheckPinPage(PinKind kind, const PinPageState& pin)
{
    const bool so = kind == PinKind::SO;
    const SettingsPage page = so ? SettingsPage::SOPIN : SettingsPage::UserPIN;
    switch (PinSourceForType(pin.type)) {
    case PinSource::Default:
        if (!IsValidPinCharacters(pin.value)) {
            SettingsCheckResult result = Failure(page,
                so ? _("Please input a valid SO PIN value.") : _("Please input a valid User PIN value."),
                SettingsField::PinValue);
            result.selectAll = true;
            return result;
        }
        if (static_cast<long>(pin.value.length()) < kMinPinValueLength) {
            return Failure(page,
                so ? _("Please check SO PIN Value. It must be at least 4 characters long.")
                   : _("Please check User PIN Value. It must be at least 4 characters long."),
                SettingsField::PinValue);
        }
        return {};
    case PinSource::Manual:
        if (pin.maxLength < pin.minLength) {
            return Failure(page,
                so ? _("Please check SO PIN Attributes. Minimum length must not be greater than the maximum "
                       "length.")
                   : _("Please check User PIN Attributes. Minimum length must not be greater than the "
                       "maximum "
                       "length."));
        }
        return {};
    case PinSource::Random:
        if (!pin.useNumbers && !pin.useUppercase && !pin.useLowercase && !pin.useSymbols) {
            return Failure(page, _("Please check at least one option under Randomization Settings."));
        }
        return {};
    }
    return {};
}

SettingsCheckResult CheckSettingsPages(
    const TokenPageState& token, const PinPageState& userPin, const PinPageState& soPin)
{
    if (SettingsCheckResult result = CheckTokenPage(token); !result.accepted) {
        return result;
    }
    if (SettingsCheckResult result = CheckPinPage(PinKind::User, userPin); !result.accepted) {
        return result;
    }
    return CheckPinPage(PinKind::SO, soPin);
}

PinPageValues PinPageWrite(const PinPageState& pin)
{
    const PinSource source = PinSourceForType(pin.type);
    PinPageValues values;
    values.type = pin.type;
    values.defaultValue = source == PinSource::Default ? pin.value : wxString(kFactoryDefaultPin);
    values.errorLimit = pin.errorLimit;
    const bool manual = source == PinSource::Manual;
    values.minLength = manual ? pin.minLength : kWrittenMinLength;
    values.maxLength = manual ? pin.maxLength : kWrittenMaxLength;
    if (source == PinSource::Random) {
        values.randomLength = pin.randomLength;
        values.useNumbers = pin.useNumbers;
        values.useUppercase = pin.useUppercase;
        values.useLowercase = pin.useLowercase;
        values.useSymbols = pin.useSymbols;
    } else {
        values.randomLength = kWrittenRandomLength;
        values.useNumbers = values.useUppercase = values.useLowercase = values.useSymbols = true;
    }
    return values;
}

LogPageValues LogPageWrite(
    const LogPageState& log, const wxString& defaultX86, const wxString& defaultX64, bool show64)
{
    LogPageValues values;
    values.x86Enabled = log.x86Enabled;
    values.x86Location = log.x86Enabled ? log.x86Path : defaultX86;
    values.x64Enabled = show64 && log.x64Enabled;
    values.x64Location = values.x64Enabled ? log.x64Path : defaultX64;
    return values;
}

wxString TokenLabelWrite(const TokenPageState& token)
{
    return token.useDefaultLabel ? wxString(kNrvDefaultTokenLabel) : token.label;
}

bool IsMinutesKeyAccepted(int keyCode, bool shiftDown)
{
    if (keyCode >= '0' && keyCode <= '9') {
        return !shiftDown;
    }
    if (keyCode >= WXK_NUMPAD0 && keyCode <= WXK_NUMPAD9) {
        return true;
    }
    switch (keyCode) {
    case WXK_HOME:
    case WXK_END:
    case WXK_LEFT:
    // Leaving the field and correcting a typo are no edits the rules forbid.
    case WXK_RIGHT:
    case WXK_BACK:
    case WXK_DELETE:
    case WXK_TAB:
        return true;
    default:
        return false;
    }
}

MinutesEdit ApplyMinutesEdit(const wxString& typed, const wxString& previous)
{
    MinutesEdit edit;
    if (typed.empty() || typed.StartsWith("0")) {
        edit.shown = previous;
    } else if (previous != "100" && typed.length() == 3) {
        edit.shown = "100";
    } else {
        edit.shown = typed;
    }
    long value = 0;
    if (!edit.shown.ToLong(&value)) {
        value = kMinAutoLogoutMinutes;
    }
    if (value > kMaxAutoLogoutMinutes) {
        value = kMaxAutoLogoutMinutes;
        edit.shown = "100";
    }
    edit.value = value;
    return edit;
}

long ClampSpinText(const wxString& text, long minValue, long maxValue)
{
    long value = 0;
    if (text.empty() || !DigitsOnly(text).IsSameAs(text) || !text.ToLong(&value)) {
        return minValue;
    }
    return value < minValue ? minValue : (value > maxValue ? maxValue : value);
}

wxString DigitsOnly(const wxString& text)
{
    wxString digits;
    for (const wxUniChar c : text) {
        if (c >= '0' && c <= '9') {
            digits += c;
        }
    }
    return digits;
}

wxString CutLabelForSerial(const wxString& label)
{
    return label.Left(kTokenLabelLimitWithSerial);
}

RandomizationReaction ToggleRandomization(RandomizationBoxes before, RandomizationBox box, bool ticked)
{
    RandomizationReaction reaction;
    RandomizationBoxes& b = reaction.boxes;
    b = before;
    switch (box) {
    case RandomizationBox::Numbers:
    case RandomizationBox::Symbols: {
        bool& clicked = box == RandomizationBox::Numbers ? b.numbers : b.symbols;
        const bool other = box == RandomizationBox::Numbers ? b.symbols : b.numbers;
        if (!ticked && !b.letters && !other) {
            reaction.showMessage = true;
            clicked = true;
        } else {
            clicked = ticked;
        }
        break;
    }
    case RandomizationBox::Letters:
        if (!ticked && !b.numbers && !b.symbols) {
            reaction.showMessage = true;
            ticked = true;
        }
        b.letters = b.uppercase = b.lowercase = ticked;
        break;
    case RandomizationBox::Uppercase:
    case RandomizationBox::Lowercase: {
        bool& clicked = box == RandomizationBox::Uppercase ? b.uppercase : b.lowercase;
        const bool otherCase = box == RandomizationBox::Uppercase ? b.lowercase : b.uppercase;
        clicked = ticked;
        if (ticked) {
            b.letters = true;
        } else if (!otherCase) {
            b.letters = false;
            if (!b.numbers && !b.symbols) {
                reaction.showMessage = true;
                clicked = true;
                b.letters = true;
            }
        }
        break;
    }
    }
    return reaction;
}

wxString PinTypeDescription(PinKind kind, long type)
{
    const bool so = kind == PinKind::SO;
    switch (PinSourceForType(type)) {
    case PinSource::Default:
        return so ? _("SO PIN will be automatically set to default value upon initialization.")
                  : _("User PIN will be automatically set to default value upon initialization.");
    case PinSource::Manual:
        return so ? _("SO PIN will be set by the administrator upon initialization.")
                  : _("User PIN will be set by the administrator upon initialization.");
    case PinSource::Random:
        break;
    }
    return so ? _("SO PIN will be set with a random value upon initialization.")
              : _("User PIN will be set with a random value upon initialization.");
}
