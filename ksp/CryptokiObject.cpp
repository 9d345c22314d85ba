#include "ksp/CryptokiObject.h"

#include "platform/secure_memory/SecureMemory.h"

using namespace vela5::platform;

CryptokiObject::CryptokiObject(
    CK_OBJECT_CLASS objectClass, CryptokiLibrary* library, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle)
    : m_class(objectClass)
    , m_handle(handle)
    , m_session(session)
    , m_library(library)
    , m_log(false)
{
}

CryptokiObject::~CryptokiObject()
{
    SecureMemory::Wipe(m_label.data(), m_label.size());
}

CK_RV CryptokiObject::Destroy()
{
    if (m_session == 0 || m_handle == 0 || m_library == nullptr || m_library->Functions() == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    const CK_RV rv = m_library->Functions()->C_DestroyObject(m_session, m_handle);
    if (rv == CKR_OK) {
        m_handle = 0;
    }
    return rv;
}

PublicKey::PublicKey(CryptokiLibrary* library, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle)
    : CryptokiObject(CKO_PUBLIC_KEY, library, session, handle)
{
}

PublicKey::~PublicKey()
{
    SecureMemory::Wipe(publicExponent, sizeof publicExponent);
    SecureMemory::Wipe(idSource, sizeof idSource);
}

PrivateKey::PrivateKey(CryptokiLibrary* library, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle)
    : CryptokiObject(CKO_PRIVATE_KEY, library, session, handle)
{
    m_private = CK_TRUE;
    m_sensitive = CK_TRUE;
}

PrivateKey::~PrivateKey()
{
    SecureMemory::Wipe(publicExponent, sizeof publicExponent);
    SecureMemory::Wipe(idSource, sizeof idSource);
}

Certificate::Certificate(CryptokiLibrary* library, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle)
    : CryptokiObject(CKO_CERTIFICATE, library, session, handle)
{
}

Certificate::~Certificate() = default;

RSAPair::RSAPair(CryptokiLibrary* library, CK_SESSION_HANDLE session)
    : CryptokiObject(CKO_PRIVATE_KEY, library, session, 0)
{
    m_private = CK_TRUE;
    m_sensitive = CK_TRUE;
}

RSAPair::~RSAPair()
{
    SecureMemory::Wipe(id, sizeof id);
    SecureMemory::Wipe(exponent, sizeof exponent);
}

PublicKeyBlob::~PublicKeyBlob() = default;
PrivateKeyBlob::~PrivateKeyBlob() = default;
