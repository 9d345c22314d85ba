// Destroys a token object that an operation created unless the operation
// releases it at its end, so a change that fails half-way leaves the token
// as it was. Any manager window that creates several objects for one change
// uses it.
#pragma once

#include "manager/core/NRVCMUCryptoki.h"
#include "pkcs11/pkcs11.h"

#include <utility>

class TokenObjectGuard final {
public:
    TokenObjectGuard(NRVCMUCryptoki& cryptoki, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object)
        : m_cryptoki(&cryptoki)
        , m_session(session)
        , m_object(object)
    {
    }
    ~TokenObjectGuard()
    {
        // Nothing to report to: the operation's own failure is what the user sees.
        if (m_object != CK_INVALID_HANDLE) {
            m_cryptoki->DestroyObject(m_session, m_object);
        }
    }
    TokenObjectGuard(TokenObjectGuard&& other) noexcept
        : m_cryptoki(other.m_cryptoki)
        , m_session(other.m_session)
        , m_object(std::exchange(other.m_object, CK_INVALID_HANDLE))
    {
    }
    TokenObjectGuard(const TokenObjectGuard&) = delete;
    TokenObjectGuard& operator=(const TokenObjectGuard&) = delete;
    TokenObjectGuard& operator=(TokenObjectGuard&&) = delete;

    // The operation succeeded: the object stays.
    void Release() { m_object = CK_INVALID_HANDLE; }

private:
    NRVCMUCryptoki* m_cryptoki;
    CK_SESSION_HANDLE m_session;
    CK_OBJECT_HANDLE m_object;
};
