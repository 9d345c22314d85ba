// Keys as PKCS#11 and PKCS#12 allow them to come: a private key without its
// CRT values, a PKCS#12 file without a MAC.
#include "TokenModuleFixture.h"
#include "platform/openssl/OpenSslPtr.h"
#include "tests/support/TokenObjects.h"

#include <openssl/core_names.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

namespace {

using Bytes = std::vector<unsigned char>;

class KeyInput : public TokenModule {
protected:
    void SetUp() override
    {
        TokenModule::SetUp();
        InsertInitializedToken();
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
        session = Open();
        ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    }

    CK_RV Create(std::vector<CK_ATTRIBUTE> attributes, CK_OBJECT_HANDLE& handle)
    {
        return p11->C_CreateObject(
            session, attributes.data(), static_cast<CK_ULONG>(attributes.size()), &handle);
    }

    // Signs with the token's key and checks the signature with OpenSSL.
    bool SignsFor(CK_OBJECT_HANDLE privateKey, const TestKey& key)
    {
        CK_MECHANISM mechanism = { CKM_SHA256_RSA_PKCS, nullptr, 0 };
        if (p11->C_SignInit(session, &mechanism, privateKey) != CKR_OK) {
            return false;
        }
        unsigned char data[] = "components only";
        Bytes signature(512);
        CK_ULONG length = static_cast<CK_ULONG>(signature.size());
        if (p11->C_Sign(session, data, sizeof data - 1, signature.data(), &length) != CKR_OK) {
            return false;
        }
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        const bool valid = EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, key.get()) == 1
            && EVP_DigestVerify(ctx, signature.data(), length, data, sizeof data - 1) == 1;
        EVP_MD_CTX_free(ctx);
        return valid;
    }

    CK_SESSION_HANDLE session = 0;
};

TEST_F(KeyInput, PrivateKeyWithoutCrtValuesIsAcceptedAndSigns)
{
    for (const int bits : { 512, 1024, 2048 }) {
        SCOPED_TRACE(bits);
        const TestKey key = MakeRsaKey(bits);
        Bytes n = KeyNumber(key, OSSL_PKEY_PARAM_RSA_N);
        Bytes e = KeyNumber(key, OSSL_PKEY_PARAM_RSA_E);
        Bytes d = KeyNumber(key, OSSL_PKEY_PARAM_RSA_D);
        CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
        CK_OBJECT_HANDLE handle = 0;
        ASSERT_EQ(Create({ { CKA_CLASS, &keyClass, sizeof keyClass },
                             { CKA_MODULUS, n.data(), static_cast<CK_ULONG>(n.size()) },
                             { CKA_PUBLIC_EXPONENT, e.data(), static_cast<CK_ULONG>(e.size()) },
                             { CKA_PRIVATE_EXPONENT, d.data(), static_cast<CK_ULONG>(d.size()) } },
                      handle),
            CKR_OK);
        EXPECT_TRUE(SignsFor(handle, key));
    }
}

// n, e and d that belong to no key: no primes can be found from them.
TEST_F(KeyInput, ComponentsOfNoKeyAreRefused)
{
    const TestKey key = MakeRsaKey(1024);
    const TestKey other = MakeRsaKey(1024);
    Bytes n = KeyNumber(key, OSSL_PKEY_PARAM_RSA_N);
    Bytes e = KeyNumber(key, OSSL_PKEY_PARAM_RSA_E);
    const struct {
        const char* name;
        Bytes d;
    } cases[] = {
        { "another key's private exponent", KeyNumber(other, OSSL_PKEY_PARAM_RSA_D) },
        { "a private exponent of one", Bytes { 1 } },
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        Bytes d = testCase.d;
        CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
        CK_OBJECT_HANDLE handle = 0;
        EXPECT_EQ(Create({ { CKA_CLASS, &keyClass, sizeof keyClass },
                             { CKA_MODULUS, n.data(), static_cast<CK_ULONG>(n.size()) },
                             { CKA_PUBLIC_EXPONENT, e.data(), static_cast<CK_ULONG>(e.size()) },
                             { CKA_PRIVATE_EXPONENT, d.data(), static_cast<CK_ULONG>(d.size()) } },
                      handle),
            CKR_ATTRIBUTE_VALUE_INVALID);
    }
}

TEST_F(KeyInput, Pkcs12WithoutMacOpensWithItsPassword)
{
    const TestKey key = MakeRsaKey(1024);
    const std::vector<uint8_t> certificate = MakeCertificate({}, key);
    const unsigned char* cursor = certificate.data();
    const vela5::platform::X509Ptr parsed(d2i_X509(nullptr, &cursor, static_cast<long>(certificate.size())));
    ASSERT_NE(parsed, nullptr);
    // A MAC iteration count of -1 leaves the MAC out.
    const vela5::platform::Pkcs12Ptr p12(
        PKCS12_create("secret", "no mac", key.get(), parsed.get(), nullptr, 0, 0, 0, -1, 0));
    ASSERT_NE(p12, nullptr);
    ASSERT_EQ(PKCS12_mac_present(p12.get()), 0);
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(p12.get(), &der);
    ASSERT_GT(length, 0);
    const std::filesystem::path file = root.Temp() / "nomac.p12";
    WriteBytes(file, std::vector<uint8_t>(der, der + length));
    OPENSSL_free(der);

    const struct {
        std::string password;
        CK_RV result;
    } cases[] = { { "wrong", CKR_DATA_INVALID }, { "", CKR_DATA_INVALID }, { "secret", CKR_OK } };
    std::string path = file.string();
    for (const auto& [password, result] : cases) {
        std::string text = password;
        EXPECT_EQ(p11->C_NRV_LoadCert(session, reinterpret_cast<CK_BYTE*>(path.data()),
                      reinterpret_cast<CK_BYTE*>(text.data()), static_cast<CK_ULONG>(text.size())),
            result)
            << "password \"" << password << "\"";
    }
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE filter = { CKA_CLASS, &privateClass, sizeof privateClass };
    ASSERT_EQ(p11->C_FindObjectsInit(session, &filter, 1), CKR_OK);
    CK_OBJECT_HANDLE imported = 0;
    CK_ULONG count = 0;
    ASSERT_EQ(p11->C_FindObjects(session, &imported, 1, &count), CKR_OK);
    ASSERT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
    ASSERT_EQ(count, 1u) << "only the right password imported the key";
    EXPECT_TRUE(SignsFor(imported, key));
}

} // namespace
