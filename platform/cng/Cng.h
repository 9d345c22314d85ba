// The CNG key storage contract between the router and a provider: Windows
// widths for every type (DWORD, ULONG and SECURITY_STATUS are 32-bit, WCHAR a
// 16-bit code unit), so every byte size the contract states holds here too.
#pragma once

#include <cstdint>

#define VELA5_CNG_API extern "C"

using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using BYTE = std::uint8_t;
using PBYTE = BYTE*;
using USHORT = std::uint16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using SECURITY_STATUS = LONG;
using NTSTATUS = LONG;
using ULONG_PTR = std::uintptr_t;
using PVOID = void*;
using HANDLE = void*;
using HWND = void*;

using NCRYPT_HANDLE = ULONG_PTR;
using NCRYPT_PROV_HANDLE = ULONG_PTR;
using NCRYPT_KEY_HANDLE = ULONG_PTR;
using NCRYPT_SECRET_HANDLE = ULONG_PTR;
using BCRYPT_ALG_HANDLE = PVOID;

// Result codes (SECURITY_STATUS and NTSTATUS values).
constexpr SECURITY_STATUS ERROR_SUCCESS = 0;
constexpr SECURITY_STATUS ERROR_BAD_ARGUMENTS = 160;
constexpr SECURITY_STATUS ERROR_CANCELLED = 1223;
constexpr SECURITY_STATUS ERROR_LOGON_FAILURE = 1326;
constexpr SECURITY_STATUS ERROR_ACCOUNT_DISABLED = 1331;
constexpr SECURITY_STATUS ERROR_FUNCTION_FAILED = 1627;
constexpr SECURITY_STATUS NTE_BAD_DATA = static_cast<LONG>(0x80090005);
constexpr SECURITY_STATUS NTE_BAD_SIGNATURE = static_cast<LONG>(0x80090006);
constexpr SECURITY_STATUS NTE_BAD_FLAGS = static_cast<LONG>(0x80090009);
constexpr SECURITY_STATUS NTE_BAD_KEY_STATE = static_cast<LONG>(0x8009000B);
constexpr SECURITY_STATUS NTE_NO_MEMORY = static_cast<LONG>(0x8009000E);
constexpr SECURITY_STATUS NTE_EXISTS = static_cast<LONG>(0x8009000F);
constexpr SECURITY_STATUS NTE_PERM = static_cast<LONG>(0x80090010);
constexpr SECURITY_STATUS NTE_NOT_FOUND = static_cast<LONG>(0x80090011);
constexpr SECURITY_STATUS NTE_BAD_PROVIDER = static_cast<LONG>(0x80090013);
constexpr SECURITY_STATUS NTE_BAD_KEYSET = static_cast<LONG>(0x80090016);
constexpr SECURITY_STATUS NTE_PROV_DLL_NOT_FOUND = static_cast<LONG>(0x8009001E);
constexpr SECURITY_STATUS NTE_FAIL = static_cast<LONG>(0x80090020);
constexpr SECURITY_STATUS NTE_INVALID_HANDLE = static_cast<LONG>(0x80090026);
constexpr SECURITY_STATUS NTE_INVALID_PARAMETER = static_cast<LONG>(0x80090027);
constexpr SECURITY_STATUS NTE_BUFFER_TOO_SMALL = static_cast<LONG>(0x80090028);
constexpr SECURITY_STATUS NTE_NOT_SUPPORTED = static_cast<LONG>(0x80090029);
constexpr SECURITY_STATUS NTE_NO_MORE_ITEMS = static_cast<LONG>(0x8009002A);
constexpr SECURITY_STATUS NTE_INTERNAL_ERROR = static_cast<LONG>(0x8009002D);
constexpr SECURITY_STATUS SCARD_E_CANCELLED = static_cast<LONG>(0x80100002);
constexpr SECURITY_STATUS SCARD_W_CANCELLED_BY_USER = static_cast<LONG>(0x8010006E);
constexpr NTSTATUS STATUS_SUCCESS = 0;
constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<LONG>(0xC0000008);
constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<LONG>(0xC000000D);
constexpr NTSTATUS STATUS_NO_MEMORY = static_cast<LONG>(0xC0000017);
constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = static_cast<LONG>(0xC0000023);
constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = static_cast<LONG>(0xC000009A);
constexpr NTSTATUS STATUS_NOT_SUPPORTED = static_cast<LONG>(0xC00000BB);
constexpr NTSTATUS STATUS_NOT_FOUND = static_cast<LONG>(0xC0000225);
constexpr NTSTATUS STATUS_INVALID_SIGNATURE = static_cast<LONG>(0xC000A000);

// Flags.
constexpr DWORD NCRYPT_NO_PADDING_FLAG = 0x1;
constexpr DWORD NCRYPT_PAD_PKCS1_FLAG = 0x2;
constexpr DWORD NCRYPT_PAD_OAEP_FLAG = 0x4;
constexpr DWORD NCRYPT_PAD_PSS_FLAG = 0x8;
constexpr DWORD NCRYPT_NO_KEY_VALIDATION = 0x8;
constexpr DWORD NCRYPT_MACHINE_KEY_FLAG = 0x20;
constexpr DWORD NCRYPT_SILENT_FLAG = 0x40;
constexpr DWORD NCRYPT_OVERWRITE_KEY_FLAG = 0x80;
constexpr DWORD NCRYPT_WRITE_KEY_TO_LEGACY_STORE_FLAG = 0x200;
constexpr DWORD NCRYPT_DO_NOT_FINALIZE_FLAG = 0x400;
constexpr DWORD NCRYPT_ALLOW_PLAINTEXT_EXPORT_FLAG = 0x2;
constexpr DWORD NCRYPT_ALLOW_DECRYPT_FLAG = 0x1;
constexpr DWORD NCRYPT_ALLOW_SIGNING_FLAG = 0x2;
constexpr DWORD BCRYPT_RSAPUBLIC_MAGIC = 0x31415352; // "RSA1"

struct BCRYPT_INTERFACE_VERSION {
    USHORT MajorVersion;
    USHORT MinorVersion;
};

struct NCryptBuffer {
    ULONG cbBuffer;
    ULONG BufferType;
    PVOID pvBuffer;
};

struct NCryptBufferDesc {
    ULONG ulVersion;
    ULONG cBuffers;
    NCryptBuffer* pBuffers;
};

struct NCryptKeyName {
    LPWSTR pszName;
    LPWSTR pszAlgid;
    DWORD dwLegacyKeySpec;
    DWORD dwFlags;
};

struct NCryptAlgorithmName {
    LPWSTR pszName;
    DWORD dwClass;
    DWORD dwAlgOperations;
    DWORD dwFlags;
};

// The provider's entry points, in the order of the published table.
#define VELA5_KSP_ENTRY_POINTS(X)                                                                            \
    X(OpenProvider, (NCRYPT_PROV_HANDLE * phProvider, LPCWSTR pszProviderName, DWORD dwFlags))               \
    X(OpenKey,                                                                                               \
        (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE * phKey, LPCWSTR pszKeyName, DWORD dwLegacyKeySpec, \
            DWORD dwFlags))                                                                                  \
    X(CreatePersistedKey,                                                                                    \
        (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE * phKey, LPCWSTR pszAlgId, LPCWSTR pszKeyName,      \
            DWORD dwLegacyKeySpec, DWORD dwFlags))                                                           \
    X(GetProviderProperty,                                                                                   \
        (NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszProperty, PBYTE pbOutput, DWORD cbOutput,                  \
            DWORD * pcbResult, DWORD dwFlags))                                                               \
    X(GetKeyProperty,                                                                                        \
        (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, LPCWSTR pszProperty, PBYTE pbOutput,          \
            DWORD cbOutput, DWORD * pcbResult, DWORD dwFlags))                                               \
    X(SetProviderProperty,                                                                                   \
        (NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszProperty, PBYTE pbInput, DWORD cbInput, DWORD dwFlags))    \
    X(SetKeyProperty,                                                                                        \
        (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, LPCWSTR pszProperty, PBYTE pbInput,           \
            DWORD cbInput, DWORD dwFlags))                                                                   \
    X(FinalizeKey, (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, DWORD dwFlags))                    \
    X(DeleteKey, (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, DWORD dwFlags))                      \
    X(FreeProvider, (NCRYPT_PROV_HANDLE hProvider))                                                          \
    X(FreeKey, (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey))                                       \
    X(FreeBuffer, (PVOID pvInput))                                                                           \
    X(Encrypt,                                                                                               \
        (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, PBYTE pbInput, DWORD cbInput,                 \
            PVOID pPaddingInfo, PBYTE pbOutput, DWORD cbOutput, DWORD * pcbResult, DWORD dwFlags))           \
    X(Decrypt,                                                                                               \
        (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, PBYTE pbInput, DWORD cbInput,                 \
            PVOID pPaddingInfo, PBYTE pbOutput, DWORD cbOutput, DWORD * pcbResult, DWORD dwFlags))           \
    X(IsAlgSupported, (NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszAlgId, DWORD dwFlags))                       \
    X(EnumAlgorithms,                                                                                        \
        (NCRYPT_PROV_HANDLE hProvider, DWORD dwAlgOperations, DWORD * pdwAlgCount,                           \
            NCryptAlgorithmName * *ppAlgList, DWORD dwFlags))                                                \
    X(EnumKeys,                                                                                              \
        (NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszScope, NCryptKeyName * *ppKeyName, PVOID * ppEnumState,    \
            DWORD dwFlags))                                                                                  \
    X(ImportKey,                                                                                             \
        (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hImportKey, LPCWSTR pszBlobType,                    \
            NCryptBufferDesc * pParameterList, NCRYPT_KEY_HANDLE * phKey, PBYTE pbData, DWORD cbData,        \
            DWORD dwFlags))                                                                                  \
    X(ExportKey,                                                                                             \
        (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, NCRYPT_KEY_HANDLE hExportKey,                 \
            LPCWSTR pszBlobType, NCryptBufferDesc * pParameterList, PBYTE pbOutput, DWORD cbOutput,          \
            DWORD * pcbResult, DWORD dwFlags))                                                               \
    X(SignHash,                                                                                              \
        (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, PVOID pPaddingInfo, PBYTE pbHashValue,        \
            DWORD cbHashValue, PBYTE pbSignature, DWORD cbSignature, DWORD * pcbResult, DWORD dwFlags))      \
    X(VerifySignature,                                                                                       \
        (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, PVOID pPaddingInfo, PBYTE pbHashValue,        \
            DWORD cbHashValue, PBYTE pbSignature, DWORD cbSignature, DWORD dwFlags))                         \
    X(PromptUser,                                                                                            \
        (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, LPCWSTR pszOperation, DWORD dwFlags))         \
    X(NotifyChangeKey, (NCRYPT_PROV_HANDLE hProvider, HANDLE * phEvent, DWORD dwFlags))                      \
    X(SecretAgreement,                                                                                       \
        (NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hPrivKey, NCRYPT_KEY_HANDLE hPubKey,                \
            NCRYPT_SECRET_HANDLE * phAgreedSecret, DWORD dwFlags))                                           \
    X(DeriveKey,                                                                                             \
        (NCRYPT_PROV_HANDLE hProvider, NCRYPT_SECRET_HANDLE hSharedSecret, LPCWSTR pwszKDF,                  \
            NCryptBufferDesc * pParameterList, PBYTE pbDerivedKey, DWORD cbDerivedKey, DWORD * pcbResult,    \
            ULONG dwFlags))                                                                                  \
    X(FreeSecret, (NCRYPT_PROV_HANDLE hProvider, NCRYPT_SECRET_HANDLE hSharedSecret))

#define VELA5_CNG_FN_TYPE(name, params) using NCrypt##name##Fn = SECURITY_STATUS(*) params;
VELA5_KSP_ENTRY_POINTS(VELA5_CNG_FN_TYPE)
#undef VELA5_CNG_FN_TYPE

struct NCRYPT_KEY_STORAGE_FUNCTION_TABLE {
    BCRYPT_INTERFACE_VERSION Version;
#define VELA5_CNG_FN_FIELD(name, params) NCrypt##name##Fn name;
    VELA5_KSP_ENTRY_POINTS(VELA5_CNG_FN_FIELD)
#undef VELA5_CNG_FN_FIELD
};

using GetKeyStorageInterfaceFn = SECURITY_STATUS (*)(
    LPCWSTR pszProviderName, NCRYPT_KEY_STORAGE_FUNCTION_TABLE** ppFunctionTable, DWORD dwFlags);

// Where the router finds registered providers (under HKLM).
inline constexpr const char* kCngProvidersKey = "System\\CurrentControlSet\\Control\\Cryptography\\Providers";
