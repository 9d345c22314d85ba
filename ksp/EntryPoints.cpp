// GetKeyStorageInterface, the function table, and the entry points that do
// not yet have their operation: each is framed and checks its handles, then
// answers NTE_NOT_SUPPORTED.
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
        return HandlesValid(frame, hProvider, nullptr, result) ? NotYet(frame, "CreatePersistedKey") : result;
    });
}

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
        SECURITY_STATUS result = ERROR_SUCCESS;
        return HandlesValid(frame, hProvider, nullptr, result) ? NotYet(frame, "GetProviderProperty")
                                                               : result;
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
        SECURITY_STATUS result = ERROR_SUCCESS;
        return HandlesValid(frame, hProvider, &hKey, result) ? NotYet(frame, "GetKeyProperty") : result;
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
        return HandlesValid(frame, hProvider, nullptr, result) ? NotYet(frame, "SetProviderProperty")
                                                               : result;
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
        return HandlesValid(frame, hProvider, &hKey, result) ? NotYet(frame, "SetKeyProperty") : result;
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
        return HandlesValid(frame, hProvider, &hKey, result) ? NotYet(frame, "FinalizeKey") : result;
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
        return HandlesValid(frame, hProvider, nullptr, result) ? NotYet(frame, "ImportKey") : result;
    });
}
