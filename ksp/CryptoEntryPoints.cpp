// VELA5KSPSignHash, VELA5KSPVerifySignature, VELA5KSPEncrypt,
// VELA5KSPDecrypt and VELA5KSPExportKey: the operations on a token key. The
// private-key arithmetic happens on the token with CKM_RSA_PKCS; the
// provider adds only the DigestInfo of a signed or verified hash.
#include "ksp/CryptokiObject.h"
#include "ksp/DigestInfo.h"
#include "ksp/EntryFrame.h"
#include "ksp/LoginToToken.h"
#include "ksp/Records.h"
#include "ksp/RsaKeyBlob.h"
#include "ksp/RsaOperation.h"
#include "ksp/abi/Exports.h"
#include "platform/cng/WideText.h"

#include <cstring>
#include <string>
#include <vector>

using namespace vela5::platform;

namespace {

bool SignatureFlagsAllowed(EntryFrame& frame, DWORD flags, SECURITY_STATUS& result)
{
    if ((flags & ~(NCRYPT_PAD_PKCS1_FLAG | NCRYPT_PAD_PSS_FLAG | NCRYPT_SILENT_FLAG)) != 0) {
        result = frame.Fail(
            NTE_BAD_FLAGS, "NTE_BAD_FLAGS: The dwFlags parameter contains a value that is not valid.");
        return false;
    }
    if ((flags & NCRYPT_PAD_PSS_FLAG) != 0) {
        result = frame.Fail(
            NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: PSS padding scheme is currently not supported.");
        return false;
    }
    return true;
}

bool Finalized(EntryFrame& frame, const KeyContext& key, SECURITY_STATUS& result)
{
    if (key.fFinished == 0) {
        result = frame.Fail(NTE_BAD_KEY_STATE, "NTE_BAD_KEY_STATE: The specified key is not yet finalized");
        return false;
    }
    return true;
}

// A session the User is logged in on needs no login: asking the token for
// its state is far cheaper than the login procedure, which every signature
// would otherwise run.
bool UserSession(const ProviderContext& provider)
{
    CK_FUNCTION_LIST_PTR functions = Cryptoki().Functions();
    CK_SESSION_INFO info {};
    return functions != nullptr && functions->C_GetSessionInfo(provider.hSession, &info) == CKR_OK
        && (info.state == CKS_RO_USER_FUNCTIONS || info.state == CKS_RW_USER_FUNCTIONS);
}

bool LoggedIn(EntryFrame& frame, ProviderContext* provider, SECURITY_STATUS& result)
{
    if (UserSession(*provider)) {
        result = ERROR_SUCCESS;
        return true;
    }
    result = LoginIfRequired(provider);
    if (result != ERROR_SUCCESS) {
        result = frame.Fail(result, "Failed to login. Operation aborted.");
        return false;
    }
    return true;
}

// The one key object an operation needs.
RsaOperation OperationOn(const ProviderContext& provider, const KeyContext& key, RsaOperation::Kind kind)
{
    const bool usesPrivate = kind == RsaOperation::Kind::Sign || kind == RsaOperation::Kind::Decrypt;
    return RsaOperation(&Cryptoki(), provider.hSession, usesPrivate ? key.hPrivateKey : key.hPublicKey, kind);
}

SECURITY_STATUS FailWithCode(EntryFrame& frame, SECURITY_STATUS code, const char* text, CK_RV rv)
{
    EntryLog().WriteHex((std::string(text) + " ").c_str(), static_cast<std::uint64_t>(rv));
    return frame.Done(code);
}

std::string Number(CK_ULONG value)
{
    return std::to_string(static_cast<unsigned long>(value));
}

constexpr const char* kSigningFailed = "Signing failed. Check PKCS logs for detailed information";
constexpr const char* kDecryptionFailed = "Decryption failed. Check PKCS logs for detailed information";
constexpr const char* kEncryptionFailed = "Encryption failed. Check PKCS logs for detailed information.";

SECURITY_STATUS Crypt(RsaOperation::Kind kind, const char* name, NCRYPT_PROV_HANDLE hProvider,
    NCRYPT_KEY_HANDLE hKey, PBYTE pbInput, DWORD cbInput, PVOID pPaddingInfo, PBYTE pbOutput, DWORD cbOutput,
    DWORD* pcbResult, DWORD dwFlags)
{
    const bool decrypt = kind == RsaOperation::Kind::Decrypt;
    EntryFrame frame(name, 12, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Hex("hKey", hKey);
        frame.Hex("pbInput", static_cast<const void*>(pbInput));
        frame.Hex("cbInput", cbInput);
        frame.Hex("pPaddingInfo", pPaddingInfo);
        frame.Hex("pbOutput", static_cast<const void*>(pbOutput));
        frame.Hex("cbOutput", cbOutput);
        frame.Hex("pcbResult", static_cast<const void*>(pcbResult));
        frame.Hex("dwFlags", dwFlags);
        ProviderContext* provider = nullptr;
        KeyContext* key = nullptr;
        SECURITY_STATUS result = ERROR_SUCCESS;
        if (!CheckHandles(frame, hProvider, hKey, provider, key, result)) {
            return result;
        }
        if (pbInput == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pbInput is NULL");
        }
        if (pcbResult == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pcbResult is NULL");
        }
        if ((dwFlags
                & ~(NCRYPT_NO_PADDING_FLAG | NCRYPT_PAD_PKCS1_FLAG | NCRYPT_PAD_OAEP_FLAG
                    | NCRYPT_SILENT_FLAG))
            != 0) {
            return frame.Fail(
                NTE_BAD_FLAGS, "NTE_BAD_FLAGS: The dwFlags parameter contains a value that is not valid.");
        }
        if ((dwFlags & NCRYPT_PAD_OAEP_FLAG) != 0) {
            return frame.Fail(
                NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: OAEP padding scheme is currently not supported.");
        }
        // A key length under 8 bits has no block: nothing is a multiple of it.
        const DWORD block = key->dwKeyLength / 8;
        if ((dwFlags & NCRYPT_NO_PADDING_FLAG) != 0 && (block == 0 || cbInput % block != 0)) {
            return frame.Fail(NTE_INVALID_PARAMETER,
                "NTE_INVALID_PARAMETER: Data length is not a multiple of the algorithm block length.");
        }
        if (!Finalized(frame, *key, result) || !LoggedIn(frame, provider, result)) {
            return result;
        }
        const RsaOperation operation = OperationOn(*provider, *key, kind);
        if (!operation.Usable()) {
            return frame.Fail(NTE_INVALID_PARAMETER,
                decrypt ? "NTE_INVALID_PARAMETER: No session, private key object or token module"
                        : "NTE_INVALID_PARAMETER: No session, public key object or token module");
        }
        const char* failed = decrypt ? kDecryptionFailed : kEncryptionFailed;
        const CK_RV initialized = operation.Init();
        if (initialized != CKR_OK) {
            SECURITY_STATUS code = NTE_INTERNAL_ERROR;
            if (decrypt && initialized == CKR_KEY_FUNCTION_NOT_PERMITTED) {
                code = NTE_PERM;
            } else if (decrypt
                && (initialized == CKR_OBJECT_HANDLE_INVALID || initialized == CKR_SESSION_HANDLE_INVALID)) {
                code = NTE_INVALID_HANDLE;
            }
            return FailWithCode(frame, code, failed, initialized);
        }
        CK_ULONG length = pbOutput != nullptr ? cbOutput : *pcbResult;
        const CK_RV rv = operation.Run(pbInput, cbInput, pbOutput, length);
        if (rv == CKR_OK || rv == CKR_BUFFER_TOO_SMALL) {
            *pcbResult = static_cast<DWORD>(length);
        }
        if (rv == CKR_BUFFER_TOO_SMALL) {
            return FailWithCode(frame, NTE_BUFFER_TOO_SMALL, failed, rv);
        }
        if (rv != CKR_OK) {
            return FailWithCode(frame, NTE_INTERNAL_ERROR, failed, rv);
        }
        if (pbOutput == nullptr) {
            EntryLog().Write("pbOutput is NULL. Data length: " + Number(length));
        }
        return ERROR_SUCCESS;
    });
}

// The public key object's modulus and exponent, read as export reads them:
// the lengths first, then the values.
CK_RV ReadPublicKey(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
    std::vector<CK_BYTE>& modulus, std::vector<CK_BYTE>& exponent)
{
    CK_ULONG bits = 0;
    CK_ATTRIBUTE attributes[] = { { CKA_MODULUS, nullptr, 0 }, { CKA_MODULUS_BITS, nullptr, 0 },
        { CKA_PUBLIC_EXPONENT, nullptr, 0 } };
    CK_RV rv = functions->C_GetAttributeValue(session, object, attributes, 3);
    if (rv != CKR_OK) {
        return rv;
    }
    if (attributes[0].ulValueLen == 0 || attributes[0].ulValueLen == CK_UNAVAILABLE_INFORMATION
        || attributes[2].ulValueLen == 0 || attributes[2].ulValueLen == CK_UNAVAILABLE_INFORMATION
        || attributes[1].ulValueLen != sizeof bits) {
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    modulus.resize(attributes[0].ulValueLen);
    exponent.resize(attributes[2].ulValueLen);
    attributes[0].pValue = modulus.data();
    attributes[1].pValue = &bits;
    attributes[2].pValue = exponent.data();
    rv = functions->C_GetAttributeValue(session, object, attributes, 3);
    if (rv == CKR_OK) {
        modulus.resize(attributes[0].ulValueLen);
        exponent.resize(attributes[2].ulValueLen);
    }
    return rv;
}

} // namespace

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPSignHash(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
    PVOID pPaddingInfo, PBYTE pbHashValue, DWORD cbHashValue, PBYTE pbSignature, DWORD cbSignature,
    DWORD* pcbResult, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPSignHash", 12, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Hex("hKey", hKey);
        frame.Hex("pPaddingInfo", pPaddingInfo);
        frame.Hex("pbHashValue", static_cast<const void*>(pbHashValue));
        frame.Hex("cbHashValue", cbHashValue);
        frame.Hex("pbSignature", static_cast<const void*>(pbSignature));
        frame.Hex("cbSignature", cbSignature);
        frame.Hex("pcbResult", static_cast<const void*>(pcbResult));
        frame.Hex("dwFlags", dwFlags);
        ProviderContext* provider = nullptr;
        KeyContext* key = nullptr;
        SECURITY_STATUS result = ERROR_SUCCESS;
        if (!CheckHandles(frame, hProvider, hKey, provider, key, result)) {
            return result;
        }
        if (pbHashValue == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pbHashValue is NULL");
        }
        if (pcbResult == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pcbResult is NULL");
        }
        if (!SignatureFlagsAllowed(frame, dwFlags, result)) {
            return result;
        }
        if ((key->dwKeyUsage & NCRYPT_ALLOW_SIGNING_FLAG) == 0) {
            return frame.Fail(NTE_PERM, "NTE_PERM: The key usage policy does not allow signing");
        }
        if (!Finalized(frame, *key, result) || !LoggedIn(frame, provider, result)) {
            return result;
        }
        EntryLog().WriteDump("Hash\t\t: ", pbHashValue, cbHashValue);
        std::vector<std::uint8_t> data;
        if (!DigestInfoRule::Build(pbHashValue, cbHashValue, data)) {
            return frame.Fail(NTE_INVALID_PARAMETER,
                "NTE_INVALID_PARAMETER: No signature is made over a value of " + std::to_string(cbHashValue)
                    + " bytes");
        }
        const RsaOperation operation = OperationOn(*provider, *key, RsaOperation::Kind::Sign);
        if (!operation.Usable()) {
            return frame.Fail(NTE_INVALID_PARAMETER,
                "NTE_INVALID_PARAMETER: No session, private key object or token module");
        }
        const CK_RV initialized = operation.Init();
        if (initialized != CKR_OK) {
            return FailWithCode(frame, NTE_INTERNAL_ERROR, kSigningFailed, initialized);
        }
        CK_ULONG length = pbSignature != nullptr ? cbSignature : *pcbResult;
        const CK_RV rv = operation.Run(data.data(), data.size(), pbSignature, length);
        if (rv == CKR_OK || rv == CKR_BUFFER_TOO_SMALL) {
            *pcbResult = static_cast<DWORD>(length);
        }
        if (rv == CKR_BUFFER_TOO_SMALL) {
            return FailWithCode(frame, NTE_BUFFER_TOO_SMALL, kSigningFailed, rv);
        }
        if (rv != CKR_OK) {
            return FailWithCode(frame, NTE_INTERNAL_ERROR, kSigningFailed, rv);
        }
        if (pbSignature == nullptr) {
            EntryLog().Write("pbSignature is NULL. Signature length: " + Number(length));
        } else {
            EntryLog().WriteDump("Signature\t\t: ", pbSignature, length);
        }
        return ERROR_SUCCESS;
    });
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPVerifySignature(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
    PVOID pPaddingInfo, PBYTE pbHashValue, DWORD cbHashValue, PBYTE pbSignature, DWORD cbSignature,
    DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPVerifySignature", 12, true, ExitStyle::NoColon);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Hex("hKey", hKey);
        frame.Hex("pPaddingInfo", pPaddingInfo);
        frame.Hex("pbHashValue", static_cast<const void*>(pbHashValue));
        frame.Hex("cbHashValue", cbHashValue);
        frame.Hex("pbSignature", static_cast<const void*>(pbSignature));
        frame.Hex("cbSignature", cbSignature);
        frame.Hex("dwFlags", dwFlags);
        ProviderContext* provider = nullptr;
        KeyContext* key = nullptr;
        SECURITY_STATUS result = ERROR_SUCCESS;
        if (!CheckHandles(frame, hProvider, hKey, provider, key, result)) {
            return result;
        }
        if (pbHashValue == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pbHashValue is NULL");
        }
        if (pbSignature == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pbSignature is NULL");
        }
        if (!SignatureFlagsAllowed(frame, dwFlags, result) || !Finalized(frame, *key, result)
            || !LoggedIn(frame, provider, result)) {
            return result;
        }
        // The value signing would have signed, so the provider's own
        // signatures verify.
        std::vector<std::uint8_t> data;
        if (!DigestInfoRule::Build(pbHashValue, cbHashValue, data)) {
            return frame.Fail(NTE_INVALID_PARAMETER,
                "NTE_INVALID_PARAMETER: No signature is verified over a value of "
                    + std::to_string(cbHashValue) + " bytes");
        }
        const RsaOperation operation = OperationOn(*provider, *key, RsaOperation::Kind::Verify);
        if (!operation.Usable()) {
            return frame.Fail(NTE_INVALID_PARAMETER,
                "NTE_INVALID_PARAMETER: No session, public key object or token module");
        }
        const CK_RV initialized = operation.Init();
        if (initialized != CKR_OK) {
            return FailWithCode(frame, NTE_INTERNAL_ERROR,
                "Verify failed. Check PKCS logs for detailed information", initialized);
        }
        const CK_RV rv = operation.Verify(data.data(), data.size(), pbSignature, cbSignature);
        if (rv != CKR_OK) {
            return FailWithCode(
                frame, NTE_FAIL, "Verify failed. Check PKCS logs for detailed information", rv);
        }
        return ERROR_SUCCESS;
    });
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPEncrypt(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
    PBYTE pbInput, DWORD cbInput, PVOID pPaddingInfo, PBYTE pbOutput, DWORD cbOutput, DWORD* pcbResult,
    DWORD dwFlags)
{
    return Crypt(RsaOperation::Kind::Encrypt, "VELA5KSPEncrypt", hProvider, hKey, pbInput, cbInput,
        pPaddingInfo, pbOutput, cbOutput, pcbResult, dwFlags);
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPDecrypt(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
    PBYTE pbInput, DWORD cbInput, PVOID pPaddingInfo, PBYTE pbOutput, DWORD cbOutput, DWORD* pcbResult,
    DWORD dwFlags)
{
    return Crypt(RsaOperation::Kind::Decrypt, "VELA5KSPDecrypt", hProvider, hKey, pbInput, cbInput,
        pPaddingInfo, pbOutput, cbOutput, pcbResult, dwFlags);
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPExportKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
    NCRYPT_KEY_HANDLE hExportKey, LPCWSTR pszBlobType, NCryptBufferDesc* pParameterList, PBYTE pbOutput,
    DWORD cbOutput, DWORD* pcbResult, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPExportKey", 14, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Hex("hKey", hKey);
        frame.Hex("hExportKey", hExportKey);
        frame.Wide("pszBlobType", pszBlobType);
        frame.Hex("pParameterList", static_cast<const void*>(pParameterList));
        frame.Hex("pbOutput", static_cast<const void*>(pbOutput));
        frame.Hex("cbOutput", cbOutput);
        frame.Hex("pcbResult", static_cast<const void*>(pcbResult));
        frame.Hex("dwFlags", dwFlags);
        ProviderContext* provider = nullptr;
        KeyContext* key = nullptr;
        SECURITY_STATUS result = ERROR_SUCCESS;
        if (!CheckHandles(frame, hProvider, hKey, provider, key, result)) {
            return result;
        }
        if (pcbResult == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pcbResult is NULL");
        }
        if (dwFlags != 0 && dwFlags != NCRYPT_SILENT_FLAG) {
            return frame.Fail(NTE_BAD_FLAGS, "NTE_BAD_FLAGS: No flags are defined for this function.");
        }
        if (key->fFinished == 0) {
            return frame.Fail(NTE_BAD_KEY_STATE, "NTE_BAD_KEY_STATE: Key is not yet finalized");
        }
        if (pszBlobType == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pszBlobType is NULL");
        }
        const std::u16string_view blobType(pszBlobType, Cng::WideLength(pszBlobType));
        const bool isPrivate = blobType == u"RSAPRIVATEBLOB" || blobType == u"RSAFULLPRIVATEBLOB";
        if (!isPrivate && blobType != u"RSAPUBLICBLOB") {
            return frame.Fail(NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: pszBlobType is not supported");
        }
        if ((key->dwExportPolicy & 0x1) != 0) {
            return frame.Fail(NTE_NOT_SUPPORTED,
                "NTE_NOT_SUPPORTED: Current export policy does not permit exporting of keys");
        }
        if (hExportKey != 0) {
            return frame.Fail(
                NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: Encryption of key blobs is not yet supported.");
        }
        if (isPrivate) {
            return frame.Fail(NTE_NOT_SUPPORTED,
                (key->dwExportPolicy & NCRYPT_ALLOW_PLAINTEXT_EXPORT_FLAG) != 0
                    ? "NTE_NOT_SUPPORTED: Exporting of private keys is not allowed"
                    : "NTE_NOT_SUPPORTED: Exporting in plain text is not permitted");
        }
        CK_FUNCTION_LIST_PTR functions = Cryptoki().Functions();
        if (key->hPublicKey == 0 || provider->hSession == 0 || functions == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER,
                "NTE_INVALID_PARAMETER: No session, public key object or token module");
        }
        std::vector<CK_BYTE> modulus;
        std::vector<CK_BYTE> exponent;
        const CK_RV read = ReadPublicKey(functions, provider->hSession, key->hPublicKey, modulus, exponent);
        if (read != CKR_OK) {
            EntryLog().WriteHex("Reading the public key failed: ", static_cast<std::uint64_t>(read));
            return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: The public key could not be read");
        }
        // Blob and token both hold the exponent big-endian, so it is copied as
        // read; turning it round would change any exponent but a palindrome.
        const std::size_t size = RsaKeyBlob::PublicSize(exponent.size(), modulus.size());
        if (pbOutput == nullptr) {
            EntryLog().WriteInt("pbOutput is NULL. Querying key blob size... ", static_cast<long>(size));
            *pcbResult = static_cast<DWORD>(size);
            return ERROR_SUCCESS;
        }
        if (cbOutput < size) {
            *pcbResult = static_cast<DWORD>(size);
            return frame.Fail(NTE_BUFFER_TOO_SMALL,
                "NTE_BUFFER_TOO_SMALL: The expected output is larger than the output buffer");
        }
        std::memset(pbOutput, 0, cbOutput);
        RsaKeyBlob::WritePublic(exponent.data(), exponent.size(), modulus.data(), modulus.size(), pbOutput);
        *pcbResult = static_cast<DWORD>(size);
        EntryLog().WriteDump("Public Key Blob: ", pbOutput, cbOutput);
        return ERROR_SUCCESS;
    });
}
