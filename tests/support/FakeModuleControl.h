// The fake token modules' own controls, shared by the manager's client tests.
// They are reached through a second handle on the loaded module, so they see
// the state the client's calls left.
#pragma once

#include "pkcs11/pkcs11.h"

#include <dlfcn.h>
#include <filesystem>
#include <stdexcept>
#include <string>

// The fakes are built beside the test programs.
inline std::string FakePath(const char* name)
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

class FakeModuleControl final {
public:
    // Resets the journal and every chosen result.
    explicit FakeModuleControl(const std::string& path)
        : m_handle(dlopen(path.c_str(), RTLD_NOW))
    {
        if (m_handle == nullptr) {
            throw std::runtime_error("cannot load " + path);
        }
        m_journal = reinterpret_cast<const char* (*)()>(dlsym(m_handle, "FakeModule_Journal"));
        m_reset = reinterpret_cast<void (*)()>(dlsym(m_handle, "FakeModule_Reset"));
        m_setResult = reinterpret_cast<void (*)(const char*, CK_RV)>(dlsym(m_handle, "FakeModule_SetResult"));
        Reset();
    }
    ~FakeModuleControl() { dlclose(m_handle); }
    FakeModuleControl(const FakeModuleControl&) = delete;
    FakeModuleControl& operator=(const FakeModuleControl&) = delete;

    // One "name(arguments)" line per call, oldest first.
    std::string Journal() const { return m_journal(); }
    // "C_Sign" answers every call; "C_GetSlotList(1,list)" only calls with
    // those arguments, and wins over the plain name.
    void SetResult(const char* call, CK_RV code) { m_setResult(call, code); }
    void Reset() { m_reset(); }

private:
    void* m_handle = nullptr;
    const char* (*m_journal)() = nullptr;
    void (*m_reset)() = nullptr;
    void (*m_setResult)(const char*, CK_RV) = nullptr;
};
