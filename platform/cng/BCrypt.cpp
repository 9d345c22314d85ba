#include "platform/cng/BCrypt.h"

#include <string_view>

namespace {
// One shared record: opening "RSA" twice gives the same handle, and closing
// it is harmless, so a caller that never closes loses nothing.
struct AlgorithmRecord {
    DWORD magic;
};
AlgorithmRecord g_rsa { BCRYPT_RSAPUBLIC_MAGIC };
} // namespace

NTSTATUS BCryptOpenAlgorithmProvider(
    BCRYPT_ALG_HANDLE* phAlgorithm, LPCWSTR pszAlgId, LPCWSTR pszImplementation, ULONG dwFlags)
{
    if (phAlgorithm == nullptr || pszAlgId == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (pszImplementation != nullptr || dwFlags != 0) {
        return STATUS_NOT_SUPPORTED;
    }
    if (std::u16string_view(pszAlgId) != u"RSA") {
        return STATUS_NOT_FOUND;
    }
    *phAlgorithm = &g_rsa;
    return STATUS_SUCCESS;
}

NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE hAlgorithm, ULONG dwFlags)
{
    if (hAlgorithm != &g_rsa || dwFlags != 0) {
        return STATUS_INVALID_HANDLE;
    }
    return STATUS_SUCCESS;
}
