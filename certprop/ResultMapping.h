// The Windows error numbers the agent answers with, and how a PKCS#11 result
// becomes one of them.
#pragma once

#include "pkcs11/pkcs11.h"

namespace CertProp {

enum WinError : long {
    ErrorSuccess = 0,
    ErrorBadArguments = 160, // ERROR_BAD_ARGUMENTS
    ErrorCancelled = 1223, // ERROR_CANCELLED: the agent is leaving
    ErrorLogonFailure = 1326, // ERROR_LOGON_FAILURE
    ErrorAccountDisabled = 1331, // ERROR_ACCOUNT_DISABLED
    ErrorFunctionFailed = 1627, // ERROR_FUNCTION_FAILED
    ErrorInvalidState = 5023, // ERROR_INVALID_STATE
    NteNoMemory = static_cast<long>(0x8009000EL), // NTE_NO_MEMORY
    NtePerm = static_cast<long>(0x80090010L), // NTE_PERM
    NteFail = static_cast<long>(0x80090020L), // NTE_FAIL
    NteInvalidHandle = static_cast<long>(0x80090026L), // NTE_INVALID_HANDLE
    NteInvalidParameter = static_cast<long>(0x80090027L), // NTE_INVALID_PARAMETER
    NteNotSupported = static_cast<long>(0x80090029L), // NTE_NOT_SUPPORTED
    NteNoMoreItems = static_cast<long>(0x8009002AL), // NTE_NO_MORE_ITEMS
    NteInternalError = static_cast<long>(0x8009002DL), // NTE_INTERNAL_ERROR
};

// The agent's one table from module results to Windows codes.
long MapCkResult(CK_RV rv);

} // namespace CertProp
