// The provider's exported functions: GetKeyStorageInterface and the 26
// entry points of the function table.
#pragma once

#include "platform/cng/Cng.h"

#define VELA5_KSP_EXPORT extern "C" __attribute__((visibility("default")))

#define VELA5_KSP_DECLARE(name, params) VELA5_KSP_EXPORT SECURITY_STATUS VELA5KSP##name params;
VELA5_KSP_ENTRY_POINTS(VELA5_KSP_DECLARE)
#undef VELA5_KSP_DECLARE

VELA5_KSP_EXPORT SECURITY_STATUS GetKeyStorageInterface(
    LPCWSTR pszProviderName, NCRYPT_KEY_STORAGE_FUNCTION_TABLE** ppFunctionTable, DWORD dwFlags);
