// The provider's key object list: released with the provider.
#pragma once

#include "ksp/Records.h"

// Wipes and releases every key's buffers, then the list; clears both fields.
void ReleaseKeyList(KeyContext*& list, DWORD& count);
