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

// A standard code, its name and its sentence (translated when shown).
struct ResultCode {
    CK_RV code;
    const char* name;
    const char* sentence;
};

#define NRV_RESULT(code, sentence)                                                                           \
    ResultCode                                                                                               \
    {                                                                                                        \
        code, #code, sentence                                                                                \
    }

// The standard codes the manager knows, in value order: one row each.
constexpr std::array g_standardResults = {
    NRV_RESULT(CKR_OK, wxTRANSLATE("The function executed successfully.")),
    NRV_RESULT(CKR_CANCEL, wxTRANSLATE("The function was aborted.")),
    NRV_RESULT(CKR_HOST_MEMORY,
        wxTRANSLATE("The system has insufficient memory to perform the requested function.")),
    NRV_RESULT(CKR_SLOT_ID_INVALID, wxTRANSLATE("The specified slot ID is not valid.")),
    NRV_RESULT(CKR_GENERAL_ERROR, wxTRANSLATE("An unrecoverable error has occurred.")),
    NRV_RESULT(CKR_FUNCTION_FAILED, wxTRANSLATE("The requested function could not be performed.")),
    NRV_RESULT(CKR_ARGUMENTS_BAD, wxTRANSLATE("The arguments supplied to the function are inappropriate.")),
    NRV_RESULT(CKR_NO_EVENT, wxTRANSLATE("No new slot event has occurred.")),
    NRV_RESULT(
        CKR_NEED_TO_CREATE_THREADS, wxTRANSLATE("The library cannot work without creating its own threads.")),
    NRV_RESULT(CKR_CANT_LOCK, wxTRANSLATE("The requested type of locking is not available.")),
    NRV_RESULT(
        CKR_ATTRIBUTE_READ_ONLY, wxTRANSLATE("The attribute is read-only and cannot be set or modified.")),
    NRV_RESULT(CKR_ATTRIBUTE_SENSITIVE, wxTRANSLATE("The attribute is sensitive and cannot be revealed.")),
    NRV_RESULT(CKR_ATTRIBUTE_TYPE_INVALID, wxTRANSLATE("The attribute type is not valid.")),
    NRV_RESULT(CKR_ATTRIBUTE_VALUE_INVALID, wxTRANSLATE("An invalid value was specified for the attribute.")),
    NRV_RESULT(CKR_DATA_INVALID, wxTRANSLATE("The input data is invalid.")),
    NRV_RESULT(CKR_DATA_LEN_RANGE, wxTRANSLATE("The input data has an invalid length.")),
    NRV_RESULT(CKR_DEVICE_ERROR, wxTRANSLATE("Some problem has occurred with the token and/or slot.")),
    NRV_RESULT(CKR_DEVICE_MEMORY,
        wxTRANSLATE("The token does not have sufficient memory to perform the requested function.")),
    NRV_RESULT(CKR_DEVICE_REMOVED, wxTRANSLATE("The token was removed from its slot.")),
    NRV_RESULT(CKR_ENCRYPTED_DATA_INVALID, wxTRANSLATE("The encrypted input data is invalid.")),
    NRV_RESULT(CKR_ENCRYPTED_DATA_LEN_RANGE, wxTRANSLATE("The encrypted input data has an invalid length.")),
    NRV_RESULT(CKR_FUNCTION_CANCELED, wxTRANSLATE("The function was canceled in mid-execution.")),
    NRV_RESULT(
        CKR_FUNCTION_NOT_PARALLEL, wxTRANSLATE("There is no function executing in parallel in the session.")),
    NRV_RESULT(CKR_FUNCTION_NOT_SUPPORTED,
        wxTRANSLATE("The requested function is not supported by the Cryptoki library.")),
    NRV_RESULT(CKR_KEY_HANDLE_INVALID, wxTRANSLATE("The specified key handle is not valid.")),
    NRV_RESULT(
        CKR_KEY_SIZE_RANGE, wxTRANSLATE("The key size is outside the range supported for this operation.")),
    NRV_RESULT(
        CKR_KEY_TYPE_INCONSISTENT, wxTRANSLATE("The key type does not match the specified mechanism.")),
    NRV_RESULT(CKR_KEY_NOT_NEEDED, wxTRANSLATE("A key was supplied although none is needed.")),
    NRV_RESULT(CKR_KEY_CHANGED, wxTRANSLATE("The key is not the same key that was used before.")),
    NRV_RESULT(CKR_KEY_NEEDED, wxTRANSLATE("A key must be supplied for the session state to be restored.")),
    NRV_RESULT(CKR_KEY_INDIGESTIBLE, wxTRANSLATE("The value of the key cannot be digested.")),
    NRV_RESULT(CKR_KEY_FUNCTION_NOT_PERMITTED,
        wxTRANSLATE("The key's attributes do not allow the requested operation.")),
    NRV_RESULT(CKR_KEY_NOT_WRAPPABLE, wxTRANSLATE("The key cannot be wrapped.")),
    NRV_RESULT(CKR_KEY_UNEXTRACTABLE, wxTRANSLATE("The key is unextractable and cannot be wrapped.")),
    NRV_RESULT(CKR_MECHANISM_INVALID, wxTRANSLATE("An invalid mechanism was specified for the operation.")),
    NRV_RESULT(
        CKR_MECHANISM_PARAM_INVALID, wxTRANSLATE("Invalid parameters were supplied to the mechanism.")),
    NRV_RESULT(CKR_OBJECT_HANDLE_INVALID, wxTRANSLATE("The specified object handle is not valid.")),
    NRV_RESULT(
        CKR_OPERATION_ACTIVE, wxTRANSLATE("An operation is already active and prevents the requested one.")),
    NRV_RESULT(CKR_OPERATION_NOT_INITIALIZED,
        wxTRANSLATE("There is no active operation of the appropriate type in the session.")),
    NRV_RESULT(CKR_PIN_INCORRECT, wxTRANSLATE("The specified PIN is incorrect.")),
    NRV_RESULT(CKR_PIN_INVALID, wxTRANSLATE("The specified PIN has invalid characters in it.")),
    NRV_RESULT(CKR_PIN_LEN_RANGE, wxTRANSLATE("The specified PIN is too long or too short.")),
    NRV_RESULT(CKR_PIN_EXPIRED,
        wxTRANSLATE("The specified PIN has expired, and the requested operation cannot be carried out.")),
    NRV_RESULT(CKR_PIN_LOCKED, wxTRANSLATE("The specified PIN is \"locked\", and cannot be used.")),
    NRV_RESULT(
        CKR_SESSION_CLOSED, wxTRANSLATE("The session was closed during the execution of the function.")),
    NRV_RESULT(CKR_SESSION_HANDLE_INVALID, wxTRANSLATE("The specified session handle was invalid.")),
    NRV_RESULT(
        CKR_SESSION_PARALLEL_NOT_SUPPORTED, wxTRANSLATE("The token does not support parallel sessions.")),
    NRV_RESULT(CKR_SESSION_READ_ONLY,
        wxTRANSLATE("The session is read-only and cannot perform the requested action.")),
    NRV_RESULT(CKR_SESSION_EXISTS,
        wxTRANSLATE("A session with the token is already open, and so the token cannot be initialized.")),
    NRV_RESULT(CKR_SESSION_READ_ONLY_EXISTS,
        wxTRANSLATE("A read-only session already exists, and so the SO cannot be logged in.")),
    NRV_RESULT(CKR_SESSION_READ_WRITE_SO_EXISTS,
        wxTRANSLATE("A read/write SO session already exists, and so a read-only session cannot be opened.")),
    NRV_RESULT(CKR_SIGNATURE_INVALID, wxTRANSLATE("The provided signature or MAC is invalid.")),
    NRV_RESULT(CKR_SIGNATURE_LEN_RANGE, wxTRANSLATE("The provided signature or MAC has an invalid length.")),
    NRV_RESULT(CKR_TEMPLATE_INCOMPLETE,
        wxTRANSLATE("The template does not specify all the attributes needed to create the object.")),
    NRV_RESULT(CKR_TEMPLATE_INCONSISTENT, wxTRANSLATE("The template specifies conflicting attributes.")),
    NRV_RESULT(CKR_TOKEN_NOT_PRESENT, wxTRANSLATE("The token was not present in its slot.")),
    NRV_RESULT(CKR_TOKEN_NOT_RECOGNIZED,
        wxTRANSLATE("The Cryptoki library and/or slot does not recognize the token in the slot.")),
    NRV_RESULT(CKR_TOKEN_WRITE_PROTECTED,
        wxTRANSLATE("The token is write-protected, and so the requested action cannot be performed.")),
    NRV_RESULT(CKR_UNWRAPPING_KEY_HANDLE_INVALID,
        wxTRANSLATE("The key handle specified to unwrap another key is not valid.")),
    NRV_RESULT(CKR_UNWRAPPING_KEY_SIZE_RANGE,
        wxTRANSLATE("The size of the unwrapping key is outside the supported range.")),
    NRV_RESULT(CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT,
        wxTRANSLATE("The type of the unwrapping key does not match the specified mechanism.")),
    NRV_RESULT(CKR_USER_ALREADY_LOGGED_IN, wxTRANSLATE("The user is already logged in.")),
    NRV_RESULT(CKR_USER_NOT_LOGGED_IN,
        wxTRANSLATE("The desired action cannot be performed because the appropriate user is not logged in.")),
    NRV_RESULT(
        CKR_USER_PIN_NOT_INITIALIZED, wxTRANSLATE("The normal user's PIN has not yet been initialized.")),
    NRV_RESULT(CKR_USER_TYPE_INVALID, wxTRANSLATE("The specified user type is not valid.")),
    NRV_RESULT(CKR_USER_ANOTHER_ALREADY_LOGGED_IN,
        wxTRANSLATE("Another user is already logged in, and so this user cannot log in.")),
    NRV_RESULT(CKR_USER_TOO_MANY_TYPES,
        wxTRANSLATE("No more distinct users can be logged in to the token at the same time.")),
    NRV_RESULT(CKR_WRAPPED_KEY_INVALID, wxTRANSLATE("The provided wrapped key is not valid.")),
    NRV_RESULT(CKR_WRAPPED_KEY_LEN_RANGE, wxTRANSLATE("The provided wrapped key has an invalid length.")),
    NRV_RESULT(CKR_WRAPPING_KEY_HANDLE_INVALID,
        wxTRANSLATE("The key handle specified to wrap another key is not valid.")),
    NRV_RESULT(CKR_WRAPPING_KEY_SIZE_RANGE,
        wxTRANSLATE("The size of the wrapping key is outside the supported range.")),
    NRV_RESULT(CKR_WRAPPING_KEY_TYPE_INCONSISTENT,
        wxTRANSLATE("The type of the wrapping key does not match the specified mechanism.")),
    NRV_RESULT(CKR_RANDOM_SEED_NOT_SUPPORTED,
        wxTRANSLATE("The token''s random number generator does not accept seeding from an application.")),
    NRV_RESULT(CKR_RANDOM_NO_RNG, wxTRANSLATE("The token does not have a random number generator.")),
    NRV_RESULT(
        CKR_DOMAIN_PARAMS_INVALID, wxTRANSLATE("Invalid or unsupported domain parameters were supplied.")),
    NRV_RESULT(CKR_BUFFER_TOO_SMALL,
        wxTRANSLATE("The output of the function is too large to fit in the supplied buffer.")),
    NRV_RESULT(CKR_SAVED_STATE_INVALID,
        wxTRANSLATE("The supplied saved cryptographic operations state is invalid.")),
    NRV_RESULT(CKR_INFORMATION_SENSITIVE,
        wxTRANSLATE("The requested information is sensitive and cannot be revealed.")),
    NRV_RESULT(CKR_STATE_UNSAVEABLE,
        wxTRANSLATE("The cryptographic operations state of the session cannot be saved.")),
    NRV_RESULT(CKR_CRYPTOKI_NOT_INITIALIZED, wxTRANSLATE("The Cryptoki library has not been initialized.")),
    NRV_RESULT(
        CKR_CRYPTOKI_ALREADY_INITIALIZED, wxTRANSLATE("The Cryptoki library has already been initialized.")),
    NRV_RESULT(CKR_MUTEX_BAD, wxTRANSLATE("The supplied mutex object is invalid.")),
    NRV_RESULT(CKR_MUTEX_NOT_LOCKED, wxTRANSLATE("The supplied mutex object is not locked.")),
    NRV_RESULT(CKR_FUNCTION_REJECTED, wxTRANSLATE("The signature request is rejected by the user.")),
};
static_assert(g_standardResults.size() == 84);

#undef NRV_RESULT

const ResultCode* FindStandard(CK_RV code)
{
    for (const ResultCode& entry : g_standardResults) {
        if (entry.code == code) {
            return &entry;
        }
    }
    return nullptr;
}

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

// Sentences for the listed codes; empty for any other.
wxString StandardSentence(CK_RV code)
{
    if (code == NRV_CKR_CLEAR_CARD_DISABLED) {
        return _("The zeroize user data function for the token has been permanently disabled.");
    }
    const ResultCode* entry = FindStandard(code);
    return entry != nullptr ? wxGetTranslation(entry->sentence) : wxString();
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
    if (const ResultCode* entry = FindStandard(code)) {
        return wxString::FromAscii(entry->name);
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
