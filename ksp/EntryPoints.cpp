// GetKeyStorageInterface, the function table, and FreeBuffer; every other
// entry point lives with its operation.
#include "ksp/EntryFrame.h"
#include "ksp/Records.h"
#include "ksp/abi/Exports.h"

#include <cstdio>
#include <cstdlib>

namespace {

NCRYPT_KEY_STORAGE_FUNCTION_TABLE g_table = { { 1, 0 },
#define VELA5_KSP_TABLE_ENTRY(name, params) VELA5KSP##name,
    VELA5_KSP_ENTRY_POINTS(VELA5_KSP_TABLE_ENTRY)
#undef VELA5_KSP_TABLE_ENTRY
};

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
