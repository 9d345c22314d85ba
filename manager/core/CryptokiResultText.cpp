// Result names, user sentences and token flag names.
#include "CryptokiResultText.h"

#include <array>
#include <cstdio>
#include <string_view>
#include <wx/intl.h>

namespace {

struct NamedCode {
    CK_RV code;
    const char* name;
};

#define NRV_NAMED(code)                                                                                      \
    NamedCode                                                                                                \
    {                                                                                                        \
        code, #code                                                                                          \
    }

// The standard codes the manager knows by name, in value order.
constexpr std::array g_standardNames = {
    NRV_NAMED(CKR_OK),
    NRV_NAMED(CKR_CANCEL),
    NRV_NAMED(CKR_HOST_MEMORY),
    NRV_NAMED(CKR_SLOT_ID_INVALID),
    NRV_NAMED(CKR_GENERAL_ERROR),
    NRV_NAMED(CKR_FUNCTION_FAILED),
    NRV_NAMED(CKR_ARGUMENTS_BAD),
    NRV_NAMED(CKR_NO_EVENT),
    NRV_NAMED(CKR_NEED_TO_CREATE_THREADS),
    NRV_NAMED(CKR_CANT_LOCK),
    NRV_NAMED(CKR_ATTRIBUTE_READ_ONLY),
    NRV_NAMED(CKR_ATTRIBUTE_SENSITIVE),
    NRV_NAMED(CKR_ATTRIBUTE_TYPE_INVALID),
    NRV_NAMED(CKR_ATTRIBUTE_VALUE_INVALID),
    NRV_NAMED(CKR_DATA_INVALID),
    NRV_NAMED(CKR_DATA_LEN_RANGE),
    NRV_NAMED(CKR_DEVICE_ERROR),
    NRV_NAMED(CKR_DEVICE_MEMORY),
    NRV_NAMED(CKR_DEVICE_REMOVED),
    NRV_NAMED(CKR_ENCRYPTED_DATA_INVALID),
    NRV_NAMED(CKR_ENCRYPTED_DATA_LEN_RANGE),
    NRV_NAMED(CKR_FUNCTION_CANCELED),
    NRV_NAMED(CKR_FUNCTION_NOT_PARALLEL),
    NRV_NAMED(CKR_FUNCTION_NOT_SUPPORTED),
    NRV_NAMED(CKR_KEY_HANDLE_INVALID),
    NRV_NAMED(CKR_KEY_SIZE_RANGE),
    NRV_NAMED(CKR_KEY_TYPE_INCONSISTENT),
    NRV_NAMED(CKR_KEY_NOT_NEEDED),
    NRV_NAMED(CKR_KEY_CHANGED),
    NRV_NAMED(CKR_KEY_NEEDED),
    NRV_NAMED(CKR_KEY_INDIGESTIBLE),
    NRV_NAMED(CKR_KEY_FUNCTION_NOT_PERMITTED),
    NRV_NAMED(CKR_KEY_NOT_WRAPPABLE),
    NRV_NAMED(CKR_KEY_UNEXTRACTABLE),
    NRV_NAMED(CKR_MECHANISM_INVALID),
    NRV_NAMED(CKR_MECHANISM_PARAM_INVALID),
    NRV_NAMED(CKR_OBJECT_HANDLE_INVALID),
    NRV_NAMED(CKR_OPERATION_ACTIVE),
    NRV_NAMED(CKR_OPERATION_NOT_INITIALIZED),
    NRV_NAMED(CKR_PIN_INCORRECT),
    NRV_NAMED(CKR_PIN_INVALID),
    NRV_NAMED(CKR_PIN_LEN_RANGE),
    NRV_NAMED(CKR_PIN_EXPIRED),
    NRV_NAMED(CKR_PIN_LOCKED),
    NRV_NAMED(CKR_SESSION_CLOSED),
    NRV_NAMED(CKR_SESSION_HANDLE_INVALID),
    NRV_NAMED(CKR_SESSION_PARALLEL_NOT_SUPPORTED),
    NRV_NAMED(CKR_SESSION_READ_ONLY),
    NRV_NAMED(CKR_SESSION_EXISTS),
    NRV_NAMED(CKR_SESSION_READ_ONLY_EXISTS),
    NRV_NAMED(CKR_SESSION_READ_WRITE_SO_EXISTS),
    NRV_NAMED(CKR_SIGNATURE_INVALID),
    NRV_NAMED(CKR_SIGNATURE_LEN_RANGE),
    NRV_NAMED(CKR_TEMPLATE_INCOMPLETE),
    NRV_NAMED(CKR_TEMPLATE_INCONSISTENT),
    NRV_NAMED(CKR_TOKEN_NOT_PRESENT),
    NRV_NAMED(CKR_TOKEN_NOT_RECOGNIZED),
    NRV_NAMED(CKR_TOKEN_WRITE_PROTECTED),
    NRV_NAMED(CKR_UNWRAPPING_KEY_HANDLE_INVALID),
    NRV_NAMED(CKR_UNWRAPPING_KEY_SIZE_RANGE),
    NRV_NAMED(CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT),
    NRV_NAMED(CKR_USER_ALREADY_LOGGED_IN),
    NRV_NAMED(CKR_USER_NOT_LOGGED_IN),
    NRV_NAMED(CKR_USER_PIN_NOT_INITIALIZED),
    NRV_NAMED(CKR_USER_TYPE_INVALID),
    NRV_NAMED(CKR_USER_ANOTHER_ALREADY_LOGGED_IN),
    NRV_NAMED(CKR_USER_TOO_MANY_TYPES),
    NRV_NAMED(CKR_WRAPPED_KEY_INVALID),
    NRV_NAMED(CKR_WRAPPED_KEY_LEN_RANGE),
    NRV_NAMED(CKR_WRAPPING_KEY_HANDLE_INVALID),
    NRV_NAMED(CKR_WRAPPING_KEY_SIZE_RANGE),
    NRV_NAMED(CKR_WRAPPING_KEY_TYPE_INCONSISTENT),
    NRV_NAMED(CKR_RANDOM_SEED_NOT_SUPPORTED),
    NRV_NAMED(CKR_RANDOM_NO_RNG),
    NRV_NAMED(CKR_DOMAIN_PARAMS_INVALID),
    NRV_NAMED(CKR_BUFFER_TOO_SMALL),
    NRV_NAMED(CKR_SAVED_STATE_INVALID),
    NRV_NAMED(CKR_INFORMATION_SENSITIVE),
    NRV_NAMED(CKR_STATE_UNSAVEABLE),
    NRV_NAMED(CKR_CRYPTOKI_NOT_INITIALIZED),
    NRV_NAMED(CKR_CRYPTOKI_ALREADY_INITIALIZED),
    NRV_NAMED(CKR_MUTEX_BAD),
    NRV_NAMED(CKR_MUTEX_NOT_LOCKED),
    NRV_NAMED(CKR_FUNCTION_REJECTED),
};
static_assert(g_standardNames.size() == 84);

constexpr std::array g_tokenFlagNames = {
    NamedCode { CKF_RNG, "CKF_RNG" },
    NamedCode { CKF_WRITE_PROTECTED, "CKF_WRITE_PROTECTED" },
    NamedCode { CKF_LOGIN_REQUIRED, "CKF_LOGIN_REQUIRED" },
    NamedCode { CKF_USER_PIN_INITIALIZED, "CKF_USER_PIN_INITIALIZED" },
    NamedCode { CKF_RESTORE_KEY_NOT_NEEDED, "CKF_RESTORE_KEY_NOT_NEEDED" },
    NamedCode { CKF_CLOCK_ON_TOKEN, "CKF_CLOCK_ON_TOKEN" },
    NamedCode { CKF_PROTECTED_AUTHENTICATION_PATH, "CKF_PROTECTED_AUTHENTICATION_PATH" },
    NamedCode { CKF_DUAL_CRYPTO_OPERATIONS, "CKF_DUAL_CRYPTO_OPERATIONS" },
    NamedCode { CKF_TOKEN_INITIALIZED, "CKF_TOKEN_INITIALIZED" },
    NamedCode { CKF_SECONDARY_AUTHENTICATION, "CKF_SECONDARY_AUTHENTICATION" },
    NamedCode { CKF_USER_PIN_COUNT_LOW, "CKF_USER_PIN_COUNT_LOW" },
    NamedCode { CKF_USER_PIN_FINAL_TRY, "CKF_USER_PIN_FINAL_TRY" },
    NamedCode { CKF_USER_PIN_LOCKED, "CKF_USER_PIN_LOCKED" },
    NamedCode { CKF_USER_PIN_TO_BE_CHANGED, "CKF_USER_PIN_TO_BE_CHANGED" },
    NamedCode { CKF_SO_PIN_COUNT_LOW, "CKF_SO_PIN_COUNT_LOW" },
    NamedCode { CKF_SO_PIN_FINAL_TRY, "CKF_SO_PIN_FINAL_TRY" },
    NamedCode { CKF_SO_PIN_LOCKED, "CKF_SO_PIN_LOCKED" },
    NamedCode { CKF_SO_PIN_TO_BE_CHANGED, "CKF_SO_PIN_TO_BE_CHANGED" },
};

#undef NRV_NAMED

bool IsRetryCode(CK_RV code)
{
    return code >= NRV_CKR_PIN_RETRIES_MIN && code <= NRV_CKR_PIN_RETRIES_MAX;
}

// The context first, a blank and the sentence; either alone when the other
// is empty (a code without a sentence adds nothing to the context).
wxString JoinToContext(const wxString& context, const wxString& sentence)
{
    if (context.empty()) {
        return sentence;
    }
    if (sentence.empty()) {
        return context;
    }
    return wxString::Format(wxS("%s %s"), context, sentence);
}

wxString UnknownWithCode(const wxString& sentence, unsigned long code)
{
    // TRANSLATORS: %s is a sentence, %08X the error code in hex.
    return wxString::Format(_("%s [0x%08X]"), sentence, static_cast<unsigned int>(code));
}

// Sentences for the listed standard codes; empty for any other.
wxString StandardSentence(CK_RV code)
{
    switch (code) {
    case CKR_OK:
        return _("The function executed successfully.");
    case CKR_CANCEL:
        return _("The function was aborted.");
    case CKR_HOST_MEMORY:
        return _("The system has insufficient memory to perform the requested function.");
    case CKR_SLOT_ID_INVALID:
        return _("The specified slot ID is not valid.");
    case CKR_GENERAL_ERROR:
        return _("An unrecoverable error has occurred.");
    case CKR_FUNCTION_FAILED:
        return _("The requested function could not be performed.");
    case CKR_ARGUMENTS_BAD:
        return _("The arguments supplied to the function are inappropriate.");
    case CKR_NO_EVENT:
        return _("No new slot event has occurred.");
    case CKR_NEED_TO_CREATE_THREADS:
        return _("The library cannot work without creating its own threads.");
    case CKR_CANT_LOCK:
        return _("The requested type of locking is not available.");
    case CKR_ATTRIBUTE_READ_ONLY:
        return _("The attribute is read-only and cannot be set or modified.");
    case CKR_ATTRIBUTE_SENSITIVE:
        return _("The attribute is sensitive and cannot be revealed.");
    case CKR_ATTRIBUTE_TYPE_INVALID:
        return _("The attribute type is not valid.");
    case CKR_ATTRIBUTE_VALUE_INVALID:
        return _("An invalid value was specified for the attribute.");
    case CKR_DATA_INVALID:
        return _("The input data is invalid.");
    case CKR_DATA_LEN_RANGE:
        return _("The input data has an invalid length.");
    case CKR_DEVICE_ERROR:
        return _("Some problem has occurred with the token and/or slot.");
    case CKR_DEVICE_MEMORY:
        return _("The token does not have sufficient memory to perform the requested function.");
    case CKR_DEVICE_REMOVED:
        return _("The token was removed from its slot.");
    case CKR_ENCRYPTED_DATA_INVALID:
        return _("The encrypted input data is invalid.");
    case CKR_ENCRYPTED_DATA_LEN_RANGE:
        return _("The encrypted input data has an invalid length.");
    case CKR_FUNCTION_CANCELED:
        return _("The function was canceled in mid-execution.");
    case CKR_FUNCTION_NOT_PARALLEL:
        return _("There is no function executing in parallel in the session.");
    case CKR_FUNCTION_NOT_SUPPORTED:
        return _("The requested function is not supported by the Cryptoki library.");
    case CKR_KEY_HANDLE_INVALID:
        return _("The specified key handle is not valid.");
    case CKR_KEY_SIZE_RANGE:
        return _("The key size is outside the range supported for this operation.");
    case CKR_KEY_TYPE_INCONSISTENT:
        return _("The key type does not match the specified mechanism.");
    case CKR_KEY_NOT_NEEDED:
        return _("A key was supplied although none is needed.");
    case CKR_KEY_CHANGED:
        return _("The key is not the same key that was used before.");
    case CKR_KEY_NEEDED:
        return _("A key must be supplied for the session state to be restored.");
    case CKR_KEY_INDIGESTIBLE:
        return _("The value of the key cannot be digested.");
    case CKR_KEY_FUNCTION_NOT_PERMITTED:
        return _("The key's attributes do not allow the requested operation.");
    case CKR_KEY_NOT_WRAPPABLE:
        return _("The key cannot be wrapped.");
    case CKR_KEY_UNEXTRACTABLE:
        return _("The key is unextractable and cannot be wrapped.");
    case CKR_MECHANISM_INVALID:
        return _("An invalid mechanism was specified for the operation.");
    case CKR_MECHANISM_PARAM_INVALID:
        return _("Invalid parameters were supplied to the mechanism.");
    case CKR_OBJECT_HANDLE_INVALID:
        return _("The specified object handle is not valid.");
    case CKR_OPERATION_ACTIVE:
        return _("An operation is already active and prevents the requested one.");
    case CKR_OPERATION_NOT_INITIALIZED:
        return _("There is no active operation of the appropriate type in the session.");
    case CKR_PIN_INCORRECT:
        return _("The specified PIN is incorrect.");
    case CKR_PIN_INVALID:
        return _("The specified PIN has invalid characters in it.");
    case CKR_PIN_LEN_RANGE:
        return _("The specified PIN is too long or too short.");
    case CKR_PIN_EXPIRED:
        return _("The specified PIN has expired, and the requested operation cannot be carried out.");
    case CKR_PIN_LOCKED:
        return _("The specified PIN is \"locked\", and cannot be used.");
    case CKR_SESSION_CLOSED:
        return _("The session was closed during the execution of the function.");
    case CKR_SESSION_HANDLE_INVALID:
        return _("The specified session handle was invalid.");
    case CKR_SESSION_PARALLEL_NOT_SUPPORTED:
        return _("The token does not support parallel sessions.");
    case CKR_SESSION_READ_ONLY:
        return _("The session is read-only and cannot perform the requested action.");
    case CKR_SESSION_EXISTS:
        return _("A session with the token is already open, and so the token cannot be initialized.");
    case CKR_SESSION_READ_ONLY_EXISTS:
        return _("A read-only session already exists, and so the SO cannot be logged in.");
    case CKR_SESSION_READ_WRITE_SO_EXISTS:
        return _("A read/write SO session already exists, and so a read-only session cannot be opened.");
    case CKR_SIGNATURE_INVALID:
        return _("The provided signature or MAC is invalid.");
    case CKR_SIGNATURE_LEN_RANGE:
        return _("The provided signature or MAC has an invalid length.");
    case CKR_TEMPLATE_INCOMPLETE:
        return _("The template does not specify all the attributes needed to create the object.");
    case CKR_TEMPLATE_INCONSISTENT:
        return _("The template specifies conflicting attributes.");
    case CKR_TOKEN_NOT_PRESENT:
        return _("The token was not present in its slot.");
    case CKR_TOKEN_NOT_RECOGNIZED:
        return _("The Cryptoki library and/or slot does not recognize the token in the slot.");
    case CKR_TOKEN_WRITE_PROTECTED:
        return _("The token is write-protected, and so the requested action cannot be performed.");
    case CKR_UNWRAPPING_KEY_HANDLE_INVALID:
        return _("The key handle specified to unwrap another key is not valid.");
    case CKR_UNWRAPPING_KEY_SIZE_RANGE:
        return _("The size of the unwrapping key is outside the supported range.");
    case CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT:
        return _("The type of the unwrapping key does not match the specified mechanism.");
    case CKR_USER_ALREADY_LOGGED_IN:
        return _("The user is already logged in.");
    case CKR_USER_NOT_LOGGED_IN:
        return _("The desired action cannot be performed because the appropriate user is not logged in.");
    case CKR_USER_PIN_NOT_INITIALIZED:
        return _("The normal user's PIN has not yet been initialized.");
    case CKR_USER_TYPE_INVALID:
        return _("The specified user type is not valid.");
    case CKR_USER_ANOTHER_ALREADY_LOGGED_IN:
        return _("Another user is already logged in, and so this user cannot log in.");
    case CKR_USER_TOO_MANY_TYPES:
        return _("No more distinct users can be logged in to the token at the same time.");
    case CKR_WRAPPED_KEY_INVALID:
        return _("The provided wrapped key is not valid.");
    case CKR_WRAPPED_KEY_LEN_RANGE:
        return _("The provided wrapped key has an invalid length.");
    case CKR_WRAPPING_KEY_HANDLE_INVALID:
        return _("The key handle specified to wrap another key is not valid.");
    case CKR_WRAPPING_KEY_SIZE_RANGE:
        return _("The size of the wrapping key is outside the supported range.");
    case CKR_WRAPPING_KEY_TYPE_INCONSISTENT:
        return _("The type of the wrapping key does not match the specified mechanism.");
    case CKR_RANDOM_SEED_NOT_SUPPORTED:
        return _("The token''s random number generator does not accept seeding from an application.");
    case CKR_RANDOM_NO_RNG:
        return _("The token does not have a random number generator.");
    case CKR_DOMAIN_PARAMS_INVALID:
        return _("Invalid or unsupported domain parameters were supplied.");
    case CKR_BUFFER_TOO_SMALL:
        return _("The output of the function is too large to fit in the supplied buffer.");
    case CKR_SAVED_STATE_INVALID:
        return _("The supplied saved cryptographic operations state is invalid.");
    case CKR_INFORMATION_SENSITIVE:
        return _("The requested information is sensitive and cannot be revealed.");
    case CKR_STATE_UNSAVEABLE:
        return _("The cryptographic operations state of the session cannot be saved.");
    case CKR_CRYPTOKI_NOT_INITIALIZED:
        return _("The Cryptoki library has not been initialized.");
    case CKR_CRYPTOKI_ALREADY_INITIALIZED:
        return _("The Cryptoki library has already been initialized.");
    case CKR_MUTEX_BAD:
        return _("The supplied mutex object is invalid.");
    case CKR_MUTEX_NOT_LOCKED:
        return _("The supplied mutex object is not locked.");
    case CKR_FUNCTION_REJECTED:
        return _("The signature request is rejected by the user.");
    case NRV_CKR_CLEAR_CARD_DISABLED:
        return _("The zeroize user data function for the token has been permanently disabled.");
    default:
        return wxString();
    }
}

wxString RetryText(CK_RV code)
{
    switch (code) {
    case 1:
        return _("Only 1 attempt left.");
    case 2:
        return _("2 attempts left.");
    case 3:
        return _("3 attempts left.");
    case 4:
        return _("4 attempts left.");
    case 5:
        return _("5 attempts left.");
    case 6:
        return _("6 attempts left.");
    case 7:
        return _("7 attempts left.");
    case 8:
        return _("8 attempts left.");
    case 9:
        return _("9 attempts left.");
    case 10:
        return _("10 attempts left.");
    case 11:
        return _("11 attempts left.");
    case 12:
        return _("12 attempts left.");
    case 13:
        return _("13 attempts left.");
    case 14:
        return _("14 attempts left.");
    default:
        return wxString();
    }
}

wxString PINSentence(CK_RV code, bool isSO)
{
    const wxString base = isSO ? _("Incorrect SO PIN.") : _("Incorrect user PIN.");
    if (IsRetryCode(code)) {
        return base + wxS(" ") + RetryText(code);
    }
    switch (code) {
    case CKR_PIN_INCORRECT:
        return base + wxS(" ") + _("Please try again.");
    case CKR_PIN_LEN_RANGE:
        return isSO ? _("SO PIN is too long or too short.") : _("User PIN is too long or too short.");
    case CKR_PIN_LOCKED:
        return isSO ? _("SO PIN is locked and cannot be used.") : _("User PIN is locked and cannot be used.");
    default:
        return wxString();
    }
}

wxString CertificateSentence(CK_RV code)
{
    switch (code) {
    case CKR_DATA_INVALID:
        return _("The password is incorrect.");
    case CKR_DEVICE_MEMORY:
        return _("Token already has the maximum number of certificates.");
    case NRV_CKR_CERT_NOT_FOUND:
        return _("Certificate is not found.");
    case NRV_CKR_PUBLIC_KEY_NOT_FOUND:
        return _("Public key is not found.");
    case NRV_CKR_PRIVATE_KEY_NOT_FOUND:
        return _("Private key is not found.");
    case NRV_CKR_MATCHING_PUBLIC_KEY_MISSING:
        return _("Matching public key does not exist.");
    case NRV_CKR_MATCHING_PRIVATE_KEY_MISSING:
        return _("Matching private key does not exist.");
    case NRV_CKR_CERT_ID_INVALID:
        return _("Certificate ID is invalid.");
    case NRV_CKR_CERT_DATA_INVALID:
        return _("Certificate data is invalid.");
    case NRV_CKR_CERT_FILE_ATTRIBUTES_INVALID:
        return _("Certificate file has invalid attributes.");
    case NRV_CKR_FILE_OPEN_FAILED:
        return _("Unable to open the specified file.");
    default:
        return wxString();
    }
}

} // namespace

wxString GetResultName(CK_RV code, bool vendorReading)
{
    if (vendorReading) {
        if (IsRetryCode(code)) {
            char name[32];
            std::snprintf(name, sizeof name, "NRV_CKR_PIN_RETRIES_%02u", static_cast<unsigned int>(code));
            return wxString::FromAscii(name);
        }
        if (code == NRV_CKR_CLEAR_CARD_DISABLED) {
            return wxS("NRV_CKR_CLEAR_CARD_DISABLED");
        }
    }
    for (const NamedCode& entry : g_standardNames) {
        if (entry.code == code) {
            return wxString::FromAscii(entry.name);
        }
    }
    return wxString::Format(wxS("UNKNOWN ERROR 0x%08X"), static_cast<unsigned int>(code));
}

wxString GetResultMessage(CK_RV code, const wxString& context)
{
    wxString sentence = StandardSentence(code);
    if (sentence.empty()) {
        sentence = UnknownWithCode(_("An unknown Cryptoki error has occurred."), code);
    }
    return JoinToContext(context, sentence);
}

wxString GetPINResultMessage(CK_RV code, bool isSO, const wxString& context)
{
    return JoinToContext(context, PINSentence(code, isSO));
}

wxString GetCertificateResultMessage(CK_RV code, const wxString& context)
{
    return JoinToContext(context, CertificateSentence(code));
}

wxString GetSecretKeyResultMessage(CK_RV code, const wxString& context)
{
    const wxString sentence
        = code == CKR_DEVICE_MEMORY ? _("Token already has the maximum number of secret keys.") : wxString();
    return JoinToContext(context, sentence);
}

wxString FormatErrorCode(CK_RV code, const wxString& context)
{
    const wxString prefix = context.empty() ? wxString() : context + wxS(" ");
    // TRANSLATORS: the first %s is an optional context followed by a blank,
    // the second the word "Error", %08X the error code in hex.
    return wxString::Format(_("(%s%s: 0x%08X)"), prefix, _("Error"), static_cast<unsigned int>(code));
}

wxString AppendErrorCode(const wxString& message, CK_RV code, const wxString& context)
{
    return message + wxS(" ") + FormatErrorCode(code, context);
}

wxString GetThreadErrorMessage(int threadError, const wxString& context)
{
    wxString sentence;
    switch (threadError) {
    case 1:
        sentence = _("There were insufficient resources to create a new thread.");
        break;
    case 2:
        sentence = _("The thread is already running.");
        break;
    default:
        sentence = UnknownWithCode(
            _("An unknown thread error has occurred."), static_cast<unsigned int>(threadError));
        break;
    }
    return JoinToContext(context, sentence);
}

wxString GetTokenFlagsText(CK_FLAGS flags)
{
    wxString text;
    for (const NamedCode& entry : g_tokenFlagNames) {
        if ((flags & entry.code) != 0) {
            if (!text.empty()) {
                text += wxS(", ");
            }
            text += wxString::FromAscii(entry.name);
        }
    }
    return text;
}
