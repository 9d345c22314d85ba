// Single token objects as the provider handles them. CryptokiObject holds
// what every object has (label, the five boolean template values, class,
// handle, session, the module); the derived classes add the attributes of
// their kind. Every byte buffer is wiped before it is released.
#pragma once

#include "ksp/CryptokiLibrary.h"
#include "ksp/DebugClass.h"
#include "pkcs11/pkcs11.h"
#include "platform/secure_memory/SecretBytes.h"

#include <cstdint>
#include <string>
#include <vector>

// Key material the provider reads from the token.
using WipedBytes = vela5::platform::SecretBytes;

class CryptokiObject {
public:
    CryptokiObject(CK_OBJECT_CLASS objectClass, CryptokiLibrary* library, CK_SESSION_HANDLE session,
        CK_OBJECT_HANDLE handle);
    virtual ~CryptokiObject();
    CryptokiObject(const CryptokiObject&) = delete;
    CryptokiObject& operator=(const CryptokiObject&) = delete;

    // C_DestroyObject; CKR_ARGUMENTS_BAD without session, handle or module.
    // The handle is cleared when the object is gone.
    virtual CK_RV Destroy();
    virtual CK_OBJECT_CLASS ObjectClass() const { return m_class; }
    virtual const std::string& Label() const { return m_label; }
    virtual bool IsModifiable() const { return m_modifiable == CK_TRUE; }
    virtual bool IsPrivate() const { return m_private == CK_TRUE; }
    virtual bool IsToken() const { return m_token == CK_TRUE; }
    virtual bool IsExtractable() const { return m_extractable == CK_TRUE; }
    virtual bool IsSensitive() const { return m_sensitive == CK_TRUE; }
    virtual CK_OBJECT_HANDLE Handle() const { return m_handle; }
    virtual CK_SESSION_HANDLE Session() const { return m_session; }
    virtual CryptokiLibrary* Library() const { return m_library; }

    void SetLabel(std::string label) { m_label = std::move(label); }
    // The object a creation made.
    void SetHandle(CK_OBJECT_HANDLE handle) { m_handle = handle; }

protected:
    std::string m_label;
    CK_BBOOL m_modifiable = CK_TRUE;
    CK_BBOOL m_private = CK_FALSE;
    CK_BBOOL m_token = CK_TRUE;
    CK_BBOOL m_extractable = CK_FALSE;
    CK_BBOOL m_sensitive = CK_FALSE;
    CK_OBJECT_CLASS m_class;
    CK_OBJECT_HANDLE m_handle;
    CK_SESSION_HANDLE m_session;
    CryptokiLibrary* m_library;
    DebugClass m_log;
};

class PublicKey : public CryptokiObject {
public:
    PublicKey(CryptokiLibrary* library, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle = 0);
    ~PublicKey() override;

    WipedBytes modulus;
    std::uint8_t publicExponent[4] = {};
    std::uint8_t idSource[64] = {};
    CK_ULONG keyBits = 0;
    CK_BBOOL canEncrypt = CK_TRUE;
    CK_BBOOL canVerify = CK_TRUE;
};

class PrivateKey : public CryptokiObject {
public:
    PrivateKey(CryptokiLibrary* library, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle = 0);
    ~PrivateKey() override;

    WipedBytes modulus;
    std::uint8_t publicExponent[4] = {};
    std::uint8_t idSource[64] = {};
    CK_ULONG keyBits = 0;
    WipedBytes privateExponent, prime1, prime2, exponent1, exponent2, coefficient;
    CK_BBOOL canDecrypt = CK_TRUE;
    CK_BBOOL canSign = CK_TRUE;
};

class Certificate : public CryptokiObject {
public:
    Certificate(CryptokiLibrary* library, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle = 0);
    ~Certificate() override;

    CK_OBJECT_HANDLE publicKey = 0;
    CK_OBJECT_HANDLE privateKey = 0;
    bool hasPublicKey = false;
    bool hasPrivateKey = false;
    WipedBytes encoded, issuer, subject, serialNumber;
};

class RSAPair : public CryptokiObject {
public:
    RSAPair(CryptokiLibrary* library, CK_SESSION_HANDLE session);
    ~RSAPair() override;

    CK_OBJECT_HANDLE publicKey = 0;
    CK_OBJECT_HANDLE privateKey = 0;
    std::uint8_t id[20] = {};
    WipedBytes modulus;
    std::uint8_t exponent[4] = {};
    CK_ULONG keyBits = 0;
    CK_BBOOL encrypt = CK_TRUE, verify = CK_TRUE, wrap = CK_FALSE;
    CK_BBOOL decrypt = CK_TRUE, sign = CK_TRUE, unwrap = CK_FALSE;
};

// Key blobs taken apart for import.
class PublicKeyBlob {
public:
    virtual ~PublicKeyBlob();
    WipedBytes exponent, modulus;
    std::uint32_t bitLength = 0;
};

class PrivateKeyBlob : public PublicKeyBlob {
public:
    ~PrivateKeyBlob() override;
    WipedBytes prime1, prime2, exponent1, exponent2, coefficient, privateExponent;
};
