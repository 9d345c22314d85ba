#include "PinDialogChecks.h"

#include <wx/intl.h>

namespace {

PinCheckResult Fail(const wxString& message, PinField focus)
{
    PinCheckResult result;
    result.accepted = false;
    result.message = message;
    result.focus = focus;
    return result;
}

PinCheckResult FailSelectAll(const wxString& message, PinField focus)
{
    PinCheckResult result = Fail(message, focus);
    result.selectAll = true;
    return result;
}

PinCheckResult FailReplace(const wxString& message, PinField focus, const wxString& replacement)
{
    PinCheckResult result = Fail(message, focus);
    result.replaceText = true;
    result.replacement = replacement;
    return result;
}

wxString TooShortText(bool isSO, long minLength)
{
    const int minimum = static_cast<int>(minLength);
    if (isSO) {
        // TRANSLATORS: %d is the smallest number of characters a PIN may have.
        return wxString::Format(_("SO PIN must be at least %d characters long."), minimum);
    }
    // TRANSLATORS: %d is the smallest number of characters a PIN may have.
    return wxString::Format(_("User PIN must be at least %d characters long."), minimum);
}

constexpr size_t kLineLength = 80;

} // namespace

bool IsValidPinCharacters(const wxString& text)
{
    for (const wxUniChar c : text) {
        const auto code = c.GetValue();
        if (code < 32 || code > 255) {
            return false;
        }
    }
    return true;
}

PinCheckResult CheckLogIn(PinKind kind, const wxString& pin)
{
    if (pin.empty()) {
        if (kind == PinKind::SO) {
            return Fail(_("Please input the SO PIN."), PinField::Pin);
        }
        if (kind == PinKind::User) {
            return Fail(_("Please input the User PIN."), PinField::Pin);
        }
        return Fail(_("Please input the password."), PinField::Pin);
    }
    return {};
}

PinCheckResult CheckChangePIN(PinKind kind, bool currentShown, const wxString& currentPin,
    const wxString& newPin, const wxString& verifyPin, long minLength)
{
    const bool isSO = kind == PinKind::SO;
    if (currentShown && currentPin.empty()) {
        return Fail(isSO ? _("Please input current SO PIN.") : _("Please input current User PIN."),
            PinField::CurrentPin);
    }
    if (currentShown && newPin == currentPin) {
        return Fail(
            isSO ? _("Please input a new SO PIN.") : _("Please input a new User PIN."), PinField::NewPin);
    }
    if (newPin.empty()) {
        return Fail(isSO ? _("Please input new SO PIN.") : _("Please input new User PIN."), PinField::NewPin);
    }
    if (!IsValidPinCharacters(newPin)) {
        return FailSelectAll(
            isSO ? _("Please input a valid SO PIN value.") : _("Please input a valid User PIN value."),
            PinField::NewPin);
    }
    if (static_cast<long>(newPin.length()) < minLength) {
        return Fail(TooShortText(isSO, minLength), PinField::NewPin);
    }
    if (verifyPin.empty()) {
        return Fail(
            isSO ? _("Please verify new SO PIN.") : _("Please verify new User PIN."), PinField::VerifyPin);
    }
    if (verifyPin != newPin) {
        return FailReplace(isSO ? _("Failed to verify new SO PIN.") : _("Failed to verify new User PIN."),
            PinField::VerifyPin, wxString());
    }
    return {};
}

PinCheckResult CheckUnlockPIN(
    const wxString& newUserPin, const wxString& verifyPin, const wxString& soPin, long minUserLength)
{
    if (newUserPin.empty()) {
        return Fail(_("Please input new User PIN."), PinField::NewPin);
    }
    if (!IsValidPinCharacters(newUserPin)) {
        return FailSelectAll(_("Please input a valid User PIN value."), PinField::NewPin);
    }
    if (static_cast<long>(newUserPin.length()) < minUserLength) {
        return Fail(TooShortText(false, minUserLength), PinField::NewPin);
    }
    if (verifyPin.empty()) {
        return Fail(_("Please verify new User PIN."), PinField::VerifyPin);
    }
    if (verifyPin != newUserPin) {
        return Fail(_("Failed to verify new User PIN."), PinField::VerifyPin);
    }
    if (soPin.empty()) {
        return Fail(_("Please enter current SO PIN."), PinField::SOPin);
    }
    return {};
}

PinCheckResult CheckRenameToken(const wxString& currentLabel, const wxString& newLabel)
{
    if (newLabel.empty()) {
        return Fail(_("Please enter a valid token label."), PinField::NewLabel);
    }
    if (newLabel == currentLabel) {
        return Fail(_("Please enter a new token label."), PinField::NewLabel);
    }
    if (!IsValidPinCharacters(newLabel)) {
        return FailSelectAll(_("Please enter a valid token label."), PinField::NewLabel);
    }
    wxString trimmed = newLabel;
    trimmed.Trim(true);
    const size_t removed = newLabel.length() - trimmed.length();
    if (removed > 0) {
        if (trimmed.empty()) {
            return FailReplace(_("Invalid token label."), PinField::NewLabel, trimmed);
        }
        if (removed == 1) {
            return FailReplace(
                _("Token label should not end with a white-space."), PinField::NewLabel, trimmed);
        }
        return FailReplace(_("Token label should not end with white-spaces."), PinField::NewLabel, trimmed);
    }
    return {};
}

PinCheckResult CheckInitializePIN(
    PinKind kind, const wxString& pin, const wxString& verifyPin, long minLength)
{
    const bool isSO = kind == PinKind::SO;
    const PinField pinField = isSO ? PinField::SOPin : PinField::UserPin;
    const PinField verifyField = isSO ? PinField::SOVerifyPin : PinField::UserVerifyPin;
    if (pin.empty()) {
        return Fail(isSO ? _("Please input SO PIN.") : _("Please input User PIN."), pinField);
    }
    if (!IsValidPinCharacters(pin)) {
        return FailSelectAll(
            isSO ? _("Please input a valid SO PIN.") : _("Please input a valid User PIN."), pinField);
    }
    if (static_cast<long>(pin.length()) < minLength) {
        return Fail(TooShortText(isSO, minLength), pinField);
    }
    if (verifyPin.empty()) {
        return Fail(isSO ? _("Please verify SO PIN.") : _("Please verify User PIN."), verifyField);
    }
    if (verifyPin != pin) {
        return Fail(isSO ? _("Failed to verify SO PIN.") : _("Failed to verify User PIN."), verifyField);
    }
    return {};
}

SOPinReaction UnlockErrorReaction(const wxString& errorText)
{
    if (errorText.Contains(_("Incorrect SO PIN."))) {
        return SOPinReaction::ClearAndFocus;
    }
    if (errorText.Contains(_("SO PIN."))) {
        return SOPinReaction::Focus;
    }
    return SOPinReaction::None;
}

MatchImage MatchImageFor(const wxString& pin, const wxString& verifyPin)
{
    if (pin != verifyPin) {
        return MatchImage::Mismatch;
    }
    return pin.empty() ? MatchImage::Hidden : MatchImage::Match;
}

PinSource PinSourceForType(long type)
{
    if (type == 0) {
        return PinSource::Default;
    }
    if (type == 1) {
        return PinSource::Manual;
    }
    return PinSource::Random;
}

wxString PinGroupTitle(PinKind kind, PinSource source)
{
    if (kind == PinKind::SO) {
        switch (source) {
        case PinSource::Default:
            return _("SO PIN - Default Value");
        case PinSource::Manual:
            return _("SO PIN - Manual Input");
        case PinSource::Random:
            break;
        }
        return _("SO PIN - Randomly Generated");
    }
    switch (source) {
    case PinSource::Default:
        return _("User PIN - Default Value");
    case PinSource::Manual:
        return _("User PIN - Manual Input");
    case PinSource::Random:
        break;
    }
    return _("User PIN - Randomly Generated");
}

wxString BreakLongMessage(const wxString& message)
{
    const size_t lastBreak = message.rfind('\n');
    const wxString head = lastBreak == wxString::npos ? wxString() : message.substr(0, lastBreak);
    wxString remaining = lastBreak == wxString::npos ? message : message.substr(lastBreak + 1);

    wxString result = head + "\n";
    // Long file paths are split after a backslash near each 80th character.
    while (remaining.length() > kLineLength) {
        const size_t first = remaining.find('\\');
        if (first == wxString::npos) {
            break;
        }
        const size_t chosen = first >= kLineLength ? first : remaining.rfind('\\', kLineLength - 1);
        result += remaining.substr(0, chosen) + "\\\n";
        remaining = remaining.substr(chosen + 1);
    }
    result += remaining;
    return result;
}
