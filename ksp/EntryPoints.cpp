// GetKeyStorageInterface, the function table, and the entry points that do
// not yet have their operation: each is framed and checks its handles, then
// answers NTE_NOT_SUPPORTED; the five operations the provider never offers
// answer it without looking at their arguments.
#include "ksp/EntryFrame.h"
#include "ksp/Exports.h"
#include "ksp/Records.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

NCRYPT_KEY_STORAGE_FUNCTION_TABLE g_table = { { 1, 0 },
#define VELA5_KSP_TABLE_ENTRY(name, params) VELA5KSP##name,
    VELA5_KSP_ENTRY_POINTS(VELA5_KSP_TABLE_ENTRY)
#undef VELA5_KSP_TABLE_ENTRY
};

SECURITY_STATUS NotYet(EntryFrame& frame, const char* operation)
{
    return frame.Fail(
        NTE_NOT_SUPPORTED, std::string("NTE_NOT_SUPPORTED: ") + operation + " is not available yet");
}

// Provider first, then the key, as every entry point checks them.
bool HandlesValid(
    EntryFrame& frame, NCRYPT_PROV_HANDLE hProvider, const NCRYPT_KEY_HANDLE* hKey, SECURITY_STATUS& result)
{
    if (CheckProvider(frame, hProvider, result) == nullptr) {
        return false;
    }
    return hKey == nullptr || CheckKey(frame, *hKey, result) != nullptr;
}

} // namespace

VELA5_KSP_EXPORT SECURITY_STATUS GetKeyStorageInterface(
    LPCWSTR pszProviderName, NCRYPT_KEY_STORAGE_FUNCTION_TABLE** ppFunctionTable, DWORD dwFlags)
{
    EntryFrame frame("GetKeyStorageInterface", 15, false);
    return frame.Run([&] {
        frame.Wide("pszProviderName", pszProviderName);
        frame.Hex("ppFunctionTable", static_cast<const void*>(ppFunctionTable));
        frame.Hex("dwFlags", dwFlags);
        if (ppFunctionTable == nullptr) {
            return frame.Fail(NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: ppFunctionTable pointer is NULL");
        }
        // Character by character, terminator included; never past the first difference.
        const char16_t* expected = u"Nurvon KSP v1.0";
        std::size_t i = 0;
        bool match = pszProviderName != nullptr;
        while (match) {
            if (pszProviderName[i] != expected[i]) {
                match = false;
            } else if (expected[i] == 0) {
                break;
            } else {
                ++i;
            }
        }
        if (!match) {
            return frame.Fail(STATUS_INVALID_PARAMETER, "STATUS_INVALID_PARAMETER: Provider name mismatch.");
        }
        *ppFunctionTable = &g_table;
        char line[200];
        std::snprintf(line, sizeof line, "Function table retrieved - %s %s %s %s", "Nurvon KSP", "1, 0, 2, 4",
            "x86", "(Release Build)");
        EntryLog().Write(line);
        return ERROR_SUCCESS;
    });
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPFreeBuffer(PVOID pvInput)
{
    EntryFrame frame("VELA5KSPFreeBuffer", 0, true);
    return frame.Run([&] {
        EntryLog().WriteHex("pvInput: ", static_cast<const void*>(pvInput));
        // Buffers handed out by the provider come from malloc; null is accepted.
        std::free(pvInput);
        return ERROR_SUCCESS;
    });
}

namespace {
SECURITY_STATUS Crypt(const char* name, const char* operation, NCRYPT_PROV_HANDLE hProvider,
    NCRYPT_KEY_HANDLE hKey, PBYTE pbInput, DWORD cbInput, PVOID pPaddingInfo, PBYTE pbOutput, DWORD cbOutput,
    DWORD* pcbResult, DWORD dwFlags)
{
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
        SECURITY_STATUS result = ERROR_SUCCESS;
        return HandlesValid(frame, hProvider, &hKey, result) ? NotYet(frame, operation) : result;
    });
}
} // namespace

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPEncrypt(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
    PBYTE pbInput, DWORD cbInput, PVOID pPaddingInfo, PBYTE pbOutput, DWORD cbOutput, DWORD* pcbResult,
    DWORD dwFlags)
{
    return Crypt("VELA5KSPEncrypt", "Encrypt", hProvider, hKey, pbInput, cbInput, pPaddingInfo, pbOutput,
        cbOutput, pcbResult, dwFlags);
}

VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSPDecrypt(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
    PBYTE pbInput, DWORD cbInput, PVOID pPaddingInfo, PBYTE pbOutput, DWORD cbOutput, DWORD* pcbResult,
    DWORD dwFlags)
{
    return Crypt("VELA5KSPDecrypt", "Decrypt", hProvider, hKey, pbInput, cbInput, pPaddingInfo, pbOutput,
        cbOutput, pcbResult, dwFlags);
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
        return HandlesValid(frame, hProvider, nullptr, result) ? NotYet(frame, "IsAlgSupported") : result;
    });
}

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
        SECURITY_STATUS result = ERROR_SUCCESS;
        return HandlesValid(frame, hProvider, nullptr, result) ? NotYet(frame, "EnumAlgorithms") : result;
    });
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
        SECURITY_STATUS result = ERROR_SUCCESS;
        return HandlesValid(frame, hProvider, &hKey, result) ? NotYet(frame, "ExportKey") : result;
    });
}

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
        SECURITY_STATUS result = ERROR_SUCCESS;
        return HandlesValid(frame, hProvider, &hKey, result) ? NotYet(frame, "SignHash") : result;
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
        SECURITY_STATUS result = ERROR_SUCCESS;
        return HandlesValid(frame, hProvider, &hKey, result) ? NotYet(frame, "VerifySignature") : result;
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
