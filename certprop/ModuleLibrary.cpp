#include "certprop/ModuleLibrary.h"

#include <dlfcn.h>
#include <filesystem>
#include <system_error>

namespace CertProp {

ModuleLibrary::~ModuleLibrary()
{
    Free();
}

bool ModuleLibrary::Load(const std::string& fileName)
{
    Free();
    if (fileName.find('/') == std::string::npos) {
        std::error_code error;
        const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
        if (!error) {
            const std::filesystem::path beside = self.parent_path() / fileName;
            if (std::filesystem::exists(beside, error)) {
                m_handle = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
            }
        }
    }
    if (m_handle == nullptr) {
        m_handle = ::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    return m_handle != nullptr;
}

void* ModuleLibrary::Symbol(const char* name) const
{
    return m_handle != nullptr ? ::dlsym(m_handle, name) : nullptr;
}

void ModuleLibrary::Free()
{
    if (m_handle != nullptr) {
        ::dlclose(m_handle);
        m_handle = nullptr;
    }
}

} // namespace CertProp
