// The token module the agent loads at run time: found by its plain name
// beside the program first, then in the system's search order.
#pragma once

#include <string>

namespace CertProp {

class ModuleLibrary final {
public:
    ModuleLibrary() = default;
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    bool Load(const std::string& fileName);
    void* Symbol(const char* name) const;
    void Free();

private:
    void* m_handle = nullptr;
};

} // namespace CertProp
