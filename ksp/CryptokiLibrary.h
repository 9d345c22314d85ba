// Holds the token module for the whole process. The module is loaded and
// initialised on first use rather than while the host loads the provider,
// so a missing or broken module fails each open with its text and
// NTE_INTERNAL_ERROR instead of refusing the load or ending the host.
// It is never finalised nor unloaded.
#pragma once

#include "ksp/DebugClass.h"
#include "pkcs11/pkcs11.h"

#include <mutex>
#include <string>

class CryptokiLibrary final {
public:
    CryptokiLibrary();

    // True once the module is loaded, listed and initialised; otherwise
    // failure holds the text of the step that failed. Tried once per process.
    bool Ready(std::string& failure);
    CK_FUNCTION_LIST_PTR Functions() const { return m_functions; }
    // Vendor entries exist only in the maker's module's list.
    bool IsMakersModule() const { return m_makers; }
    CK_RV LastGetFunctionListResult() const { return m_getFunctionListResult; }

private:
    void Load();

    std::once_flag m_once;
    void* m_module = nullptr;
    CK_C_GetFunctionList m_getFunctionList = nullptr;
    CK_FUNCTION_LIST_PTR m_functions = nullptr;
    CK_RV m_getFunctionListResult = CKR_OK;
    bool m_ready = false;
    bool m_makers = false;
    std::string m_failure;
    DebugClass m_log;
};
