// Keys made through the provider and checked through the token module and
// OpenSSL: RSA key blobs built from OpenSSL keys, a User session of the
// test's own, and signatures made or checked on the token directly.
#pragma once

#include "TokenKeys.h"
#include "tests/support/TestCertificates.h"

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace Blobs {
constexpr std::uint32_t kPublicMagic = 0x31415352;
constexpr std::uint32_t kPrivateMagic = 0x32415352;
// BCRYPT_RSAKEY_BLOB of an OpenSSL key: header, exponent, modulus (and primes).
Bytes Public(const TestKey& key);
Bytes Private(const TestKey& key);
// A header with chosen fields followed by body.
Bytes Raw(std::uint32_t magic, std::uint32_t bits, std::uint32_t cbExp, std::uint32_t cbModulus,
    std::uint32_t cbPrime1, std::uint32_t cbPrime2, const Bytes& body);
} // namespace Blobs

// The process's own User session on a reader's token, logged out and
// closed when it goes.
class UserSession final {
public:
    UserSession(const std::string& reader, const std::string& pin);
    ~UserSession();
    UserSession(const UserSession&) = delete;
    UserSession& operator=(const UserSession&) = delete;
    CK_SESSION_HANDLE Handle() const { return m_handle; }

    Bytes Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const;
    // CKM_RSA_PKCS over the SHA-256 DigestInfo of message.
    Bytes SignSha256(CK_OBJECT_HANDLE privateKey, const std::string& message) const;
    CK_RV VerifySha256(CK_OBJECT_HANDLE publicKey, const std::string& message, const Bytes& signature) const;
    // The public half as an OpenSSL key.
    TestKey PublicKeyOf(CK_OBJECT_HANDLE publicKey) const;

private:
    CK_SESSION_HANDLE m_handle = 0;
};

namespace ByOpenSsl {
Bytes SignSha256(const TestKey& key, const std::string& message);
bool VerifySha256(const TestKey& key, const std::string& message, const Bytes& signature);
Bytes EncryptPkcs1(const TestKey& key, const Bytes& plain);
} // namespace ByOpenSsl

class KeyCreationTest : public KeyTest {
protected:
    static constexpr const char* kReader = "VELA5 Create Reader";

    void SetUp() override;
    void TearDown() override;

    // CreatePersistedKey then FinalizeKey at a short length; the key handle.
    NCRYPT_KEY_HANDLE MakeKey(
        NCRYPT_PROV_HANDLE provider, const std::u16string& name, DWORD bits = 512, DWORD flags = 0);
    static SECURITY_STATUS SetLength(NCRYPT_PROV_HANDLE provider, NCRYPT_KEY_HANDLE key, DWORD bits);
    static SECURITY_STATUS Import(NCRYPT_PROV_HANDLE provider, const char16_t* type, const Bytes& blob,
        NCRYPT_KEY_HANDLE& key, const char16_t* name = nullptr, DWORD flags = 0,
        NCRYPT_KEY_HANDLE wrapKey = 0);
    static const KeyContext& Record(NCRYPT_KEY_HANDLE key)
    {
        return *reinterpret_cast<const KeyContext*>(key);
    }
    static void SetDefaultKeyLength(bool present);

    std::string m_serial;
};
