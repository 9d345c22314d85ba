#include "ksp/Globals.h"

namespace {
// One translation unit, so they are constructed in the order written.
// Allocated and never destroyed: the router may call in while the process ends.
DebugClass* g_helperLog = new DebugClass(false);
DebugClass* g_entryLog = new DebugClass(true);
CryptokiLibrary* g_cryptoki = new CryptokiLibrary();
PinManager* g_pinManager = new PinManager();
ProviderCache* g_providerCache = new ProviderCache();
DebugClass* g_staticLog = new DebugClass(false);
} // namespace

DebugClass& HelperLog()
{
    return *g_helperLog;
}

DebugClass& EntryLog()
{
    return *g_entryLog;
}

CryptokiLibrary& Cryptoki()
{
    return *g_cryptoki;
}

PinManager& ThePinManager()
{
    return *g_pinManager;
}

ProviderCache& TheProviderCache()
{
    return *g_providerCache;
}

DebugClass& StaticLog()
{
    return *g_staticLog;
}
