// The BCrypt algorithm providers the key storage provider asks for: only
// "RSA", with no implementation name.
#pragma once

#include "platform/cng/Cng.h"

VELA5_CNG_API NTSTATUS BCryptOpenAlgorithmProvider(
    BCRYPT_ALG_HANDLE* phAlgorithm, LPCWSTR pszAlgId, LPCWSTR pszImplementation, ULONG dwFlags);
VELA5_CNG_API NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE hAlgorithm, ULONG dwFlags);
