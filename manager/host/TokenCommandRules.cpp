#include "TokenCommandRules.h"

#include "manager/core/CryptokiResultText.h"

#include <cstdlib>
#include <cwchar>

namespace TokenCommandRules {

bool IsPinRetryCode(CK_RV rv)
{
    return rv >= NRV_CKR_PIN_RETRIES_MIN && rv <= NRV_CKR_PIN_RETRIES_MAX;
}

bool IsWrongPinResult(CK_RV rv)
{
    return IsPinRetryCode(rv) || rv == CKR_PIN_INCORRECT || rv == CKR_PIN_LEN_RANGE;
}

LoginStep ClassifyLogin(CK_RV rv)
{
    if (rv == CKR_OK) {
        return LoginStep::Done;
    }
    if (rv == CKR_SESSION_HANDLE_INVALID) {
        return LoginStep::ReopenSession;
    }
    if (rv == CKR_USER_ALREADY_LOGGED_IN || rv == CKR_USER_ANOTHER_ALREADY_LOGGED_IN) {
        return LoginStep::LogOutFirst;
    }
    if (IsWrongPinResult(rv)) {
        return LoginStep::AskAgain;
    }
    if (rv == CKR_PIN_LOCKED) {
        return LoginStep::Locked;
    }
    return LoginStep::Fail;
}

int GetLoginMaxPinLength(CK_ULONG tokenMaxPinLen)
{
    return tokenMaxPinLen >= 9 ? 16 : 8;
}

int GetUnlockSOPINMaxLength(const wxString& model)
{
    return (model == wxS("VELA5-64") || model == wxS("SGL64")) ? 8 : 16;
}

wxString GetPinFailureText(CK_RV rv, bool isSO, const wxString& context)
{
    if (IsWrongPinResult(rv) || rv == CKR_PIN_LOCKED) {
        return GetPINResultMessage(rv, isSO, context);
    }
    return GetResultMessage(rv, context);
}

wxString GetInitFailureText(CK_RV rv, const wxString& context)
{
    if (IsPinRetryCode(rv) || rv == CKR_PIN_LOCKED) {
        return GetPINResultMessage(rv, true, context);
    }
    return GetResultMessage(rv, context);
}

wxString BuildInitLabel(const wxString& tokenLabel, bool appendSerialNumber, const wxString& serialNumber)
{
    if (!appendSerialNumber) {
        return tokenLabel;
    }
    return tokenLabel + wxString::Format(wxS("_%s"), serialNumber);
}

wxString FitToBytes(const wxString& text, std::size_t maxBytes)
{
    // Same conversion as the text buffers handed to the module.
    std::mbstate_t state {};
    char bytes[MB_LEN_MAX];
    std::size_t used = 0;
    wxString fitted;
    for (const wxUniChar ch : text) {
        const std::size_t n = std::wcrtomb(bytes, static_cast<wchar_t>(ch.GetValue()), &state);
        const std::size_t size = (n == static_cast<std::size_t>(-1)) ? 1 : n;
        if (used + size > maxBytes) {
            break;
        }
        used += size;
        fitted.Append(ch);
    }
    return fitted;
}

wxString FixedFieldText(const CK_UTF8CHAR* field, std::size_t width)
{
    std::size_t length = 0;
    while (length < width && field[length] != 0) {
        ++length;
    }
    while (length > 0 && field[length - 1] == ' ') {
        --length;
    }
    return wxString(reinterpret_cast<const char*>(field), wxConvISO8859_1, length);
}

} // namespace TokenCommandRules
