// The layout of the provider's handle records. A handle is the record's
// address; programs that load the provider by name read the records through
// it, so the layout is kept apart from the provider's code.
#pragma once

#include "pkcs11/pkcs11.h"
#include "platform/cng/Cng.h"

#include <cstdint>
#include <mutex>

// "VELA" in memory order.
constexpr DWORD kProviderMagic = 0x414C4556;
constexpr DWORD kProviderHeaderSize = 128;

struct KeyContext;

struct ProviderContext {
    DWORD cbLength; // 128 + byte size of the provider name with its terminator
    DWORD dwMagic;
    LONG reserved;
    LPWSTR pszProviderName;
    LPWSTR pszContext; // "Use Context" property, may be null
    CK_SESSION_HANDLE hSession;
    KeyContext* pKeyObjectList;
    DWORD cKeyObjects;
    LPWSTR pszPin; // normally null
    LPWSTR pszReaderName; // at most 32 characters
    CK_SLOT_ID slotId;
    HWND hWnd;
    std::mutex* lock; // allocated at creation, usable once the open succeeded
};

struct KeyContext {
    DWORD cbLength;
    DWORD dwMagic; // BCRYPT_RSAPUBLIC_MAGIC
    LPWSTR pszKeyName;
    PBYTE pbKeyFile;
    LPCWSTR pszBlobType;
    DWORD cbKeyName;
    DWORD dwAlgId;
    DWORD dwKeyLength;
    DWORD dwExportPolicy;
    DWORD dwKeyUsage;
    DWORD dwOverwrite;
    DWORD fFinished;
    PBYTE pbKeyFileData;
    DWORD cbKeyFileData;
    PBYTE pbPrivateKey;
    DWORD cbPrivateKey;
    BCRYPT_ALG_HANDLE hAlgorithm;
    std::uint64_t reserved[2];
    CK_OBJECT_HANDLE hPublicKey;
    CK_OBJECT_HANDLE hPrivateKey;
    BYTE ckaId[200];
    DWORD cbCkaId;
    PBYTE pbSecurityDescriptor;
    DWORD cbSecurityDescriptor;
    void* pPropertyList;
    BYTE publicExponent[4];
    PBYTE pbModulus;
    PBYTE pbPrime1;
    PBYTE pbPrime2;
    PBYTE pbExponent1;
    PBYTE pbExponent2;
    PBYTE pbCoefficient;
    PBYTE pbPrivateExponent;
};
