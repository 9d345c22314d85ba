// The secret keys and data objects of a token as their managers list them.
// Every attribute is read length first, so a long label, ID or value never
// makes a listing fail or be cut, and every text is bounded by the length
// the module returned.
#pragma once

#include "pkcs11/pkcs11.h"

#include <cstdint>
#include <vector>
#include <wx/string.h>

class NRVCMUCryptoki;

// At most this many objects are listed at once.
constexpr CK_ULONG kMaxListedManagerObjects = 10;

struct SecretKeyEntry {
    CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
    wxString label;
    // ~0 when the module gave no CK_ULONG: listed as "ERROR".
    CK_KEY_TYPE keyType = ~CK_KEY_TYPE(0);
    std::vector<uint8_t> id;
    // Only when adding; wiped with the entry.
    std::vector<uint8_t> value;
    bool modifiable = false;
    bool encrypt = false;
    bool decrypt = false;
    bool sign = false;
    bool verify = false;
    bool wrap = false;
    bool unwrap = false;
    bool derive = false;

    SecretKeyEntry() = default;
    SecretKeyEntry(const SecretKeyEntry&) = default;
    SecretKeyEntry(SecretKeyEntry&&) = default;
    SecretKeyEntry& operator=(const SecretKeyEntry&) = default;
    SecretKeyEntry& operator=(SecretKeyEntry&&) = default;
    ~SecretKeyEntry();
    void WipeValue();
};

struct DataObjectEntry {
    CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
    bool isPublic = true;
    wxString application;
    wxString objectId;
    wxString label;
};

// Handles of objects matching filter, up to maxHandles, in the module's order.
CK_RV FindObjectHandles(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, CK_ATTRIBUTE* filter,
    CK_ULONG count, CK_ULONG maxHandles, std::vector<CK_OBJECT_HANDLE>& handles);

// Token secret keys (CKO_SECRET_KEY, CKA_TOKEN true), at most ten.
CK_RV FindSecretKeys(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session,
    std::vector<CK_OBJECT_HANDLE>& handles, CK_ULONG maxHandles = kMaxListedManagerObjects);
CK_RV ListSecretKeys(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, std::vector<SecretKeyEntry>& keys);

// Data objects (CKO_DATA), at most ten.
CK_RV FindDataObjects(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session,
    std::vector<CK_OBJECT_HANDLE>& handles, CK_ULONG maxHandles = kMaxListedManagerObjects);
CK_RV ListDataObjects(
    NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, std::vector<DataObjectEntry>& objects);

// A data object's text: the bytes up to the first zero, "<NONE>" when empty.
wxString DataObjectText(const std::vector<uint8_t>& bytes);
