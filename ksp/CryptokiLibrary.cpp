#include "ksp/CryptokiLibrary.h"

#include "pkcs11/ModuleFileName.h"

#include <dlfcn.h>

CryptokiLibrary::CryptokiLibrary()
    : m_log(false)
{
}

bool CryptokiLibrary::Ready(std::string& failure)
{
    std::call_once(m_once, [this] { Load(); });
    failure = m_failure;
    return m_ready;
}

void CryptokiLibrary::Load()
{
    m_module = dlopen(Vela5ModuleFileName(), RTLD_NOW | RTLD_LOCAL);
    if (m_module == nullptr) {
        m_log.Write("Failed to load PKCS#11 Library.\n");
        m_failure = "Failed to load PKCS#11 Library.";
        return;
    }
    m_log.Write("PKCS#11 library loaded successfully");
    m_getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(m_module, "C_GetFunctionList"));
    bool listed = false;
    if (m_getFunctionList == nullptr) {
        m_log.Write("Failed to get function list");
    } else {
        m_log.Write("Get Function List success");
        m_getFunctionListResult = m_getFunctionList(&m_functions);
        if (m_getFunctionListResult == CKR_OK && m_functions != nullptr) {
            m_log.Write("Load Function List success");
            listed = true;
        } else {
            m_log.Write("Failed to load function list");
        }
    }
    if (!listed) {
        m_functions = nullptr;
        m_log.Write("Failed to retrieve middleware function list.");
        m_failure = "Failed to retrieve middleware function list.";
        return;
    }
    m_log.Write("PKCS#11 library function list retrieved");
    const CK_RV initialized = m_functions->C_Initialize(nullptr);
    if (initialized != CKR_OK && initialized != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        m_log.Write("Failed to intialize PKCS middleware.");
        m_failure = "Failed to intialize PKCS middleware.";
        return;
    }
    m_log.Write("PKCS#11 library initialized successfully");
    CK_INFO info {};
    m_makers = m_functions->C_GetInfo(&info) == CKR_OK && NRV_IsMakersModule(&info);
    m_ready = true;
}
