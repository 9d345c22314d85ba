// VELA5KSPImportKey: an RSA public or private key blob, in clear or wrapped
// under another token key, made into a key on the token. The blob's bytes
// are the caller's: KeyBlobParser checks them before anything is read.
#include "ksp/EntryFrame.h"
#include "ksp/KeyBlobParser.h"
#include "ksp/KeyCreation.h"
#include "ksp/KeyObjects.h"
#include "ksp/KeyTemplates.h"
#include "ksp/LoginToToken.h"
#include "ksp/RecordBuffers.h"
#include "ksp/RsaComponents.h"
#include "ksp/abi/Exports.h"
#include "platform/cng/WideText.h"
#include "platform/secure_memory/SecureMemory.h"

#include <cstring>
#include <new>

using namespace vela5::platform;

namespace {

constexpr ULONG NCRYPTBUFFER_PKCS_KEY_NAME = 45;

bool SameText(LPCWSTR text, const char16_t* expected)
{
    return std::u16string_view(text, Cng::WideLength(text, 32)) == expected;
}

// The key name of an import: the last key-name buffer of the list. A
// buffer must hold a zero byte; the copy is terminated whatever it holds.
bool ReadKeyNameFromParams(const NCryptBufferDesc* list, KeyContext& key)
{
    if (list->cBuffers != 0 && list->pBuffers == nullptr) {
        return false;
    }
    const NCryptBuffer* chosen = nullptr;
    for (ULONG i = 0; i < list->cBuffers; ++i) {
        const NCryptBuffer& buffer = list->pBuffers[i];
        if (buffer.BufferType != NCRYPTBUFFER_PKCS_KEY_NAME || buffer.pvBuffer == nullptr
            || buffer.cbBuffer <= 1) {
            continue;
        }
        if (std::memchr(buffer.pvBuffer, 0, buffer.cbBuffer) == nullptr) {
            return false;
        }
        chosen = &buffer;
    }
    if (chosen == nullptr) {
        return true;
    }
    const std::size_t units = chosen->cbBuffer / sizeof(char16_t);
    auto* name = new (std::nothrow) char16_t[units + 1]();
    if (name == nullptr) {
        return false;
    }
    std::memcpy(name, chosen->pvBuffer, units * sizeof(char16_t));
    const std::size_t length = Cng::WideLength(name, units);
    delete[] key.pszKeyName;
    key.pszKeyName = name;
    key.cbKeyName = length < 127 ? static_cast<DWORD>(length) : 0;
    return true;
}

// The wrapped part of a blob, decrypted with the import key's private key
// as Decrypt does it: a length query, then the plaintext.
SECURITY_STATUS Unwrap(EntryFrame& frame, ProviderContext* provider, const KeyContext& importKey,
    const BYTE* data, DWORD size, WipedBytes& blob)
{
    if (size <= KeyBlob::kClearPrefix) {
        return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: cbBlobBuffer is too small");
    }
    if (importKey.hPrivateKey == 0) {
        return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: hImportKey has no private key");
    }
    SECURITY_STATUS result = LoginIfRequired(provider);
    if (result != ERROR_SUCCESS) {
        return frame.Fail(result, "Failed to login. Operation aborted.");
    }
    CK_FUNCTION_LIST_PTR module = Cryptoki().Functions();
    CK_MECHANISM mechanism = { CKM_RSA_PKCS, nullptr, 0 };
    CK_RV rv = module->C_DecryptInit(provider->hSession, &mechanism, importKey.hPrivateKey);
    if (rv != CKR_OK) {
        result = rv == CKR_KEY_FUNCTION_NOT_PERMITTED                               ? NTE_PERM
            : (rv == CKR_OBJECT_HANDLE_INVALID || rv == CKR_SESSION_HANDLE_INVALID) ? NTE_INVALID_HANDLE
                                                                                    : NTE_INTERNAL_ERROR;
        return frame.Fail(
            result, "Decryption failed. Check PKCS logs for detailed information: " + HexCode(rv));
    }
    auto* wrapped = const_cast<BYTE*>(data + KeyBlob::kClearPrefix);
    const CK_ULONG wrappedSize = size - KeyBlob::kClearPrefix;
    CK_ULONG plainSize = 0;
    rv = module->C_Decrypt(provider->hSession, wrapped, wrappedSize, nullptr, &plainSize);
    std::vector<BYTE> plain;
    if (rv == CKR_OK) {
        plain.resize(plainSize + KeyBlob::kClearPrefix);
        rv = module->C_Decrypt(
            provider->hSession, wrapped, wrappedSize, plain.data() + KeyBlob::kClearPrefix, &plainSize);
    }
    if (rv != CKR_OK) {
        result = rv == CKR_BUFFER_TOO_SMALL ? NTE_BUFFER_TOO_SMALL : NTE_INTERNAL_ERROR;
        return frame.Fail(
            result, "Decryption failed. Check PKCS logs for detailed information: " + HexCode(rv));
    }
    std::memcpy(plain.data(), data, KeyBlob::kClearPrefix);
    blob.Assign(plain.data(), plainSize + KeyBlob::kClearPrefix);
    SecureMemory::Wipe(plain.data(), plain.size());
    return ERROR_SUCCESS;
}

// The refusals of a blob, with their lines.
SECURITY_STATUS RefuseBlob(EntryFrame& frame, KeyBlob::Fault fault)
{
    switch (fault) {
    case KeyBlob::Fault::TooSmall:
        return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: cbBlobBuffer is too small");
    case KeyBlob::Fault::ExponentTooLong:
        return frame.Fail(NTE_NOT_SUPPORTED, "Public exponent length exceeds 32 bits");
    case KeyBlob::Fault::ExponentZero:
        return frame.Fail(NTE_BAD_DATA, "NTE_BAD_DATA: Public exponent is zero");
    case KeyBlob::Fault::WrongMagic:
        return frame.Fail(NTE_BAD_DATA, "NTE_BAD_DATA: Blob magic does not match pszBlobType");
    case KeyBlob::Fault::LengthMismatch:
        return frame.Fail(NTE_BAD_DATA, "NTE_BAD_DATA: BitLength does not match cbModulus");
    case KeyBlob::Fault::PrimeLengths:
        return frame.Fail(NTE_BAD_DATA, "NTE_BAD_DATA: cbPrime1 or cbPrime2 does not fit the modulus");
    case KeyBlob::Fault::None:
        break;
    }
    return ERROR_SUCCESS;
}

// The public-key object of a public blob.
SECURITY_STATUS ImportPublic(
    EntryFrame& frame, ProviderContext* provider, KeyContext* key, const KeyBlob::View& blob)
{
    CK_BYTE idSource[64] = {};
    if (Cryptoki().Functions()->C_GenerateRandom(provider->hSession, idSource, sizeof idSource) != CKR_OK) {
        return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: Random number generation failed");
    }
    EntryLog().Write("Initializing public key attributes");
    PublicKey publicKey(&Cryptoki(), provider->hSession);
    publicKey.modulus.Assign(blob.modulus, blob.cbModulus);
    std::memcpy(publicKey.publicExponent, key->publicExponent, sizeof key->publicExponent);
    std::memcpy(publicKey.idSource, idSource, sizeof idSource);
    publicKey.keyBits = key->dwKeyLength;
    EntryLog().Write("Creating public key");
    std::string label;
    if (key->pszKeyName != nullptr) {
        label = LabelFromName(key->pszKeyName);
        const SECURITY_STATUS login = LoginIfRequired(provider);
        if (login != ERROR_SUCCESS) {
            return frame.Fail(login, "Failed to login. Operation aborted");
        }
    }
    const CK_RV rv
        = CreatePublicKeyObject(publicKey, Permission::Both, key->pszKeyName != nullptr ? &label : nullptr);
    if (rv != CKR_OK) {
        return frame.Fail(NTE_INTERNAL_ERROR, "Public key creation failed: " + HexCode(rv));
    }
    key->hPublicKey = publicKey.Handle();
    std::memset(key->ckaId, 0, sizeof key->ckaId);
    std::memcpy(key->ckaId, idSource, sizeof idSource);
    key->cbCkaId = kImportedIdSize;
    key->fFinished = 1;
    return ERROR_SUCCESS;
}

} // namespace

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPImportKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hImportKey,
    LPCWSTR pszBlobType, NCryptBufferDesc* pParameterList, NCRYPT_KEY_HANDLE* phKey, PBYTE pbData,
    DWORD cbData, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPImportKey", 14, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Hex("hImportKey", hImportKey);
        frame.Wide("pszBlobType", pszBlobType);
        frame.Hex("pParameterList", static_cast<const void*>(pParameterList));
        frame.Hex("phKey", static_cast<const void*>(phKey));
        frame.Hex("pbData", static_cast<const void*>(pbData));
        frame.Hex("cbData", cbData);
        frame.Hex("dwFlags", dwFlags);
        SECURITY_STATUS result = ERROR_SUCCESS;
        ProviderContext* provider = CheckProvider(frame, hProvider, result);
        if (provider == nullptr) {
            return result;
        }
        const bool isPublic = pszBlobType != nullptr && SameText(pszBlobType, u"RSAPUBLICBLOB");
        const bool isPrivate = pszBlobType != nullptr && SameText(pszBlobType, u"RSAPRIVATEBLOB");
        if (!isPublic && !isPrivate) {
            return frame.Fail(
                NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: Only RSA BLOBs are currently supported");
        }
        if (phKey == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: phKey is NULL");
        }
        if (pbData == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pbData is NULL");
        }
        if (cbData == 0) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: cbData is 0");
        }
        constexpr DWORD allowed = NCRYPT_NO_KEY_VALIDATION | NCRYPT_MACHINE_KEY_FLAG | NCRYPT_SILENT_FLAG
            | NCRYPT_OVERWRITE_KEY_FLAG | NCRYPT_WRITE_KEY_TO_LEGACY_STORE_FLAG | NCRYPT_DO_NOT_FINALIZE_FLAG;
        if ((dwFlags & ~allowed) != 0) {
            return frame.Fail(
                NTE_BAD_FLAGS, "NTE_BAD_FLAGS: The dwFlags parameter contains a value that is not valid.");
        }
        if ((dwFlags & (NCRYPT_MACHINE_KEY_FLAG | NCRYPT_WRITE_KEY_TO_LEGACY_STORE_FLAG)) != 0) {
            return frame.Fail(NTE_NOT_SUPPORTED,
                "NTE_NOT_SUPPORTED: NCRYPT_MACHINE_KEY_FLAG and NCRYPT_WRITE_KEY_TO_LEGACY_STORE_FLAG are "
                "not "
                "supported flags.");
        }
        KeyContext* key = NewKeyRecord(nullptr, result);
        if (key == nullptr) {
            return frame.Fail(result, "Failed to create new key object");
        }
        // Everything below releases the record when it fails.
        auto failed = [&](SECURITY_STATUS code) {
            ReleaseKeyRecord(key);
            return code;
        };
        if (pParameterList != nullptr && !ReadKeyNameFromParams(pParameterList, *key)) {
            return failed(frame.Fail(NTE_INVALID_PARAMETER, "ReadKeyNameFromParams failed"));
        }
        WipedBytes blobBytes;
        if (hImportKey != 0) {
            const KeyContext* importKey = ValidateKey(hImportKey);
            if (importKey == nullptr) {
                return failed(
                    frame.Fail(NTE_INVALID_HANDLE, "NTE_INVALID_HANDLE: hImportKey handle is invalid"));
            }
            result = Unwrap(frame, provider, *importKey, pbData, cbData, blobBytes);
            if (result != ERROR_SUCCESS) {
                return failed(result);
            }
        } else {
            blobBytes.Assign(pbData, cbData);
        }
        KeyBlob::View blob;
        const KeyBlob::Fault fault = KeyBlob::Parse(blobBytes.Bytes().data(), blobBytes.Size(),
            isPublic ? KeyBlob::Kind::Public : KeyBlob::Kind::Private, blob);
        if (fault != KeyBlob::Fault::None) {
            return failed(RefuseBlob(frame, fault));
        }
        key->dwKeyLength = blob.bitLength;
        key->dwAlgId = 0;
        // The true exponent, right-aligned in the 4-byte field as a
        // big-endian number: 01 00 01 is 65537, not 0x01000100.
        std::memset(key->publicExponent, 0, sizeof key->publicExponent);
        std::memcpy(key->publicExponent + (4 - blob.cbPublicExp), blob.publicExponent, blob.cbPublicExp);
        if (isPrivate) {
            RsaComponents check;
            if (!ComputeRsaComponents(blob.modulus, blob.cbModulus, KeyBlob::ExponentValue(blob), blob.prime1,
                    blob.cbPrime1, blob.prime2, blob.cbPrime2, check)) {
                return failed(
                    frame.Fail(NTE_BAD_DATA, "NTE_BAD_DATA: The primes do not make a key with this modulus"));
            }
            key->pbPrivateKey = new BYTE[blobBytes.Size()];
            std::memcpy(key->pbPrivateKey, blobBytes.Bytes().data(), blobBytes.Size());
            key->cbPrivateKey = static_cast<DWORD>(blobBytes.Size());
            key->pszBlobType = u"RSAPRIVATEBLOB";
            if ((dwFlags & NCRYPT_DO_NOT_FINALIZE_FLAG) == 0) {
                EntryLog().Write("Finalizing key...");
                RegisterKey(key);
                result = VELA5KSPFinalizeKey(hProvider, reinterpret_cast<NCRYPT_KEY_HANDLE>(key), 0);
                if (result != ERROR_SUCCESS) {
                    UnregisterKey(key);
                    return failed(result);
                }
                UnregisterKey(key);
            }
        } else {
            key->pszBlobType = u"RSAPUBLICBLOB";
            result = ImportPublic(frame, provider, key, blob);
            if (result != ERROR_SUCCESS) {
                return failed(result);
            }
        }
        RegisterKey(key);
        *phKey = reinterpret_cast<NCRYPT_KEY_HANDLE>(key);
        // The next operation asks for the PIN again unless it is cached.
        const CK_RV loggedOut = Cryptoki().Functions()->C_Logout(provider->hSession);
        if (loggedOut != CKR_OK && loggedOut != CKR_USER_NOT_LOGGED_IN) {
            EntryLog().Write("Logout after import failed: " + HexCode(loggedOut));
        }
        WipeAndRelease(provider->pszPin);
        return ERROR_SUCCESS;
    });
}
