// VELA5KSPEnumKeys, VELA5KSPOpenKey, VELA5KSPFreeKey and VELA5KSPDeleteKey:
// the token's keys by name.
#include "ksp/CryptokiObject.h"
#include "ksp/EntryFrame.h"
#include "ksp/KeyObjects.h"
#include "ksp/LoginToToken.h"
#include "ksp/Records.h"
#include "ksp/abi/Exports.h"
#include "platform/cng/WideText.h"

#include <cstring>
#include <new>
#include <string>

using namespace vela5::platform;

namespace {

constexpr DWORD AT_KEYEXCHANGE = 1;
constexpr DWORD AT_SIGNATURE = 2;

// The flag checks enumeration and open share, with their lines.
bool FlagsAllowed(EntryFrame& frame, DWORD flags, SECURITY_STATUS& result)
{
    if ((flags & ~(NCRYPT_MACHINE_KEY_FLAG | NCRYPT_SILENT_FLAG)) != 0) {
        result = frame.Fail(NTE_BAD_FLAGS,
            "NTE_BAD_FLAGS: ((dwFlags & ~(NCRYPT_MACHINE_KEY_FLAG | NCRYPT_SILENT_FLAG)) != 0) ");
        return false;
    }
    if ((flags & NCRYPT_MACHINE_KEY_FLAG) != 0) {
        result = frame.Fail(NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED:  (dwFlags & NCRYPT_MACHINE_KEY_FLAG) ");
        return false;
    }
    return true;
}

void ReleaseKeyRecord(KeyContext* key)
{
    ReleaseKeyBuffers(*key);
    std::memset(static_cast<void*>(key), 0, sizeof *key);
    delete key;
}

} // namespace

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPEnumKeys(NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszScope,
    NCryptKeyName** ppKeyName, PVOID* ppEnumState, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPEnumKeys", 11, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        // The scope is not looked at.
        (void)pszScope;
        EntryLog().Write("pszScope     : NULL");
        frame.Hex("ppKeyName", static_cast<const void*>(ppKeyName));
        frame.Hex("ppEnumState", static_cast<const void*>(ppEnumState));
        frame.Hex("dwFlags", dwFlags);
        ProviderContext* provider = ValidateProvider(hProvider);
        if (provider == nullptr) {
            return frame.Fail(NTE_INVALID_HANDLE, "NTE_INVALID_HANDLE: pProvider == NULL ");
        }
        if (ppKeyName == nullptr || ppEnumState == nullptr) {
            return frame.Fail(
                NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: ppKeyName == NULL || ppEnumState == NULL ");
        }
        SECURITY_STATUS result = ERROR_SUCCESS;
        if (!FlagsAllowed(frame, dwFlags, result)) {
            return result;
        }
        auto* state = static_cast<EnumState*>(*ppEnumState);
        if (state == nullptr) {
            EntryLog().Write("EnumState is null");
            const SECURITY_STATUS loaded = InitializeObjectList(provider);
            if (loaded != ERROR_SUCCESS) {
                return frame.Fail(loaded, "LoadTokenKeys error ");
            }
        } else {
            EntryLog().Write("EnumState is initialized");
        }
        NCryptKeyName* name = nullptr;
        result = ReadKeyNameFromKeyObjectList(provider, state, name);
        if (result == ERROR_SUCCESS) {
            *ppEnumState = state;
            *ppKeyName = name;
        }
        return result;
    });
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPOpenKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE* phKey,
    LPCWSTR pszKeyName, DWORD dwLegacyKeySpec, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPOpenKey", 15, true, ExitStyle::NoColon);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Hex("phKey", static_cast<const void*>(phKey));
        frame.Wide("pszKeyName", pszKeyName);
        frame.Hex("dwLegacyKeySpec", dwLegacyKeySpec);
        frame.Hex("dwFlags", dwFlags);
        SECURITY_STATUS result = ERROR_SUCCESS;
        ProviderContext* provider = CheckProvider(frame, hProvider, result);
        if (provider == nullptr) {
            return result;
        }
        if (phKey == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: phKey is NULL");
        }
        if (pszKeyName == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pszKeyName is NULL");
        }
        if ((dwLegacyKeySpec & ~(AT_KEYEXCHANGE | AT_SIGNATURE)) != 0) {
            return frame.Fail(NTE_INVALID_PARAMETER,
                "NTE_INVALID_PARAMETER: ((dwLegacyKeySpec & ~(AT_KEYEXCHANGE | AT_SIGNATURE)) != 0) ");
        }
        if (!FlagsAllowed(frame, dwFlags, result)) {
            return result;
        }
        EntryLog().Write("Parsing key name...");
        std::u16string keyName;
        const std::u16string_view whole(pszKeyName, Cng::WideLength(pszKeyName));
        const std::u16string_view reader = provider->pszReaderName != nullptr
            ? std::u16string_view(provider->pszReaderName)
            : std::u16string_view();
        const std::size_t at = reader.empty() ? std::u16string_view::npos : whole.find(reader);
        if (at == std::u16string_view::npos) {
            keyName = whole;
        } else {
            EntryLog().WriteWide("Reader name found on key name: ", provider->pszReaderName);
            EntryLog().WriteWide("wstrKeyID: ", pszKeyName);
            EntryLog().WriteInt("ReaderName length: ", static_cast<long>(reader.size()));
            EntryLog().WriteInt("Position: ", static_cast<long>(at));
            // The character after the reader name separates; it is skipped.
            const std::size_t start = at + reader.size() + 1;
            keyName = start < whole.size() ? whole.substr(start) : std::u16string_view();
        }
        EntryLog().Write("Retrieving key name");
        EntryLog().Write("Initializing key object");
        auto* key = new (std::nothrow) KeyContext {};
        if (key == nullptr) {
            return frame.Fail(NTE_NO_MEMORY, "Not enough memory to initialize key object");
        }
        EntryLog().Write("Find key with specified key name");
        result = FindKeyFromObjectList(provider, keyName.c_str(), *key);
        if (result != ERROR_SUCCESS) {
            ReleaseKeyRecord(key);
            return frame.Done(result);
        }
        if ((dwLegacyKeySpec & AT_KEYEXCHANGE) != 0 && key->hPublicKey == 0) {
            ReleaseKeyRecord(key);
            return frame.Fail(NTE_BAD_KEYSET, "NTE_BAD_KEYSET: AT_KEYEXCHANGE key not found");
        }
        if ((dwLegacyKeySpec & AT_SIGNATURE) != 0 && key->hPrivateKey == 0) {
            ReleaseKeyRecord(key);
            return frame.Fail(NTE_BAD_KEYSET, "NTE_BAD_KEYSET: AT_SIGNATURE Key not found");
        }
        RegisterKey(key);
        *phKey = reinterpret_cast<NCRYPT_KEY_HANDLE>(key);
        EntryLog().WriteHex("Key opened. Handle: ", static_cast<const void*>(key));
        return ERROR_SUCCESS;
    });
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPFreeKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey)
{
    EntryFrame frame("VELA5KSPFreeKey", 9, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Hex("hKey", hKey);
        SECURITY_STATUS result = ERROR_SUCCESS;
        if (CheckProvider(frame, hProvider, result) == nullptr) {
            return result;
        }
        KeyContext* key = CheckKey(frame, hKey, result);
        if (key == nullptr) {
            return result;
        }
        // From here the handle no longer validates.
        UnregisterKey(key);
        if (key->pszKeyName != nullptr) {
            EntryLog().Write("Deleting key name");
        }
        if (key->pbKeyFileData != nullptr) {
            EntryLog().Write("Deleting key file data blob");
        }
        if (key->hPublicKey != 0) {
            EntryLog().Write("Deleting public key handle");
            key->hPublicKey = 0;
        }
        if (key->hPrivateKey != 0) {
            EntryLog().Write("Deleting private key handle");
            key->hPrivateKey = 0;
        }
        if (key->pbSecurityDescriptor != nullptr) {
            EntryLog().Write("Deleting security descriptor");
        }
        if (key->pbPrivateKey != nullptr) {
            EntryLog().Write("Deleting private key blob");
        }
        ReleaseKeyRecord(key);
        return ERROR_SUCCESS;
    });
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPDeleteKey(
    NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPDeleteKey", 9, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Hex("hKey", hKey);
        frame.Hex("dwFlags", dwFlags);
        SECURITY_STATUS result = ERROR_SUCCESS;
        ProviderContext* provider = nullptr;
        KeyContext* key = nullptr;
        if (!CheckHandles(frame, hProvider, hKey, provider, key, result)) {
            return result;
        }
        if (dwFlags != 0 && dwFlags != NCRYPT_SILENT_FLAG) {
            return frame.Fail(NTE_BAD_FLAGS, "NTE_BAD_FLAGS: Only NCRYPT_SILENT_FLAG is acceptable");
        }
        // A private key goes only for the logged-in User.
        result = LoginIfRequired(provider);
        if (result != ERROR_SUCCESS) {
            return frame.Fail(result, "Failed to login. Operation aborted.");
        }
        CK_RV destroyed = CKR_OK;
        if (key->hPrivateKey != 0) {
            PrivateKey half(&Cryptoki(), provider->hSession, key->hPrivateKey);
            destroyed = half.Destroy();
            key->hPrivateKey = half.Handle();
        }
        if (destroyed == CKR_OK && key->hPublicKey != 0) {
            PublicKey half(&Cryptoki(), provider->hSession, key->hPublicKey);
            destroyed = half.Destroy();
            key->hPublicKey = half.Handle();
        }
        if (destroyed != CKR_OK) {
            return frame.Fail(NTE_INTERNAL_ERROR,
                "NTE_INTERNAL_ERROR: DestroyObject failed. Check PKCS logs for detailed information");
        }
        // A deleted key is not offered by this provider again.
        RemoveFromObjectList(provider, *key);
        ReleaseKeyBuffers(*key);
        return ERROR_SUCCESS;
    });
}
