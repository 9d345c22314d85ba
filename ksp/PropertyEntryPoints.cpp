// The provider's and the keys' named properties: what they answer, what
// they accept, and "SmartCardKeyCertificate", which stores a certificate on
// the token beside its key pair.
#include "ksp/CryptokiObject.h"
#include "ksp/EntryFrame.h"
#include "ksp/KeyCertificate.h"
#include "ksp/LoginToToken.h"
#include "ksp/RecordBuffers.h"
#include "ksp/Records.h"
#include "ksp/abi/Exports.h"
#include "platform/cng/WideText.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

using namespace vela5::platform;

namespace {

constexpr std::size_t NCRYPT_MAX_PROPERTY_NAME = 64;
constexpr DWORD NCRYPT_PERSIST_FLAG = 0x80000000;
constexpr DWORD NCRYPT_PERSIST_ONLY_FLAG = 0x40000000;
constexpr DWORD kImplType = 0x19; // hardware | removable | hardware RNG
constexpr DWORD kMaxNameLength = 64;
constexpr DWORD kVersion = 0x01000100;
constexpr std::size_t kMaxKeyNameBytes = 128; // VELA5KSP_MAX_NAME_LEN characters

struct SupportedLengths {
    DWORD dwMinLength;
    DWORD dwMaxLength;
    DWORD dwIncrement;
    DWORD dwDefaultLength;
};

// Longer than NCRYPT_MAX_PROPERTY_NAME characters; never reads past 65.
bool TooLong(LPCWSTR name)
{
    return Cng::WideLength(name, NCRYPT_MAX_PROPERTY_NAME + 1) > NCRYPT_MAX_PROPERTY_NAME;
}

std::u16string_view NameOf(LPCWSTR name)
{
    return std::u16string_view(name, Cng::WideLength(name, NCRYPT_MAX_PROPERTY_NAME + 1));
}

std::vector<BYTE> DwordValue(DWORD value)
{
    std::vector<BYTE> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

// A text with its terminator, (length + 1) x 2 bytes.
std::vector<BYTE> TextValue(LPCWSTR text)
{
    const std::size_t units = Cng::WideLength(text) + 1;
    std::vector<BYTE> bytes(units * sizeof(char16_t));
    std::memcpy(bytes.data(), text, bytes.size());
    return bytes;
}

// The output rule both Get entry points share: a length query, a short
// buffer, or the copy. *pcbResult already holds the size.
SECURITY_STATUS CopyOut(const std::vector<BYTE>& value, PBYTE output, DWORD cbOutput)
{
    if (cbOutput < value.size()) {
        return NTE_BUFFER_TOO_SMALL;
    }
    std::memcpy(output, value.data(), value.size());
    return ERROR_SUCCESS;
}

SECURITY_STATUS SetWindowHandle(
    EntryFrame& frame, ProviderContext* provider, const BYTE* input, DWORD cbInput)
{
    EntryLog().Write("dwProperty = NCRYPT_WINDOW_HANDLE_PROPERTY");
    if (cbInput > sizeof(HWND)) {
        return frame.Fail(
            NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: cbInput is greater than the size of HWND");
    }
    // Only the bytes given change: 4 bytes replace the low half.
    std::memcpy(&provider->hWnd, input, cbInput);
    EntryLog().WriteHex("Window handle set: ", static_cast<const void*>(provider->hWnd));
    return ERROR_SUCCESS;
}

SECURITY_STATUS SetCertificate(
    EntryFrame& frame, ProviderContext* provider, KeyContext* key, const BYTE* input, DWORD cbInput)
{
    EntryLog().Write("dwProperty = NCRYPT_CERTIFICATE_PROPERTY");
    if (key->fFinished == 0) {
        return frame.Fail(NTE_BAD_KEY_STATE, "Key referenced by hKey is not yet finalized.");
    }
    if (key->hPublicKey == 0 && key->hPrivateKey == 0) {
        return frame.Fail(NTE_BAD_KEY_STATE, "Key referenced by hKey does not contain any key handle");
    }
    // The private key's CKA_ID is read: the token shows it to the User only.
    const SECURITY_STATUS login = LoginIfRequired(provider);
    if (login != ERROR_SUCCESS) {
        return frame.Fail(login, "Failed to login. Operation aborted");
    }
    EntryLog().Write("Setting crypto interface pointer");
    EntryLog().Write("Setting session handle");
    Certificate stored(&Cryptoki(), provider->hSession);
    EntryLog().Write("Setting public key handle");
    stored.publicKey = key->hPublicKey;
    stored.hasPublicKey = key->hPublicKey != 0;
    EntryLog().Write("Setting private key handle");
    stored.privateKey = key->hPrivateKey;
    stored.hasPrivateKey = key->hPrivateKey != 0;
    EntryLog().Write("Checking if certificate already exists");
    const SECURITY_STATUS exists = CertificateExists(stored);
    if (exists == NTE_EXISTS) {
        return frame.Fail(NTE_EXISTS, "NTE_EXISTS: A certificate already exists for the selected key pair");
    }
    if (exists != NTE_NOT_FOUND) {
        return frame.Fail(
            exists, "NTE_INTERNAL_ERROR: An internal error occured. Check PKCS logs for more information");
    }
    EntryLog().Write("No certificate has been found for this key");
    EntryLog().Write("Setting certificate");
    return StoreCertificate(stored, input, cbInput);
}

} // namespace

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPGetProviderProperty(NCRYPT_PROV_HANDLE hProvider,
    LPCWSTR pszProperty, PBYTE pbOutput, DWORD cbOutput, DWORD* pcbResult, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPGetProviderProperty", 11, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Wide("pszProperty", pszProperty);
        frame.Hex("pbOutput", static_cast<const void*>(pbOutput));
        frame.Hex("cbOutput", cbOutput);
        frame.Hex("pcbResult", static_cast<const void*>(pcbResult));
        frame.Hex("dwFlags", dwFlags);
        if (pcbResult != nullptr) {
            *pcbResult = 0;
        }
        SECURITY_STATUS result = ERROR_SUCCESS;
        ProviderContext* provider = CheckProvider(frame, hProvider, result);
        if (provider == nullptr) {
            return result;
        }
        if (pszProperty == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pszProperty is NULL");
        }
        if (pcbResult == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pcbResult is NULL");
        }
        if (TooLong(pszProperty)) {
            return frame.Fail(NTE_INVALID_PARAMETER,
                "NTE_INVALID_PARAMETER: pszProperty length is greater than NCRYPT_MAX_PROPERTY_NAME");
        }
        if (dwFlags != 0 && dwFlags != NCRYPT_SILENT_FLAG) {
            return frame.Fail(NTE_BAD_FLAGS, "NTE_BAD_FLAGS: Only NCRYPT_SILENT_FLAG is an acceptable value");
        }
        const std::u16string_view name = NameOf(pszProperty);
        std::vector<BYTE> value;
        if (name == u"Impl Type") {
            value = DwordValue(kImplType);
        } else if (name == u"Max Name Length") {
            value = DwordValue(kMaxNameLength);
        } else if (name == u"Name") {
            value = TextValue(provider->pszProviderName);
        } else if (name == u"Version") {
            value = DwordValue(kVersion);
        } else if (name == u"Use Context") {
            if (provider->pszContext == nullptr) {
                return frame.Done(NTE_INTERNAL_ERROR);
            }
            value = TextValue(provider->pszContext);
        } else if (name == u"Security Descr Support") {
            value = DwordValue(0);
        } else {
            return frame.Fail(NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: pszProperty is not supported");
        }
        *pcbResult = static_cast<DWORD>(value.size());
        if (pbOutput == nullptr) {
            EntryLog().Write("pbOutput is NULL, property length query succeeded.");
            return ERROR_SUCCESS;
        }
        if (CopyOut(value, pbOutput, cbOutput) != ERROR_SUCCESS) {
            return frame.Fail(NTE_BUFFER_TOO_SMALL, "NTE_BUFFER_TOO_SMALL: cbOutput is less than cbResult");
        }
        return ERROR_SUCCESS;
    });
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPSetProviderProperty(
    NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszProperty, PBYTE pbInput, DWORD cbInput, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPSetProviderProperty", 11, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Wide("pszProperty", pszProperty);
        frame.Hex("pbInput", static_cast<const void*>(pbInput));
        frame.Hex("cbInput", cbInput);
        frame.Hex("dwFlags", dwFlags);
        SECURITY_STATUS result = ERROR_SUCCESS;
        ProviderContext* provider = CheckProvider(frame, hProvider, result);
        if (provider == nullptr) {
            return result;
        }
        if (pszProperty == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pszProperty is NULL");
        }
        if (TooLong(pszProperty)) {
            return frame.Fail(NTE_INVALID_PARAMETER,
                "NTE_INVALID_PARAMETER: The length of pszProperty is greater than NCRYPT_MAX_PROPERTY_NAME");
        }
        if (pbInput == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pbInput is NULL");
        }
        if ((dwFlags & NCRYPT_PERSIST_ONLY_FLAG) != 0) {
            return frame.Fail(
                NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: NCRYPT_PERSIST_ONLY_FLAG is currently not supported");
        }
        if (dwFlags != 0 && dwFlags != NCRYPT_SILENT_FLAG) {
            return frame.Fail(NTE_BAD_FLAGS, "NTE_BAD_FLAGS: Only NCRYPT_SILENT_FLAG is currently supported");
        }
        const std::u16string_view name = NameOf(pszProperty);
        if (name == u"Impl Type" || name == u"Max Name Length" || name == u"Security Descr Support"
            || name == u"Version" || name == u"Name") {
            return frame.Fail(NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: The specified property is read-only");
        }
        if (name == u"Use Context") {
            // cbInput characters for cbInput bytes: the copy always ends in zeros.
            auto* context = new char16_t[cbInput + 1]();
            std::memcpy(context, pbInput, cbInput);
            delete[] provider->pszContext;
            provider->pszContext = context;
            return ERROR_SUCCESS;
        }
        if (name == u"HWND Handle") {
            return SetWindowHandle(frame, provider, pbInput, cbInput);
        }
        return frame.Fail(NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: pszProperty is not supported");
    });
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPGetKeyProperty(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
    LPCWSTR pszProperty, PBYTE pbOutput, DWORD cbOutput, DWORD* pcbResult, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPGetKeyProperty", 11, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Hex("hKey", hKey);
        frame.Wide("pszProperty", pszProperty);
        frame.Hex("pbOutput", static_cast<const void*>(pbOutput));
        frame.Hex("cbOutput", cbOutput);
        frame.Hex("pcbResult", static_cast<const void*>(pcbResult));
        frame.Hex("dwFlags", dwFlags);
        if (pcbResult != nullptr) {
            *pcbResult = 0;
        }
        if (ValidateProvider(hProvider) == nullptr) {
            return frame.Fail(
                NTE_INVALID_HANDLE, "NTE_INVALID_HANDLE: Invalid provider handle, pProvider is NULL");
        }
        KeyContext* key = ValidateKey(hKey);
        if (key == nullptr) {
            return frame.Fail(NTE_INVALID_HANDLE, "NTE_INVALID_HANDLE: Invalid key handle, pKey is NULL");
        }
        if (pszProperty == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pszProperty is NULL");
        }
        if (TooLong(pszProperty)) {
            return frame.Fail(NTE_INVALID_PARAMETER,
                "NTE_INVALID_PARAMETER: Length of pszProperty is longer than NCRYPT_MAX_PROPERTY_NAME");
        }
        if (pcbResult == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pcbResult is NULL");
        }
        if ((dwFlags & NCRYPT_PERSIST_ONLY_FLAG) != 0) {
            return frame.Done(NTE_NOT_SUPPORTED);
        }
        const std::u16string_view name = NameOf(pszProperty);
        std::vector<BYTE> value;
        const char* line = nullptr;
        if (name == u"Algorithm Name" || name == u"Algorithm Group") {
            value = TextValue(u"RSA");
            line = name == u"Algorithm Name" ? "dwProperty = VELA5KSP_ALGORITHM_PROPERTY"
                                             : "dwProperty = VELA5KSP_ALGORITHM_GROUP_PROPERTY";
        } else if (name == u"Block Length") {
            value = DwordValue((key->dwKeyLength + 7) / 8);
            line = "dwProperty = VELA5KSP_BLOCK_LENGTH_PROPERTY";
        } else if (name == u"Export Policy") {
            value = DwordValue(key->dwExportPolicy);
            line = "dwProperty = VELA5KSP_EXPORT_POLICY_PROPERTY";
        } else if (name == u"Key Usage") {
            value = DwordValue(key->dwKeyUsage);
            line = "dwProperty = VELA5KSP_KEY_USAGE_PROPERTY";
        } else if (name == u"Key Type") {
            value = DwordValue(0);
            line = "dwProperty = VELA5KSP_KEY_TYPE_PROPERTY";
        } else if (name == u"Length") {
            value = DwordValue(key->dwKeyLength);
            line = "dwProperty = VELA5KSP_LENGTH_PROPERTY";
        } else if (name == u"Lengths") {
            const SupportedLengths lengths = { 512, 4096, 512, 2048 };
            value.resize(sizeof lengths);
            std::memcpy(value.data(), &lengths, sizeof lengths);
            line = "dwProperty = VELA5KSP_LENGTHS_PROPERTY";
        } else if ((name == u"Name" || name == u"Unique Name") && key->pszKeyName != nullptr) {
            value = TextValue(key->pszKeyName);
            line = name == u"Name" ? "dwProperty = VELA5KSP_NAME_PROPERTY"
                                   : "dwProperty = VELA5KSP_UNIQUE_NAME_PROPERTY";
        } else {
            // Unknown names, "Security Descr", a nameless key's names, and
            // the certificate, which is only ever written.
            return frame.Done(NTE_NOT_SUPPORTED);
        }
        *pcbResult = static_cast<DWORD>(value.size());
        if (pbOutput == nullptr) {
            return ERROR_SUCCESS;
        }
        if (CopyOut(value, pbOutput, cbOutput) != ERROR_SUCCESS) {
            return frame.Done(NTE_BUFFER_TOO_SMALL);
        }
        EntryLog().Write(line);
        return ERROR_SUCCESS;
    });
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPSetKeyProperty(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
    LPCWSTR pszProperty, PBYTE pbInput, DWORD cbInput, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPSetKeyProperty", 11, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Hex("hKey", hKey);
        frame.Wide("pszProperty", pszProperty);
        frame.Hex("pbInput", static_cast<const void*>(pbInput));
        frame.Hex("cbInput", cbInput);
        frame.Hex("dwFlags", dwFlags);
        SECURITY_STATUS result = ERROR_SUCCESS;
        ProviderContext* provider = nullptr;
        KeyContext* key = nullptr;
        if (!CheckHandles(frame, hProvider, hKey, provider, key, result)) {
            return result;
        }
        if (pszProperty == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pszProperty is NULL");
        }
        if (TooLong(pszProperty)) {
            return frame.Fail(NTE_INVALID_PARAMETER,
                "NTE_INVALID_PARAMETER: pszProperty is exceeds NCRYPT_MAX_PROPERTY_NAME");
        }
        if (pbInput == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pbInput is NULL");
        }
        const std::u16string_view name = NameOf(pszProperty);
        if (name != u"Security Descr" && (dwFlags & ~(NCRYPT_PERSIST_FLAG | NCRYPT_PERSIST_ONLY_FLAG)) != 0) {
            return frame.Fail(NTE_BAD_FLAGS, "NTE_BAD_FLAGS: dwFlags contains an invalid flag");
        }
        if (name == u"Key Usage" || name == u"Length") {
            EntryLog().Write(name == u"Key Usage" ? "dwProperty = NCRYPT_KEY_USAGE_PROPERTY"
                                                  : "dwProperty = NCRYPT_LENGTH_PROPERTY");
            if (cbInput != sizeof(DWORD)) {
                return frame.Fail(NTE_BAD_DATA, "cbInput != sizeof(DWORD)");
            }
            if (key->fFinished != 0) {
                return frame.Fail(NTE_BAD_KEY_STATE, "pKey->fFinished == TRUE");
            }
            DWORD value = 0;
            std::memcpy(&value, pbInput, sizeof value);
            if (name == u"Key Usage") {
                key->dwKeyUsage = value;
                return ERROR_SUCCESS;
            }
            if (value < 512 || value > 4096 || value % 512 != 0) {
                return frame.Fail(NTE_NOT_SUPPORTED, "specified length is invalid");
            }
            key->dwKeyLength = value;
            return ERROR_SUCCESS;
        }
        if (name == u"Name") {
            EntryLog().Write("dwProperty = NCRYPT_NAME_PROPERTY");
            if (cbInput >= kMaxKeyNameBytes) {
                return frame.Fail(NTE_BAD_DATA, "cbInput >= (VELA5KSP_MAX_NAME_LEN*sizeof(WCHAR))");
            }
            if (cbInput % 2 != 0) {
                return frame.Fail(NTE_BAD_DATA, "(cbInput % 2)");
            }
            const std::size_t units = cbInput / sizeof(char16_t);
            auto* renamed = new (std::nothrow) char16_t[units + 1]();
            if (renamed == nullptr) {
                return frame.Done(NTE_NO_MEMORY);
            }
            std::memcpy(renamed, pbInput, cbInput);
            WipeAndRelease(key->pszKeyName);
            key->pszKeyName = renamed;
            key->cbKeyName = static_cast<DWORD>(units);
            EntryLog().WriteWide("pKey->pszKeyName = ", key->pszKeyName);
            EntryLog().WriteInt("pKey->cbKeyName = ", static_cast<long>(key->cbKeyName));
            return ERROR_SUCCESS;
        }
        if (name == u"SmartCardKeyCertificate") {
            return SetCertificate(frame, provider, key, pbInput, cbInput);
        }
        if (name == u"UI Policy") {
            EntryLog().Write("NCRYPT_UI_POLICY is not supported and will be ignored");
            return ERROR_SUCCESS;
        }
        if (name == u"Export Policy") {
            EntryLog().Write("NCRYPT_EXPORT_POLICY_PROPERTY is not supported and will be ignored");
            return ERROR_SUCCESS;
        }
        if (name == u"HWND Handle") {
            return SetWindowHandle(frame, provider, pbInput, cbInput);
        }
        return frame.Done(NTE_NOT_SUPPORTED);
    });
}
