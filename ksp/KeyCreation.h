// Shared by the creation and import entry points: a new key record and its
// release, and the lines of a CK_RV.
#pragma once

#include "ksp/Records.h"

#include <string>

// A zeroed record with the creation defaults (and a copy of name); null
// with the code in result when that fails.
KeyContext* NewKeyRecord(LPCWSTR name, SECURITY_STATUS& result);
// Wipes what the record owns and releases it; it must not be registered.
void ReleaseKeyRecord(KeyContext* key);
// "0x%08X" of a module result.
std::string HexCode(unsigned long value);
