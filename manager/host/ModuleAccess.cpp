#include "ModuleAccess.h"

#include "TokenActionHost.h"

#include <utility>

ModuleAccess::ModuleAccess(TokenActionHost& host)
{
    Acquire(host);
}

ModuleAccess::~ModuleAccess()
{
    End();
}

ModuleAccess::ModuleAccess(ModuleAccess&& other) noexcept
    : m_host(std::exchange(other.m_host, nullptr))
{
}

ModuleAccess& ModuleAccess::operator=(ModuleAccess&& other) noexcept
{
    if (this != &other) {
        End();
        m_host = std::exchange(other.m_host, nullptr);
    }
    return *this;
}

void ModuleAccess::Acquire(TokenActionHost& host)
{
    if (m_host == nullptr) {
        host.PausePolling();
        m_host = &host;
    }
}

void ModuleAccess::End()
{
    if (TokenActionHost* host = std::exchange(m_host, nullptr)) {
        host->ResumePolling();
    }
}
