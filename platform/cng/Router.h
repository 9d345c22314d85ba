// The router: finds a key storage provider registered in the registry layer
// under HKLM\System\CurrentControlSet\Control\Cryptography\Providers\<name>
// (values "Image", "Aliases", "Default Key Length"), loads its image, asks it
// for its function table and hands calls through, the way applications
// reach a provider.
#pragma once

#include "platform/cng/Cng.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vela5::platform::Cng {

struct RegisteredProvider {
    std::string name; // the registration key's name
    std::string image; // the shared library: a path, or a plain name found the loader's way
    std::vector<std::string> aliases;
    uint32_t defaultKeyLength = 0; // 0 when not registered
};

// Registry status (Registry::Status values).
long ListProviders(std::vector<RegisteredProvider>& providers);
// The provider registered under this name, or listing it among its aliases
// (exact comparison).
long FindProvider(std::string_view name, RegisteredProvider& provider);
long RegisterProvider(const RegisteredProvider& provider);
long UnregisterProvider(std::string_view name);

// A loaded provider. The image stays loaded until the process ends, as the
// provider may have handed out records and threads that live in it.
class Provider final {
public:
    // NTE_BAD_PROVIDER when nothing is registered under the name,
    // NTE_PROV_DLL_NOT_FOUND when the image cannot be loaded or has no
    // GetKeyStorageInterface, else what GetKeyStorageInterface returns.
    // error receives one line saying what went wrong.
    SECURITY_STATUS Load(std::string_view name, std::string& error);

    // GetKeyStorageInterface of the loaded image, with any name.
    SECURITY_STATUS GetInterface(LPCWSTR name, NCRYPT_KEY_STORAGE_FUNCTION_TABLE** table, DWORD flags) const;
    const NCRYPT_KEY_STORAGE_FUNCTION_TABLE* Table() const { return m_table; }
    const RegisteredProvider& Registration() const { return m_registration; }

    // NCryptOpenStorageProvider and NCryptFreeObject on a provider handle.
    SECURITY_STATUS Open(NCRYPT_PROV_HANDLE* handle, std::u16string_view name, DWORD flags) const;
    SECURITY_STATUS Free(NCRYPT_PROV_HANDLE handle) const;

private:
    RegisteredProvider m_registration;
    GetKeyStorageInterfaceFn m_getInterface = nullptr;
    NCRYPT_KEY_STORAGE_FUNCTION_TABLE* m_table = nullptr;
};

} // namespace vela5::platform::Cng
