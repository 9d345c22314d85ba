#include "KeyCreationFixture.h"

#include "platform/openssl/OpenSslPtr.h"
#include "platform/registry/Registry.h"

#include <memory>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

using namespace vela5::platform;

namespace {

void Append32(Bytes& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

Bytes Sha256DigestInfo(const std::string& message)
{
    Bytes info = { 0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01,
        0x05, 0x00, 0x04, 0x20 };
    std::uint8_t hash[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(message.data()), message.size(), hash);
    info.insert(info.end(), hash, hash + sizeof hash);
    return info;
}

constexpr const char* kRegistrationKey
    = "System\\CurrentControlSet\\Control\\Cryptography\\Providers\\Nurvon KSP v1.0";

} // namespace

Bytes Blobs::Raw(std::uint32_t magic, std::uint32_t bits, std::uint32_t cbExp, std::uint32_t cbModulus,
    std::uint32_t cbPrime1, std::uint32_t cbPrime2, const Bytes& body)
{
    Bytes blob;
    for (const std::uint32_t field : { magic, bits, cbExp, cbModulus, cbPrime1, cbPrime2 }) {
        Append32(blob, field);
    }
    blob.insert(blob.end(), body.begin(), body.end());
    return blob;
}

Bytes Blobs::Public(const TestKey& key)
{
    const Bytes e = KeyNumber(key, OSSL_PKEY_PARAM_RSA_E);
    const Bytes n = KeyNumber(key, OSSL_PKEY_PARAM_RSA_N);
    Bytes body = e;
    body.insert(body.end(), n.begin(), n.end());
    return Raw(kPublicMagic, static_cast<std::uint32_t>(n.size() * 8), static_cast<std::uint32_t>(e.size()),
        static_cast<std::uint32_t>(n.size()), 0, 0, body);
}

Bytes Blobs::Private(const TestKey& key)
{
    const Bytes e = KeyNumber(key, OSSL_PKEY_PARAM_RSA_E);
    const Bytes n = KeyNumber(key, OSSL_PKEY_PARAM_RSA_N);
    const Bytes p = KeyNumber(key, OSSL_PKEY_PARAM_RSA_FACTOR1);
    const Bytes q = KeyNumber(key, OSSL_PKEY_PARAM_RSA_FACTOR2);
    Bytes body = e;
    for (const Bytes* part : { &n, &p, &q }) {
        body.insert(body.end(), part->begin(), part->end());
    }
    return Raw(kPrivateMagic, static_cast<std::uint32_t>(n.size() * 8), static_cast<std::uint32_t>(e.size()),
        static_cast<std::uint32_t>(n.size()), static_cast<std::uint32_t>(p.size()),
        static_cast<std::uint32_t>(q.size()), body);
}

UserSession::UserSession(const std::string& reader, const std::string& pin)
{
    CK_FUNCTION_LIST_PTR p11 = KeyTest::Module();
    EXPECT_EQ(p11->C_OpenSession(
                  KeyTest::SlotOf(reader), CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &m_handle),
        CKR_OK);
    const CK_RV rv = p11->C_Login(
        m_handle, CKU_USER, reinterpret_cast<CK_BYTE_PTR>(const_cast<char*>(pin.data())), pin.size());
    EXPECT_TRUE(rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) << std::hex << rv;
}

UserSession::~UserSession()
{
    KeyTest::Module()->C_Logout(m_handle);
    KeyTest::Module()->C_CloseSession(m_handle);
}

Bytes UserSession::Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const
{
    CK_ATTRIBUTE read = { type, nullptr, 0 };
    EXPECT_EQ(KeyTest::Module()->C_GetAttributeValue(m_handle, object, &read, 1), CKR_OK) << std::hex << type;
    Bytes value(read.ulValueLen == CK_UNAVAILABLE_INFORMATION ? 0 : read.ulValueLen);
    read.pValue = value.data();
    EXPECT_EQ(KeyTest::Module()->C_GetAttributeValue(m_handle, object, &read, 1), CKR_OK);
    return value;
}

Bytes UserSession::SignSha256(CK_OBJECT_HANDLE privateKey, const std::string& message) const
{
    CK_MECHANISM mechanism = { CKM_RSA_PKCS, nullptr, 0 };
    EXPECT_EQ(KeyTest::Module()->C_SignInit(m_handle, &mechanism, privateKey), CKR_OK);
    Bytes data = Sha256DigestInfo(message);
    Bytes signature(512);
    CK_ULONG length = signature.size();
    EXPECT_EQ(
        KeyTest::Module()->C_Sign(m_handle, data.data(), data.size(), signature.data(), &length), CKR_OK);
    signature.resize(length);
    return signature;
}

CK_RV UserSession::VerifySha256(
    CK_OBJECT_HANDLE publicKey, const std::string& message, const Bytes& signature) const
{
    CK_MECHANISM mechanism = { CKM_RSA_PKCS, nullptr, 0 };
    const CK_RV init = KeyTest::Module()->C_VerifyInit(m_handle, &mechanism, publicKey);
    if (init != CKR_OK) {
        return init;
    }
    Bytes data = Sha256DigestInfo(message);
    Bytes copy = signature;
    return KeyTest::Module()->C_Verify(m_handle, data.data(), data.size(), copy.data(), copy.size());
}

TestKey UserSession::PublicKeyOf(CK_OBJECT_HANDLE publicKey) const
{
    const Bytes n = Attribute(publicKey, CKA_MODULUS);
    const Bytes e = Attribute(publicKey, CKA_PUBLIC_EXPONENT);
    BnPtr modulus(BN_bin2bn(n.data(), static_cast<int>(n.size()), nullptr));
    BnPtr exponent(BN_bin2bn(e.data(), static_cast<int>(e.size()), nullptr));
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, modulus.get());
    OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, exponent.get());
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
    PkeyCtxPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    EXPECT_EQ(EVP_PKEY_fromdata_init(context.get()), 1);
    EXPECT_EQ(EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params), 1);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    return TestKey(key, EVP_PKEY_free);
}

Bytes ByOpenSsl::SignSha256(const TestKey& key, const std::string& message)
{
    MdCtxPtr context(EVP_MD_CTX_new());
    EXPECT_EQ(EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()), 1);
    std::size_t length = 0;
    EXPECT_EQ(EVP_DigestSign(context.get(), nullptr, &length,
                  reinterpret_cast<const unsigned char*>(message.data()), message.size()),
        1);
    Bytes signature(length);
    EXPECT_EQ(EVP_DigestSign(context.get(), signature.data(), &length,
                  reinterpret_cast<const unsigned char*>(message.data()), message.size()),
        1);
    signature.resize(length);
    return signature;
}

bool ByOpenSsl::VerifySha256(const TestKey& key, const std::string& message, const Bytes& signature)
{
    MdCtxPtr context(EVP_MD_CTX_new());
    EXPECT_EQ(EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()), 1);
    return EVP_DigestVerify(context.get(), signature.data(), signature.size(),
               reinterpret_cast<const unsigned char*>(message.data()), message.size())
        == 1;
}

Bytes ByOpenSsl::EncryptPkcs1(const TestKey& key, const Bytes& plain)
{
    PkeyCtxPtr context(EVP_PKEY_CTX_new(key.get(), nullptr));
    EXPECT_EQ(EVP_PKEY_encrypt_init(context.get()), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING), 1);
    std::size_t length = 0;
    EXPECT_EQ(EVP_PKEY_encrypt(context.get(), nullptr, &length, plain.data(), plain.size()), 1);
    Bytes cipher(length);
    EXPECT_EQ(EVP_PKEY_encrypt(context.get(), cipher.data(), &length, plain.data(), plain.size()), 1);
    cipher.resize(length);
    return cipher;
}

void KeyCreationTest::SetUp()
{
    KeyTest::SetUp();
    m_serial = AddPinToken(kReader);
}

void KeyCreationTest::TearDown()
{
    SetDefaultKeyLength(true);
    KeyTest::TearDown();
}

SECURITY_STATUS KeyCreationTest::SetLength(NCRYPT_PROV_HANDLE provider, NCRYPT_KEY_HANDLE key, DWORD bits)
{
    return Table().SetKeyProperty(provider, key, u"Length", reinterpret_cast<PBYTE>(&bits), sizeof bits, 0);
}

NCRYPT_KEY_HANDLE KeyCreationTest::MakeKey(
    NCRYPT_PROV_HANDLE provider, const std::u16string& name, DWORD bits, DWORD flags)
{
    NCRYPT_KEY_HANDLE key = 0;
    EXPECT_EQ(Table().CreatePersistedKey(provider, &key, u"RSA", name.c_str(), 0, flags), ERROR_SUCCESS);
    EXPECT_EQ(SetLength(provider, key, bits), ERROR_SUCCESS);
    EXPECT_EQ(Table().FinalizeKey(provider, key, 0), ERROR_SUCCESS);
    return key;
}

SECURITY_STATUS KeyCreationTest::Import(NCRYPT_PROV_HANDLE provider, const char16_t* type, const Bytes& blob,
    NCRYPT_KEY_HANDLE& key, const char16_t* name, DWORD flags, NCRYPT_KEY_HANDLE wrapKey)
{
    key = 0;
    std::u16string nameText = name != nullptr ? std::u16string(name) : std::u16string();
    NCryptBuffer buffer
        = { static_cast<ULONG>((nameText.size() + 1) * sizeof(char16_t)), 45, nameText.data() };
    NCryptBufferDesc list = { 0, 1, &buffer };
    Bytes copy = blob;
    return Table().ImportKey(provider, wrapKey, type, name != nullptr ? &list : nullptr, &key, copy.data(),
        static_cast<DWORD>(copy.size()), flags);
}

void KeyCreationTest::SetDefaultKeyLength(bool present)
{
    Registry::Key key;
    ASSERT_EQ(
        Registry::Key::Create(Registry::Hive::LocalMachine, kRegistrationKey, Registry::View::Native, key),
        Registry::Success);
    if (present) {
        ASSERT_EQ(key.SetDWord("Default Key Length", 2048), Registry::Success);
    } else {
        key.DeleteValue("Default Key Length");
    }
}
