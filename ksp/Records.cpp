#include "ksp/Records.h"

#include <unordered_set>

namespace {

struct LiveRecords {
    std::mutex lock;
    std::unordered_set<const void*> providers;
    std::unordered_set<const void*> keys;
};

LiveRecords& Live()
{
    // Never destroyed: entry points may still run while the process ends.
    static auto* live = new LiveRecords;
    return *live;
}

} // namespace

void RegisterProvider(ProviderContext* provider)
{
    const std::lock_guard guard(Live().lock);
    Live().providers.insert(provider);
}

void UnregisterProvider(ProviderContext* provider)
{
    const std::lock_guard guard(Live().lock);
    Live().providers.erase(provider);
}

void RegisterKey(KeyContext* key)
{
    const std::lock_guard guard(Live().lock);
    Live().keys.insert(key);
}

void UnregisterKey(KeyContext* key)
{
    const std::lock_guard guard(Live().lock);
    Live().keys.erase(key);
}

ProviderContext* ValidateProvider(NCRYPT_PROV_HANDLE handle)
{
    auto* provider = reinterpret_cast<ProviderContext*>(handle);
    if (provider == nullptr) {
        return nullptr;
    }
    const std::lock_guard guard(Live().lock);
    // Only a live record is read: any other address may not be memory of ours.
    if (Live().providers.count(provider) == 0) {
        return nullptr;
    }
    if (provider->cbLength < kProviderHeaderSize || provider->dwMagic != kProviderMagic) {
        return nullptr;
    }
    return provider;
}

KeyContext* ValidateKey(NCRYPT_KEY_HANDLE handle)
{
    auto* key = reinterpret_cast<KeyContext*>(handle);
    if (key == nullptr) {
        return nullptr;
    }
    const std::lock_guard guard(Live().lock);
    if (Live().keys.count(key) == 0) {
        return nullptr;
    }
    if (key->cbLength < sizeof(KeyContext) || key->dwMagic != BCRYPT_RSAPUBLIC_MAGIC) {
        return nullptr;
    }
    return key;
}
