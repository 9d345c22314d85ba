// The provider's process-wide objects, created when the library is loaded in
// this order: the helpers' log writer, the entry points' log writer (which
// writes the start banner), the token module holder, the PIN cache, the
// provider cache and one further log writer. They live until the process ends.
#pragma once

#include "ksp/CryptokiLibrary.h"
#include "ksp/DebugClass.h"
#include "ksp/PinManager.h"
#include "ksp/ProviderCache.h"

DebugClass& HelperLog();
DebugClass& EntryLog();
CryptokiLibrary& Cryptoki();
PinManager& ThePinManager();
ProviderCache& TheProviderCache();
DebugClass& StaticLog();
