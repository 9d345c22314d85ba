#include "platform/cng/Router.h"

#include "platform/cng/WideText.h"
#include "platform/registry/Registry.h"

#include <cstdio>
#include <dlfcn.h>

namespace vela5::platform::Cng {

namespace {

std::string KeyPath(std::string_view name)
{
    return std::string(kCngProvidersKey) + "\\" + std::string(name);
}

long ReadProvider(const std::string& name, RegisteredProvider& provider)
{
    Registry::Key key;
    const long status = Registry::Key::Open(
        Registry::Hive::LocalMachine, KeyPath(name), Registry::Access::Read, Registry::View::Native, key);
    if (status != Registry::Success) {
        return status;
    }
    provider = RegisteredProvider {};
    provider.name = name;
    const long image = key.GetString("Image", provider.image);
    if (image != Registry::Success) {
        return image;
    }
    key.GetMultiString("Aliases", provider.aliases);
    key.GetDWord("Default Key Length", provider.defaultKeyLength);
    return Registry::Success;
}

} // namespace

long ListProviders(std::vector<RegisteredProvider>& providers)
{
    providers.clear();
    Registry::Key key;
    const long status = Registry::Key::Open(
        Registry::Hive::LocalMachine, kCngProvidersKey, Registry::Access::Read, Registry::View::Native, key);
    if (status == Registry::NotFound) {
        return Registry::Success;
    }
    if (status != Registry::Success) {
        return status;
    }
    std::vector<std::string> names;
    const long listed = key.EnumSubKeyNames(names);
    if (listed != Registry::Success) {
        return listed;
    }
    for (const std::string& name : names) {
        RegisteredProvider provider;
        // A key without an image is no key storage provider we can load.
        if (ReadProvider(name, provider) == Registry::Success) {
            providers.push_back(std::move(provider));
        }
    }
    return Registry::Success;
}

long FindProvider(std::string_view name, RegisteredProvider& provider)
{
    std::vector<RegisteredProvider> providers;
    const long status = ListProviders(providers);
    if (status != Registry::Success) {
        return status;
    }
    for (const RegisteredProvider& candidate : providers) {
        if (candidate.name == name) {
            provider = candidate;
            return Registry::Success;
        }
    }
    for (const RegisteredProvider& candidate : providers) {
        for (const std::string& alias : candidate.aliases) {
            if (alias == name) {
                provider = candidate;
                return Registry::Success;
            }
        }
    }
    return Registry::NotFound;
}

long RegisterProvider(const RegisteredProvider& provider)
{
    Registry::Key key;
    long status = Registry::Key::Create(
        Registry::Hive::LocalMachine, KeyPath(provider.name), Registry::View::Native, key);
    if (status == Registry::Success) {
        status = key.SetString("Image", provider.image);
    }
    if (status == Registry::Success) {
        status = key.SetMultiString("Aliases", provider.aliases);
    }
    if (status == Registry::Success && provider.defaultKeyLength != 0) {
        status = key.SetDWord("Default Key Length", provider.defaultKeyLength);
    }
    return status;
}

long UnregisterProvider(std::string_view name)
{
    return Registry::Key::DeleteTree(Registry::Hive::LocalMachine, KeyPath(name), Registry::View::Native);
}

SECURITY_STATUS Provider::Load(std::string_view name, std::string& error)
{
    if (FindProvider(name, m_registration) != Registry::Success) {
        error = "no key storage provider is registered as \"" + std::string(name) + "\"";
        return NTE_BAD_PROVIDER;
    }
    void* image = dlopen(m_registration.image.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (image == nullptr) {
        const char* reason = dlerror();
        error
            = "cannot load " + m_registration.image + ": " + (reason != nullptr ? reason : "unknown reason");
        return NTE_PROV_DLL_NOT_FOUND;
    }
    m_getInterface = reinterpret_cast<GetKeyStorageInterfaceFn>(dlsym(image, "GetKeyStorageInterface"));
    if (m_getInterface == nullptr) {
        error = m_registration.image + " has no GetKeyStorageInterface";
        return NTE_PROV_DLL_NOT_FOUND;
    }
    const std::u16string wide = Widen(name);
    NCRYPT_KEY_STORAGE_FUNCTION_TABLE* table = nullptr;
    const SECURITY_STATUS status = m_getInterface(wide.c_str(), &table, 0);
    if (status != ERROR_SUCCESS || table == nullptr) {
        char text[80];
        std::snprintf(
            text, sizeof text, "GetKeyStorageInterface failed: 0x%08X", static_cast<unsigned>(status));
        error = text;
        return status != ERROR_SUCCESS ? status : NTE_PROV_DLL_NOT_FOUND;
    }
    m_table = table;
    return ERROR_SUCCESS;
}

SECURITY_STATUS Provider::GetInterface(
    LPCWSTR name, NCRYPT_KEY_STORAGE_FUNCTION_TABLE** table, DWORD flags) const
{
    return m_getInterface == nullptr ? NTE_PROV_DLL_NOT_FOUND : m_getInterface(name, table, flags);
}

SECURITY_STATUS Provider::Open(NCRYPT_PROV_HANDLE* handle, std::u16string_view name, DWORD flags) const
{
    if (m_table == nullptr) {
        return NTE_PROV_DLL_NOT_FOUND;
    }
    const std::u16string terminated(name);
    return m_table->OpenProvider(handle, terminated.c_str(), flags);
}

SECURITY_STATUS Provider::Free(NCRYPT_PROV_HANDLE handle) const
{
    return m_table == nullptr ? NTE_PROV_DLL_NOT_FOUND : m_table->FreeProvider(handle);
}

} // namespace vela5::platform::Cng
