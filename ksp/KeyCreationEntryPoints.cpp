// VELA5KSPCreatePersistedKey and VELA5KSPFinalizeKey: a named (or
// ephemeral) RSA key prepared, then made real on the token, by generation
// or, for an imported private key, from the blob's components.
#include "ksp/EntryFrame.h"
#include "ksp/KeyBlobParser.h"
#include "ksp/KeyCreation.h"
#include "ksp/KeyObjects.h"
#include "ksp/KeyTemplates.h"
#include "ksp/LoginToToken.h"
#include "ksp/ResultCodes.h"
#include "ksp/RsaComponents.h"
#include "ksp/abi/Exports.h"
#include "platform/cng/WideText.h"
#include "platform/registry/Registry.h"

#include <cstdio>
#include <cstring>
#include <new>

using namespace vela5::platform;

namespace {

constexpr const char* kRegistrationKey
    = "System\\CurrentControlSet\\Control\\Cryptography\\Providers\\Nurvon KSP v1.0";

bool ReadDefaultKeyLength(DWORD& length)
{
    Registry::Key key;
    if (Registry::Key::Open(Registry::Hive::LocalMachine, kRegistrationKey, Registry::Access::Read,
            Registry::View::Native, key)
        != Registry::Success) {
        return false;
    }
    std::uint32_t value = 0;
    if (key.GetDWord("Default Key Length", value) != Registry::Success) {
        return false;
    }
    length = value;
    return true;
}

bool SameText(LPCWSTR text, const char16_t* expected)
{
    return text != nullptr && std::u16string_view(text, Cng::WideLength(text, 16)) == expected;
}

// The new pair from the token's generator.
SECURITY_STATUS Generate(EntryFrame& frame, ProviderContext* provider, KeyContext* key)
{
    const std::string label = LabelFromName(key->pszKeyName);
    EntryLog().Write("Generating key pair");
    RSAPair pair(&Cryptoki(), provider->hSession);
    pair.keyBits = key->dwKeyLength;
    CK_RV rv = Cryptoki().Functions()->C_GenerateRandom(provider->hSession, pair.id, sizeof pair.id);
    if (rv == CKR_OK) {
        rv = GenerateKeyPair(pair, label, key->pszKeyName != nullptr);
    }
    if (rv != CKR_OK) {
        return frame.Fail(NTE_INTERNAL_ERROR,
            "NTE_INTERNAL_ERROR: GenerateKeyPair failed - "
                + HexCode(static_cast<DWORD>(MapCryptokiResult(rv))));
    }
    EntryLog().WriteInt("Bit length: ", static_cast<long>(key->dwKeyLength));
    key->hPrivateKey = pair.privateKey;
    key->hPublicKey = pair.publicKey;
    std::memcpy(key->ckaId, pair.id, sizeof pair.id);
    key->cbCkaId = sizeof pair.id;
    return ERROR_SUCCESS;
}

// The key objects of an imported private blob, from its components.
SECURITY_STATUS FromComponents(EntryFrame& frame, ProviderContext* provider, KeyContext* key)
{
    EntryLog().Write("Key is imported");
    CK_BYTE idSource[64] = {};
    if (Cryptoki().Functions()->C_GenerateRandom(provider->hSession, idSource, sizeof idSource) != CKR_OK) {
        return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: Random number generation failed");
    }
    KeyBlob::View blob;
    if (KeyBlob::Parse(key->pbPrivateKey, key->cbPrivateKey, KeyBlob::Kind::Private, blob)
        != KeyBlob::Fault::None) {
        return frame.Fail(NTE_BAD_KEY_STATE, "NTE_BAD_KEY_STATE: The key's private blob is not valid");
    }
    EntryLog().Write("Initializing public key attributes");
    PublicKey publicKey(&Cryptoki(), provider->hSession);
    publicKey.modulus.Assign(blob.modulus, blob.cbModulus);
    std::memcpy(publicKey.publicExponent, key->publicExponent, sizeof key->publicExponent);
    std::memcpy(publicKey.idSource, idSource, sizeof idSource);
    publicKey.keyBits = key->dwKeyLength;
    EntryLog().Write("Initializing private key attributes");
    PrivateKey privateKey(&Cryptoki(), provider->hSession);
    privateKey.modulus = publicKey.modulus;
    std::memcpy(privateKey.publicExponent, key->publicExponent, sizeof key->publicExponent);
    std::memcpy(privateKey.idSource, idSource, sizeof idSource);
    privateKey.keyBits = key->dwKeyLength;
    privateKey.prime1.Assign(blob.prime1, blob.cbPrime1);
    privateKey.prime2.Assign(blob.prime2, blob.cbPrime2);
    RsaComponents computed;
    if (!ComputeRsaComponents(blob.modulus, blob.cbModulus, KeyBlob::ExponentValue(blob), blob.prime1,
            blob.cbPrime1, blob.prime2, blob.cbPrime2, computed)) {
        return frame.Fail(NTE_BAD_DATA, "NTE_BAD_DATA: The primes do not make a key with this modulus");
    }
    privateKey.privateExponent = computed.privateExponent;
    privateKey.exponent1 = computed.exponent1;
    privateKey.exponent2 = computed.exponent2;
    privateKey.coefficient = computed.coefficient;
    Permission permission = Permission::Both;
    if (!PermissionFromAlgId(key->dwAlgId, permission)) {
        return frame.Fail(NTE_BAD_KEYSET, "NTE_BAD_KEYSET: key AlgID is invalid");
    }
    std::string label;
    if (key->pszKeyName != nullptr) {
        // With its terminator, as labels of imported keys have been written.
        label = LabelFromName(key->pszKeyName);
        label.push_back('\0');
    }
    const std::string* labelOrNone = key->pszKeyName != nullptr ? &label : nullptr;
    EntryLog().Write("Creating public key");
    CK_RV rv = CreatePublicKeyObject(publicKey, permission, labelOrNone);
    if (rv != CKR_OK) {
        return frame.Fail(NTE_INTERNAL_ERROR, "Public key creation failed: " + HexCode(rv));
    }
    EntryLog().Write("Creating private key");
    rv = CreatePrivateKeyObject(privateKey, permission, labelOrNone);
    if (rv != CKR_OK) {
        // Half a key is no key: the public object goes again.
        publicKey.Destroy();
        return frame.Fail(NTE_INTERNAL_ERROR, "Private key creation failed: " + HexCode(rv));
    }
    key->hPublicKey = publicKey.Handle();
    key->hPrivateKey = privateKey.Handle();
    std::memset(key->ckaId, 0, sizeof key->ckaId);
    std::memcpy(key->ckaId, idSource, sizeof idSource);
    key->cbCkaId = kImportedIdSize;
    return ERROR_SUCCESS;
}

} // namespace

std::string HexCode(unsigned long value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value & 0xFFFFFFFFu));
    return text;
}

KeyContext* NewKeyRecord(LPCWSTR name, SECURITY_STATUS& result)
{
    auto* key = new (std::nothrow) KeyContext {};
    if (key == nullptr) {
        result = NTE_NO_MEMORY;
        return nullptr;
    }
    result = CreateKeyContext(name, *key);
    if (result != ERROR_SUCCESS) {
        ReleaseKeyRecord(key);
        return nullptr;
    }
    return key;
}

void ReleaseKeyRecord(KeyContext* key)
{
    ReleaseKeyBuffers(*key);
    std::memset(static_cast<void*>(key), 0, sizeof *key);
    delete key;
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPCreatePersistedKey(NCRYPT_PROV_HANDLE hProvider,
    NCRYPT_KEY_HANDLE* phKey, LPCWSTR pszAlgId, LPCWSTR pszKeyName, DWORD dwLegacyKeySpec, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPCreatePersistedKey", 15, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Hex("phKey", static_cast<const void*>(phKey));
        frame.Wide("pszAlgId", pszAlgId);
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
        if (pszAlgId == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pszAlgID is NULL");
        }
        if ((dwFlags & ~(NCRYPT_MACHINE_KEY_FLAG | NCRYPT_SILENT_FLAG | NCRYPT_OVERWRITE_KEY_FLAG)) != 0) {
            return frame.Fail(NTE_BAD_FLAGS,
                "NTE_BAD_FLAGS: Only NCRYPT_MACHINE_KEY_FLAG and NCRYPT_OVERWIRTE_KEY_FLAG is acceptable.");
        }
        if (!SameText(pszAlgId, u"RSA")) {
            return frame.Fail(
                NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: This KSP only supports NCRYPT_RSA_ALGORITHM");
        }
        if (dwLegacyKeySpec > 2) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: Invalid dwLegacyKeySpec value");
        }
        KeyContext* key = NewKeyRecord(pszKeyName, result);
        if (key == nullptr) {
            return frame.Fail(result, "Failed to create new key object");
        }
        if (pszKeyName != nullptr) {
            EntryLog().Write("Validating key file existence");
            const std::u16string_view name(key->pszKeyName, Cng::WideLength(key->pszKeyName));
            result = FindKeyByLabel(provider, Cng::Narrow(name), *key);
            if (result == NTE_EXISTS && (dwFlags & NCRYPT_OVERWRITE_KEY_FLAG) == 0) {
                ReleaseKeyRecord(key);
                return frame.Fail(NTE_EXISTS, "NTE_EXISTS: A key with the same name already exists");
            }
            if (result == NTE_EXISTS) {
                EntryLog().Write("NTE_EXISTS: A key with same name exists and will be overwritten");
                key->dwOverwrite = 1;
            } else if (result != NTE_NOT_FOUND) {
                ReleaseKeyRecord(key);
                return frame.Fail(result, "Failed to validate key file existence");
            }
        }
        DWORD length = 0;
        if (!ReadDefaultKeyLength(length)) {
            ReleaseKeyRecord(key);
            return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: Failed to get registry key");
        }
        key->dwKeyLength = length;
        key->pszBlobType = u"RSAPRIVATEBLOB";
        key->dwAlgId = dwLegacyKeySpec == 0 ? 0 : (dwLegacyKeySpec == 1 ? CALG_RSA_KEYX : CALG_RSA_SIGN);
        RegisterKey(key);
        *phKey = reinterpret_cast<NCRYPT_KEY_HANDLE>(key);
        EntryLog().WriteHex("Key handle: ", static_cast<const void*>(key));
        return ERROR_SUCCESS;
    });
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPFinalizeKey(
    NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPFinalizeKey", 9, true);
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
        if ((dwFlags
                & ~(NCRYPT_NO_KEY_VALIDATION | NCRYPT_SILENT_FLAG | NCRYPT_WRITE_KEY_TO_LEGACY_STORE_FLAG))
            != 0) {
            return frame.Fail(NTE_BAD_FLAGS,
                "NTE_BAD_FLAGS: Only NCRYPT_NO_KEY_VALIDATION, NCRYPT_WRITE_KEY_TO_LEGACY_STORE_FLAG, and "
                "NCRYPT_SILENT_FLAG are acceptable flags.");
        }
        EntryLog().Write("Checking if key is not yet finalized");
        if (key->fFinished != 0) {
            return frame.Done(NTE_BAD_KEY_STATE);
        }
        result = LoginIfRequired(provider);
        if (result != ERROR_SUCCESS) {
            return frame.Fail(result, "Failed to login. Operation aborted");
        }
        EntryLog().Write("Checking if overwrite flag is set");
        // The old key goes only once the new one exists, so a failed
        // creation leaves the name's key as it was.
        const CK_OBJECT_HANDLE oldPrivate = key->dwOverwrite != 0 ? key->hPrivateKey : 0;
        const CK_OBJECT_HANDLE oldPublic = key->dwOverwrite != 0 ? key->hPublicKey : 0;
        if (key->dwOverwrite != 0) {
            EntryLog().Write("Overwrite flag is set.");
        }
        result = key->pbPrivateKey != nullptr ? FromComponents(frame, provider, key)
                                              : Generate(frame, provider, key);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        key->fFinished = 1;
        if (key->dwOverwrite != 0) {
            key->dwOverwrite = 0;
            if (oldPrivate != 0
                && PrivateKey(&Cryptoki(), provider->hSession, oldPrivate).Destroy() != CKR_OK) {
                return frame.Fail(NTE_INTERNAL_ERROR,
                    "NTE_INTERNAL_ERROR: Private key deletion failed. Check PKCS logs for more information.");
            }
            if (oldPublic != 0 && PublicKey(&Cryptoki(), provider->hSession, oldPublic).Destroy() != CKR_OK) {
                return frame.Fail(NTE_INTERNAL_ERROR,
                    "NTE_INTERNAL_ERROR: Public key deletion failed. Check PKCS logs for more information.");
            }
        }
        return ERROR_SUCCESS;
    });
}
