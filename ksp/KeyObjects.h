// The provider's key object list: the token's RSA key objects, paired by
// equal CKA_ID into one KeyContext each and named after the ID (KeyNames).
// An object with an empty CKA_ID has no name and no partner, so it is left
// out of the list (with a log line) rather than listed unnamed.
#pragma once

#include "ksp/Records.h"

#include <cstdint>

// Returned through ppEnumState; released by the caller with FreeBuffer.
struct EnumState {
    std::int32_t index;
    std::uint64_t reserved[2];
};

constexpr std::size_t kMaxKeyName = 260;

// Fills a zeroed record with the creation defaults and a copy of name (may
// be null). NTE_INVALID_PARAMETER for a name of 260 characters or more.
SECURITY_STATUS CreateKeyContext(LPCWSTR name, KeyContext& key);
// Wipes and releases what a record owns; the record itself stays.
void ReleaseKeyBuffers(KeyContext& key);

// Reloads the provider's list, logging the User in first when the token
// has a PIN (its private keys are hidden until then).
SECURITY_STATUS InitializeObjectList(ProviderContext* provider);
// Adds one object; objects with equal IDs become one key.
SECURITY_STATUS AddKeyToObjectList(ProviderContext* provider, CK_OBJECT_HANDLE handle, bool isPublic,
    const BYTE* id, std::size_t idLength, CK_ULONG modulusBits);
// Copies the entry name opens into target: ERROR_SUCCESS, NTE_BAD_KEYSET
// (no entry, or several equally good ones), or the loading error.
SECURITY_STATUS FindKeyFromObjectList(ProviderContext* provider, LPCWSTR name, KeyContext& target);
// The next name of an enumeration, allocating the state on the first call.
SECURITY_STATUS ReadKeyNameFromKeyObjectList(
    ProviderContext* provider, EnumState*& state, NCryptKeyName*& keyName);
// Takes a deleted key's entry out of the list.
void RemoveFromObjectList(ProviderContext* provider, const KeyContext& key);
