// VELA5KSPEnumAlgorithms and VELA5KSPIsAlgSupported, which describe what the
// provider offers (RSA only), and the operations it never offers, which
// answer NTE_NOT_SUPPORTED without looking at their arguments.
#include "ksp/EntryFrame.h"
#include "ksp/Records.h"
#include "ksp/abi/Exports.h"
#include "platform/cng/WideText.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

using namespace vela5::platform;

namespace {

constexpr DWORD NCRYPT_CIPHER_OPERATION = 0x1;
constexpr DWORD NCRYPT_HASH_OPERATION = 0x2;
constexpr DWORD NCRYPT_ASYMMETRIC_ENCRYPTION_OPERATION = 0x4;
constexpr DWORD NCRYPT_SECRET_AGREEMENT_OPERATION = 0x8;
constexpr DWORD NCRYPT_SIGNATURE_OPERATION = 0x10;
constexpr DWORD NCRYPT_RNG_OPERATION = 0x20;
constexpr DWORD NCRYPT_ASYMMETRIC_ENCRYPTION_INTERFACE = 3;

// The one entry and its name in one block, so VELA5KSPFreeBuffer frees both.
NCryptAlgorithmName* RsaAlgorithmList()
{
    constexpr char16_t kName[] = u"RSA";
    void* block = std::malloc(sizeof(NCryptAlgorithmName) + sizeof kName);
    if (block == nullptr) {
        return nullptr;
    }
    auto* entry = new (block) NCryptAlgorithmName {};
    auto* name = reinterpret_cast<char16_t*>(static_cast<BYTE*>(block) + sizeof(NCryptAlgorithmName));
    std::memcpy(name, kName, sizeof kName);
    entry->pszName = name;
    entry->dwClass = NCRYPT_ASYMMETRIC_ENCRYPTION_INTERFACE;
    entry->dwAlgOperations = NCRYPT_ASYMMETRIC_ENCRYPTION_OPERATION | NCRYPT_SIGNATURE_OPERATION;
    entry->dwFlags = 0;
    return entry;
}

} // namespace

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPEnumAlgorithms(NCRYPT_PROV_HANDLE hProvider, DWORD dwAlgOperations,
    DWORD* pdwAlgCount, NCryptAlgorithmName** ppAlgList, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPEnumAlgorithms", 15, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Hex("dwAlgOperations", dwAlgOperations);
        frame.Hex("pdwAlgCount", static_cast<const void*>(pdwAlgCount));
        frame.Hex("ppAlgList", static_cast<const void*>(ppAlgList));
        frame.Hex("dwFlags", dwFlags);
        EntryLog().Write("Validating Provider Handle...");
        if (ValidateProvider(hProvider) == nullptr) {
            return frame.Fail(NTE_INVALID_HANDLE, "NTE_INVALID_HANDLE: pProvider is NULL.");
        }
        if (pdwAlgCount == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pdwAlgCount is NULL.");
        }
        if (ppAlgList == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: ppAlgList is NULL.");
        }
        if (dwFlags != 0 && dwFlags != NCRYPT_SILENT_FLAG) {
            return frame.Fail(
                NTE_BAD_FLAGS, "NTE_BAD_FLAGS: Only NCRYPT_SILENT_FLAG or 0 is an acceptable value.");
        }
        if (dwAlgOperations == 0) {
            EntryLog().Write("dwAlgClass is 0");
        }
        const struct {
            DWORD bit;
            const char* line;
        } classes[] = {
            { NCRYPT_ASYMMETRIC_ENCRYPTION_OPERATION,
                "dwAlgClass is NCRYPT_ASYMMETRIC_ENCRYPTION_OPERATION" },
            { NCRYPT_SIGNATURE_OPERATION, "dwAlgClass is NCRYPT_SIGNATURE_OPERATION" },
            { NCRYPT_HASH_OPERATION, "dwAlgClass is NCRYPT_HASH_OPERATION" },
            { NCRYPT_SECRET_AGREEMENT_OPERATION, "dwAlgClass is NCRYPT_SECRET_AGREEMENT_OPERATION" },
            { NCRYPT_CIPHER_OPERATION, "dwAlgClass is NCRYPT_CIPHER_OPERATION" },
            { NCRYPT_RNG_OPERATION, "dwAlgClass is NCRYPT_RNG_OPERATION" },
        };
        for (const auto& algorithmClass : classes) {
            if ((dwAlgOperations & algorithmClass.bit) != 0) {
                EntryLog().Write(algorithmClass.line);
            }
        }
        constexpr DWORD kAnswered = NCRYPT_CIPHER_OPERATION | NCRYPT_HASH_OPERATION
            | NCRYPT_ASYMMETRIC_ENCRYPTION_OPERATION | NCRYPT_SECRET_AGREEMENT_OPERATION
            | NCRYPT_SIGNATURE_OPERATION;
        if (dwAlgOperations != 0 && (dwAlgOperations & kAnswered) == 0) {
            return frame.Fail(NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: VELA5 KSP currently supports RSA only.");
        }
        NCryptAlgorithmName* list = RsaAlgorithmList();
        if (list == nullptr) {
            return frame.Fail(NTE_NO_MEMORY, "NTE_NO_MEMORY: Unable to allocate enough memory for pbOutput.");
        }
        *pdwAlgCount = 1;
        *ppAlgList = list;
        return ERROR_SUCCESS;
    });
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPIsAlgSupported(
    NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszAlgId, DWORD dwFlags)
{
    EntryFrame frame("VELA5KSPIsAlgSupported", 9, true);
    return frame.Run([&] {
        frame.Hex("hProvider", hProvider);
        frame.Wide("pszAlgId", pszAlgId);
        frame.Hex("dwFlags", dwFlags);
        SECURITY_STATUS result = ERROR_SUCCESS;
        if (CheckProvider(frame, hProvider, result) == nullptr) {
            return result;
        }
        if (pszAlgId == nullptr) {
            return frame.Fail(NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pszAlgId cannot be NULL");
        }
        if (dwFlags != 0 && dwFlags != NCRYPT_SILENT_FLAG) {
            return frame.Fail(NTE_BAD_FLAGS, "NTE_BAD_FLAGS: Only NCRYPT_SILENT_FLAG is an acceptable flag");
        }
        const std::u16string_view name(pszAlgId, Cng::WideLength(pszAlgId));
        for (const char16_t* supported :
            { u"RSA", u"RSA_SIGN", u"MD5", u"SHA1", u"SHA256", u"SHA384", u"SHA512" }) {
            if (name == supported) {
                return ERROR_SUCCESS;
            }
        }
        char line[256];
        std::snprintf(line, sizeof line, "NTE_NOT_SUPPORTED: %s is not a supported algorithm",
            Cng::Narrow(name).c_str());
        return frame.Fail(NTE_NOT_SUPPORTED, line);
    });
}

// The operations never offered: entry line, their text, exit line.
VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPPromptUser(NCRYPT_PROV_HANDLE, NCRYPT_KEY_HANDLE, LPCWSTR, DWORD)
{
    EntryFrame frame("VELA5KSPPromptUser", 0, false, ExitStyle::BareName);
    return frame.Fail(NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: PromptUser is not supported");
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPNotifyChangeKey(NCRYPT_PROV_HANDLE, HANDLE*, DWORD)
{
    EntryFrame frame("VELA5KSPNotifyChangeKey", 0, true);
    return frame.Fail(NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: NotifyChangeKey is not supported");
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPSecretAgreement(
    NCRYPT_PROV_HANDLE, NCRYPT_KEY_HANDLE, NCRYPT_KEY_HANDLE, NCRYPT_SECRET_HANDLE*, DWORD)
{
    EntryFrame frame("VELA5KSPSecretAgreement", 0, true, ExitStyle::NoColon);
    return frame.Fail(NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: SecretAgreement is not supported");
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPDeriveKey(
    NCRYPT_PROV_HANDLE, NCRYPT_SECRET_HANDLE, LPCWSTR, NCryptBufferDesc*, PBYTE, DWORD, DWORD*, ULONG)
{
    EntryFrame frame("VELA5KSPDeriveKey", 0, true);
    return frame.Fail(
        NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: This version of VELA5 KSP does not support key derivation.");
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPFreeSecret(NCRYPT_PROV_HANDLE, NCRYPT_SECRET_HANDLE)
{
    EntryFrame frame("VELA5KSPFreeSecret", 0, false);
    return frame.Fail(NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: FreeSecret is not supported.");
}
