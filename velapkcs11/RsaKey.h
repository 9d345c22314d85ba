// RSA keys and their operations under the token's mechanisms, over OpenSSL.
#pragma once

#include "Database.h"
#include "RsaMechanism.h"
#include "platform/openssl/OpenSslPtr.h"

#include <memory>
#include <openssl/evp.h>

namespace velatoken {

class RsaKey final {
public:
    RsaKey() = default;
    explicit RsaKey(EVP_PKEY* owned)
        : m_key(owned, vela5::platform::OpenSsl::Deleter<EVP_PKEY_free>())
    {
    }

    static RsaKey Generate(unsigned bits, const Blob& publicExponent);
    // Private key from DER (PKCS#8 or PKCS#1) as kept in the store.
    static RsaKey FromPrivateDer(const Blob& der);
    static RsaKey FromPublic(const Blob& modulus, const Blob& exponent);
    // Private key from CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT
    // and, when all are given, the CRT values (in attribute order).
    static RsaKey FromComponents(const Blob& n, const Blob& e, const Blob& d, const Blob* crt[5]);

    bool Valid() const { return m_key != nullptr; }
    EVP_PKEY* Get() const { return m_key.get(); }
    Blob PrivateDer() const;
    Blob Modulus() const;
    Blob PublicExponent() const;
    unsigned Bits() const;
    size_t Bytes() const { return (Bits() + 7) / 8; }

    // Throws CkError when the mechanism cannot work with a key of this size:
    // CKR_KEY_SIZE_RANGE, or CKR_MECHANISM_PARAM_INVALID for a PSS salt too long.
    void CheckFits(const RsaMechanism& mechanism) const;
    // Each throws CkError with the PKCS#11 result of a failure. For a
    // mechanism that hashes the data, `data` is the digest already made.
    Blob Sign(const RsaMechanism& mechanism, const unsigned char* data, size_t length) const;
    void Verify(const RsaMechanism& mechanism, const unsigned char* data, size_t length,
        const unsigned char* signature, size_t sigLength) const;
    Blob Encrypt(const RsaMechanism& mechanism, const unsigned char* data, size_t length) const;
    Blob Decrypt(const RsaMechanism& mechanism, const unsigned char* data, size_t length) const;

private:
    std::shared_ptr<EVP_PKEY> m_key;
};

} // namespace velatoken
