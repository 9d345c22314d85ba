// The provider's live handle records. A record validates only while it is
// registered as live, so a freed record, a foreign pointer or a stale copy of
// a handle never validates again.
#pragma once

#include "ksp/abi/HandleRecords.h"

// Live records. Register after creation, Unregister before release.
void RegisterProvider(ProviderContext* provider);
void UnregisterProvider(ProviderContext* provider);
void RegisterKey(KeyContext* key);
void UnregisterKey(KeyContext* key);

// The record behind a handle, or null when it does not validate: non-null,
// live, cbLength at least the record's minimum and the right magic.
ProviderContext* ValidateProvider(NCRYPT_PROV_HANDLE handle);
KeyContext* ValidateKey(NCRYPT_KEY_HANDLE handle);
