// Signing, verification, encryption, decryption and export through the
// router on the software token, with OpenSSL as the other side: the key
// comes from a PKCS#12 file loaded onto the token, so OpenSSL holds both
// halves of it.
#include "TokenKeys.h"
#include "platform/openssl/OpenSslPtr.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestCertificates.h"

#include <functional>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Filled(std::size_t length, std::uint8_t seed)
{
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + 7 * i);
    }
    return bytes;
}

using Ctx = vela5::platform::PkeyCtxPtr;

Ctx ContextOf(const TestKey& key)
{
    return Ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
}

// PKCS #1 v1.5 verification by OpenSSL, which builds the DigestInfo itself.
bool OpenSslVerifies(const TestKey& key, const EVP_MD* md, const Bytes& hash, const Bytes& signature)
{
    Ctx ctx = ContextOf(key);
    return EVP_PKEY_verify_init(ctx.get()) == 1
        && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1
        && EVP_PKEY_CTX_set_signature_md(ctx.get(), md) == 1
        && EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), hash.data(), hash.size()) == 1;
}

// The value under a PKCS #1 v1.5 signature.
Bytes Recovered(const TestKey& key, const Bytes& signature)
{
    Ctx ctx = ContextOf(key);
    Bytes out(512);
    std::size_t length = out.size();
    if (EVP_PKEY_verify_recover_init(ctx.get()) != 1
        || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1
        || EVP_PKEY_verify_recover(ctx.get(), out.data(), &length, signature.data(), signature.size()) != 1) {
        return {};
    }
    out.resize(length);
    return out;
}

Bytes OpenSslCrypt(const TestKey& key, bool encrypt, const Bytes& input)
{
    Ctx ctx = ContextOf(key);
    Bytes out(512);
    std::size_t length = out.size();
    const bool ok = (encrypt ? EVP_PKEY_encrypt_init(ctx.get()) : EVP_PKEY_decrypt_init(ctx.get())) == 1
        && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1
        && (encrypt ? EVP_PKEY_encrypt(ctx.get(), out.data(), &length, input.data(), input.size())
                    : EVP_PKEY_decrypt(ctx.get(), out.data(), &length, input.data(), input.size()))
            == 1;
    out.resize(ok ? length : 0);
    return out;
}

Bytes ModulusOf(const TestKey& key)
{
    return KeyNumber(key, OSSL_PKEY_PARAM_RSA_N);
}

// As the log dumps bytes.
std::string DumpOf(const Bytes& bytes)
{
    std::string text;
    char item[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(item, sizeof item, "%02X ", b);
        text += item;
    }
    return text;
}

std::string HexOf(const Bytes& bytes)
{
    std::string text;
    char pair[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        text += pair;
    }
    return text;
}

} // namespace

class CryptoTest : public KeyTest {
protected:
    static constexpr const char* kReader = "VELA5 Reader A";

    // A token holding the key and certificate of a PKCS#12 file, a provider
    // on it that logs in with the PIN, and the key opened.
    void SetUp() override
    {
        KeyTest::SetUp();
        m_serial = AddPinToken(kReader);
        m_key = MakeRsaKey(1024);
        TestCertificateFields fields;
        m_p12 = (ProviderEnvironment::Root().Temp() / "key.p12").string();
        WritePkcs12(m_p12, MakeCertificate(fields, m_key), m_key, "secret", "Signing key");
        TokenTool("object import " + m_serial + " '" + m_p12 + "' --password secret --pin " + kPin);
        m_provider = OpenWith(kPin);
        std::vector<std::u16string> names;
        ASSERT_EQ(Enumerate(m_provider, names), ERROR_SUCCESS);
        ASSERT_EQ(names.size(), 1U);
        ASSERT_EQ(OpenKey(m_provider, names[0], m_handle), ERROR_SUCCESS);
    }

    void TearDown() override
    {
        if (m_handle != 0) {
            EXPECT_EQ(Table().FreeKey(m_provider, m_handle), ERROR_SUCCESS);
        }
        if (m_provider != 0) {
            EXPECT_EQ(Table().FreeProvider(m_provider), ERROR_SUCCESS);
        }
        KeyTest::TearDown();
    }

    KeyContext& Record() const { return *reinterpret_cast<KeyContext*>(m_handle); }

    SECURITY_STATUS Sign(const Bytes& hash, Bytes& signature, DWORD flags = NCRYPT_PAD_PKCS1_FLAG) const
    {
        DWORD length = 0;
        signature.assign(128, 0);
        const SECURITY_STATUS status
            = Table().SignHash(m_provider, m_handle, nullptr, const_cast<BYTE*>(hash.data()),
                static_cast<DWORD>(hash.size()), signature.data(), 128, &length, flags);
        signature.resize(status == ERROR_SUCCESS ? length : 0);
        return status;
    }

    SECURITY_STATUS Verify(
        const Bytes& hash, const Bytes& signature, DWORD flags = NCRYPT_PAD_PKCS1_FLAG) const
    {
        return Table().VerifySignature(m_provider, m_handle, nullptr, const_cast<BYTE*>(hash.data()),
            static_cast<DWORD>(hash.size()), const_cast<BYTE*>(signature.data()),
            static_cast<DWORD>(signature.size()), flags);
    }

    // Encrypt or Decrypt with an output of outputSize (none when 0).
    SECURITY_STATUS Crypt(bool encrypt, const Bytes& input, Bytes& output, DWORD outputSize, DWORD& length,
        DWORD flags = NCRYPT_PAD_PKCS1_FLAG) const
    {
        output.assign(outputSize, 0);
        const auto call = encrypt ? Table().Encrypt : Table().Decrypt;
        const SECURITY_STATUS status
            = call(m_provider, m_handle, const_cast<BYTE*>(input.data()), static_cast<DWORD>(input.size()),
                nullptr, outputSize == 0 ? nullptr : output.data(), outputSize, &length, flags);
        if (status == ERROR_SUCCESS && outputSize != 0) {
            output.resize(length);
        }
        return status;
    }

    SECURITY_STATUS Export(LPCWSTR type, Bytes& blob, DWORD size, DWORD& length,
        NCRYPT_KEY_HANDLE exportKey = 0, DWORD flags = 0) const
    {
        blob.assign(size, 0xEE);
        return Table().ExportKey(m_provider, m_handle, exportKey, type, nullptr,
            size == 0 ? nullptr : blob.data(), size, &length, flags);
    }

    std::string Call(const char* entry) const { return LastCall(NewLog(), entry); }

    std::string m_serial;
    TestKey m_key;
    std::string m_p12;
    NCRYPT_PROV_HANDLE m_provider = 0;
    NCRYPT_KEY_HANDLE m_handle = 0;
};

TEST_F(CryptoTest, EachHashLengthIsSignedAsItsRuleSaysAndTheProviderVerifiesItsOwnSignature)
{
    const struct {
        std::size_t length;
        const EVP_MD* md; // null: the value is signed as given
    } cases[] = { { 16, EVP_md5() }, { 20, EVP_sha1() }, { 32, EVP_sha256() }, { 64, EVP_sha512() },
        { 34, nullptr }, { 35, nullptr }, { 51, nullptr }, { 83, nullptr }, { 36, nullptr } };
    for (const auto& c : cases) {
        const Bytes hash = Filled(c.length, static_cast<std::uint8_t>(c.length));
        Bytes signature;
        ASSERT_EQ(Sign(hash, signature), ERROR_SUCCESS) << c.length;
        EXPECT_TRUE(Contains(Call("VELA5KSPSignHash"), "Hash\t\t: " + DumpOf(hash)));
        if (c.md != nullptr) {
            EXPECT_TRUE(OpenSslVerifies(m_key, c.md, hash, signature)) << "hash of " << c.length << " bytes";
        } else {
            EXPECT_EQ(Recovered(m_key, signature), hash) << "value of " << c.length << " bytes";
        }
        EXPECT_EQ(Verify(hash, signature), ERROR_SUCCESS) << "own signature over " << c.length << " bytes";
        Bytes changed = signature;
        changed[40] ^= 0x01;
        EXPECT_EQ(Verify(hash, changed), NTE_FAIL) << c.length;
        // CKR_SIGNATURE_INVALID
        EXPECT_TRUE(Contains(Call("VELA5KSPVerifySignature"),
            "Verify failed. Check PKCS logs for detailed information 0x000000C0"));
        Bytes otherHash = hash;
        otherHash.back() ^= 0x80;
        EXPECT_EQ(Verify(otherHash, signature), NTE_FAIL) << c.length;
    }
    // SHA-384 and its DigestInfo have no rule, though the name is supported.
    for (const std::size_t length : { 48, 67 }) {
        Bytes signature;
        EXPECT_EQ(Sign(Filled(length, 1), signature), NTE_INVALID_PARAMETER) << length;
        EXPECT_EQ(Verify(Filled(length, 1), Bytes(128, 1)), NTE_INVALID_PARAMETER) << length;
    }
    EXPECT_EQ(Table().IsAlgSupported(m_provider, u"SHA384", 0), ERROR_SUCCESS);
}

TEST_F(CryptoTest, LengthQueriesAndShortBuffersLeaveTheSessionFreeForTheNextOperation)
{
    const Bytes hash = Filled(32, 3);
    const Bytes message = Filled(40, 9);
    const Bytes cipher = OpenSslCrypt(m_key, true, message);
    ASSERT_EQ(cipher.size(), 128U);
    // Each operation: a length query, then a buffer too short, then the call.
    const struct {
        const char* name;
        std::function<SECURITY_STATUS(DWORD, Bytes&, DWORD&)> run;
        DWORD length;
    } operations[] = {
        { "sign",
            [&](DWORD size, Bytes& out, DWORD& length) {
                out.assign(size, 0);
                return Table().SignHash(m_provider, m_handle, nullptr, const_cast<BYTE*>(hash.data()), 32,
                    size == 0 ? nullptr : out.data(), size, &length, NCRYPT_PAD_PKCS1_FLAG);
            },
            128 },
        { "encrypt",
            [&](DWORD size, Bytes& out, DWORD& length) { return Crypt(true, message, out, size, length); },
            128 },
        { "decrypt",
            [&](DWORD size, Bytes& out, DWORD& length) { return Crypt(false, cipher, out, size, length); },
            0 },
    };
    for (const auto& operation : operations) {
        Bytes out;
        DWORD length = 0;
        ASSERT_EQ(operation.run(0, out, length), ERROR_SUCCESS) << operation.name;
        const DWORD queried = length;
        if (operation.length != 0) {
            EXPECT_EQ(queried, operation.length) << operation.name;
        }
        length = 0;
        EXPECT_EQ(operation.run(10, out, length), NTE_BUFFER_TOO_SMALL) << operation.name << " after a query";
        EXPECT_EQ(length, queried) << "the length needed, " << operation.name;
        length = 0;
        ASSERT_EQ(operation.run(queried, out, length), ERROR_SUCCESS)
            << operation.name << " after a short buffer";
        if (std::string(operation.name) == "decrypt") {
            EXPECT_EQ(out, message);
        }
    }
    EXPECT_TRUE(Contains(NewLog(), "pbSignature is NULL. Signature length: 128"));
    EXPECT_TRUE(Contains(NewLog(), "pbOutput is NULL. Data length: 128"));
}

TEST_F(CryptoTest, DecryptsWhatOpenSslEncryptedAndOpenSslDecryptsWhatItEncrypts)
{
    const Bytes message = Filled(100, 42);
    Bytes plain;
    DWORD length = 0;
    ASSERT_EQ(Crypt(false, OpenSslCrypt(m_key, true, message), plain, 128, length), ERROR_SUCCESS);
    EXPECT_EQ(plain, message);
    Bytes cipher;
    ASSERT_EQ(Crypt(true, message, cipher, 128, length, 0), ERROR_SUCCESS);
    EXPECT_EQ(OpenSslCrypt(m_key, false, cipher), message);
    // An empty plaintext: its length query too leaves the session free.
    const Bytes empty = OpenSslCrypt(m_key, true, Bytes());
    ASSERT_EQ(empty.size(), 128U);
    length = 99;
    ASSERT_EQ(Crypt(false, empty, plain, 0, length), ERROR_SUCCESS);
    EXPECT_EQ(length, 0U);
    ASSERT_EQ(Crypt(false, empty, plain, 128, length), ERROR_SUCCESS);
    EXPECT_TRUE(plain.empty());
    // A full block with the no-padding flag still goes as PKCS #1 v1.5.
    Bytes refused;
    EXPECT_EQ(Crypt(false, cipher, refused, 128, length, NCRYPT_NO_PADDING_FLAG), ERROR_SUCCESS);
    EXPECT_EQ(refused, message);
}

TEST_F(CryptoTest, FlagAndPaddingChecksAnswerBeforeAnyLogin)
{
    const Bytes hash = Filled(32, 5);
    const Bytes block = Filled(128, 5);
    const struct {
        const char* entry;
        std::function<SECURITY_STATUS()> call;
        SECURITY_STATUS code;
        const char* line;
    } cases[] = {
        { "VELA5KSPSignHash",
            [&] {
                Bytes s;
                return Sign(hash, s, NCRYPT_PAD_PSS_FLAG);
            },
            NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: PSS padding scheme is currently not supported." },
        { "VELA5KSPSignHash",
            [&] {
                Bytes s;
                return Sign(hash, s, NCRYPT_NO_PADDING_FLAG);
            },
            NTE_BAD_FLAGS, "NTE_BAD_FLAGS: The dwFlags parameter contains a value that is not valid." },
        { "VELA5KSPVerifySignature", [&] { return Verify(hash, block, NCRYPT_PAD_PSS_FLAG); },
            NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: PSS padding scheme is currently not supported." },
        { "VELA5KSPVerifySignature", [&] { return Verify(hash, block, 0x100); }, NTE_BAD_FLAGS,
            "NTE_BAD_FLAGS: The dwFlags parameter contains a value that is not valid." },
        { "VELA5KSPDecrypt",
            [&] {
                Bytes o;
                DWORD l = 0;
                return Crypt(false, block, o, 128, l, NCRYPT_PAD_OAEP_FLAG);
            },
            NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: OAEP padding scheme is currently not supported." },
        { "VELA5KSPEncrypt",
            [&] {
                Bytes o;
                DWORD l = 0;
                return Crypt(true, hash, o, 128, l, NCRYPT_PAD_OAEP_FLAG);
            },
            NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: OAEP padding scheme is currently not supported." },
        { "VELA5KSPDecrypt",
            [&] {
                Bytes o;
                DWORD l = 0;
                return Crypt(false, block, o, 128, l, NCRYPT_PAD_PSS_FLAG);
            },
            NTE_BAD_FLAGS, "NTE_BAD_FLAGS: The dwFlags parameter contains a value that is not valid." },
        { "VELA5KSPDecrypt",
            [&] {
                Bytes o;
                DWORD l = 0;
                return Crypt(false, Filled(127, 1), o, 128, l, NCRYPT_NO_PADDING_FLAG);
            },
            NTE_INVALID_PARAMETER,
            "NTE_INVALID_PARAMETER: Data length is not a multiple of the algorithm block length." },
    };
    // Logged out, a call that logged in first would log the host's PIN in.
    LogOut(kReader);
    Bytes signature;
    ASSERT_EQ(Sign(hash, signature), ERROR_SUCCESS);
    ASSERT_TRUE(Contains(Call("VELA5KSPSignHash"), "Using the PIN given by the host"));
    for (const auto& c : cases) {
        LogOut(kReader);
        EXPECT_EQ(c.call(), c.code) << c.line;
        const std::string call = Call(c.entry);
        EXPECT_TRUE(Contains(call, c.line)) << call;
        EXPECT_FALSE(Contains(call, "Using the PIN given by the host")) << c.line << ": logged in first";
    }
}

TEST_F(CryptoTest, KeyUsageWithoutSigningRefusesSignaturesButStillDecrypts)
{
    Record().dwKeyUsage = NCRYPT_ALLOW_DECRYPT_FLAG;
    LogOut(kReader);
    Bytes signature;
    EXPECT_EQ(Sign(Filled(32, 1), signature), NTE_PERM);
    const std::string call = Call("VELA5KSPSignHash");
    EXPECT_TRUE(Contains(call, "NTE_PERM: The key usage policy does not allow signing"));
    EXPECT_FALSE(Contains(call, "Using the PIN given by the host"));
    const Bytes message = Filled(20, 2);
    Bytes plain;
    DWORD length = 0;
    ASSERT_EQ(Crypt(false, OpenSslCrypt(m_key, true, message), plain, 128, length), ERROR_SUCCESS);
    EXPECT_EQ(plain, message);
    Record().dwKeyUsage = NCRYPT_ALLOW_SIGNING_FLAG;
    EXPECT_EQ(Sign(Filled(32, 1), signature), ERROR_SUCCESS);
}

TEST_F(CryptoTest, AKeyNotFinalizedIsRefusedByEveryOperation)
{
    Record().fFinished = 0;
    const Bytes hash = Filled(32, 1);
    Bytes out;
    DWORD length = 0;
    const char* const notFinalized = "NTE_BAD_KEY_STATE: The specified key is not yet finalized";
    EXPECT_EQ(Sign(hash, out), NTE_BAD_KEY_STATE);
    EXPECT_TRUE(Contains(Call("VELA5KSPSignHash"), notFinalized));
    EXPECT_EQ(Verify(hash, Bytes(128, 1)), NTE_BAD_KEY_STATE);
    EXPECT_TRUE(Contains(Call("VELA5KSPVerifySignature"), notFinalized));
    EXPECT_EQ(Crypt(true, hash, out, 128, length), NTE_BAD_KEY_STATE);
    EXPECT_TRUE(Contains(Call("VELA5KSPEncrypt"), notFinalized));
    EXPECT_EQ(Crypt(false, Bytes(128, 1), out, 128, length), NTE_BAD_KEY_STATE);
    EXPECT_TRUE(Contains(Call("VELA5KSPDecrypt"), notFinalized));
    EXPECT_EQ(Export(u"RSAPUBLICBLOB", out, 0, length), NTE_BAD_KEY_STATE);
    EXPECT_TRUE(Contains(Call("VELA5KSPExportKey"), "NTE_BAD_KEY_STATE: Key is not yet finalized"));
}

TEST_F(CryptoTest, ExportGivesTheTokensPublicKeyAsRsaPublicBlob)
{
    Bytes blob;
    DWORD length = 0;
    ASSERT_EQ(Export(u"RSAPUBLICBLOB", blob, 0, length), ERROR_SUCCESS);
    EXPECT_EQ(length, 24U + 3 + 128);
    EXPECT_TRUE(Contains(Call("VELA5KSPExportKey"), "pbOutput is NULL. Querying key blob size... 155"));
    DWORD tooSmall = 0;
    EXPECT_EQ(Export(u"RSAPUBLICBLOB", blob, length - 1, tooSmall), NTE_BUFFER_TOO_SMALL);
    EXPECT_TRUE(Contains(Call("VELA5KSPExportKey"),
        "NTE_BUFFER_TOO_SMALL: The expected output is larger than the output buffer"));
    // A larger buffer is zeroed behind the blob.
    ASSERT_EQ(Export(u"RSAPUBLICBLOB", blob, length + 5, length), ERROR_SUCCESS);
    EXPECT_EQ(length, 155U);
    const Bytes header
        = { 'R', 'S', 'A', '1', 0x00, 0x04, 0, 0, 3, 0, 0, 0, 128, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 };
    EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 24), header);
    EXPECT_EQ(Bytes(blob.begin() + 24, blob.begin() + 27), (Bytes { 1, 0, 1 }));
    EXPECT_EQ(Bytes(blob.begin() + 27, blob.begin() + 155), ModulusOf(m_key));
    EXPECT_EQ(Bytes(blob.begin() + 155, blob.end()), Bytes(5, 0));
}

TEST_F(CryptoTest, ExportRefusesWhatItDoesNotOffer)
{
    Bytes blob;
    DWORD length = 0;
    const struct {
        LPCWSTR type;
        DWORD policy;
        NCRYPT_KEY_HANDLE exportKey;
        DWORD flags;
        SECURITY_STATUS code;
        const char* line;
    } cases[] = {
        { u"RSAPUBLICBLOB", 2, 0, 0x1, NTE_BAD_FLAGS,
            "NTE_BAD_FLAGS: No flags are defined for this function." },
        { nullptr, 2, 0, 0, NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pszBlobType is NULL" },
        { u"rsapublicblob", 2, 0, 0, NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: pszBlobType is not supported" },
        { u"RSAPUBLICBLOB", 3, 0, 0, NTE_NOT_SUPPORTED,
            "NTE_NOT_SUPPORTED: Current export policy does not permit exporting of keys" },
        { u"RSAPUBLICBLOB", 2, 1, NCRYPT_SILENT_FLAG, NTE_NOT_SUPPORTED,
            "NTE_NOT_SUPPORTED: Encryption of key blobs is not yet supported." },
        { u"RSAPRIVATEBLOB", 2, 0, 0, NTE_NOT_SUPPORTED,
            "NTE_NOT_SUPPORTED: Exporting of private keys is not allowed" },
        { u"RSAFULLPRIVATEBLOB", 0, 0, 0, NTE_NOT_SUPPORTED,
            "NTE_NOT_SUPPORTED: Exporting in plain text is not permitted" },
    };
    for (const auto& c : cases) {
        Record().dwExportPolicy = c.policy;
        EXPECT_EQ(Export(c.type, blob, 200, length, c.exportKey, c.flags), c.code) << c.line;
        EXPECT_TRUE(Contains(Call("VELA5KSPExportKey"), c.line)) << c.line;
        EXPECT_EQ(blob, Bytes(200, 0xEE)) << "nothing written: " << c.line;
    }
    Record().dwExportPolicy = 2;
    EXPECT_EQ(Table().ExportKey(m_provider, m_handle, 0, u"RSAPUBLICBLOB", nullptr, nullptr, 0, nullptr, 0),
        NTE_INVALID_PARAMETER);
}

TEST_F(CryptoTest, AnExponentThatIsNoPalindromeIsExportedAsTheTokenHoldsIt)
{
    CK_FUNCTION_LIST_PTR p11 = Module();
    CK_SESSION_HANDLE session = 0;
    ASSERT_EQ(
        p11->C_OpenSession(SlotOf(kReader), CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session),
        CKR_OK);
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE rsa = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    Bytes modulus = ModulusOf(m_key);
    CK_BYTE exponent[] = { 0x01, 0x00, 0x03 };
    CK_BYTE id[] = { 'E', 'X', 'P' };
    CK_ATTRIBUTE object[]
        = { { CKA_CLASS, &publicClass, sizeof publicClass }, { CKA_KEY_TYPE, &rsa, sizeof rsa },
              { CKA_TOKEN, &yes, 1 }, { CKA_MODULUS, modulus.data(), modulus.size() },
              { CKA_PUBLIC_EXPONENT, exponent, sizeof exponent }, { CKA_ID, id, sizeof id } };
    CK_OBJECT_HANDLE handle = 0;
    ASSERT_EQ(p11->C_CreateObject(session, object, 6, &handle), CKR_OK);
    p11->C_CloseSession(session);

    std::vector<std::u16string> names;
    ASSERT_EQ(Enumerate(m_provider, names), ERROR_SUCCESS);
    NCRYPT_KEY_HANDLE key = 0;
    ASSERT_EQ(OpenKey(m_provider, u"EXP", key), ERROR_SUCCESS);
    Bytes blob(24 + 3 + 128);
    DWORD length = 0;
    ASSERT_EQ(Table().ExportKey(m_provider, key, 0, u"RSAPUBLICBLOB", nullptr, blob.data(),
                  static_cast<DWORD>(blob.size()), &length, 0),
        ERROR_SUCCESS);
    EXPECT_EQ(Bytes(blob.begin() + 24, blob.begin() + 27), (Bytes { 0x01, 0x00, 0x03 }));
    EXPECT_EQ(Table().FreeKey(m_provider, key), ERROR_SUCCESS);
}

TEST_F(CryptoTest, ModuleFailuresBecomeTheirCodesAndLeaveTheHandlesUsable)
{
    const Bytes hash = Filled(32, 8);
    Bytes signature;
    ASSERT_EQ(Sign(hash, signature), ERROR_SUCCESS);
    const Bytes cipher = OpenSslCrypt(m_key, true, hash);
    Bytes out;
    DWORD length = 0;
    const std::function<SECURITY_STATUS()> sign = [&] { return Sign(hash, out); };
    const std::function<SECURITY_STATUS()> verify = [&] { return Verify(hash, signature); };
    const std::function<SECURITY_STATUS()> encrypt = [&] { return Crypt(true, hash, out, 128, length); };
    const std::function<SECURITY_STATUS()> decrypt = [&] { return Crypt(false, cipher, out, 128, length); };
    const std::function<SECURITY_STATUS()> exportKey
        = [&] { return Export(u"RSAPUBLICBLOB", out, 200, length); };
    const char* const kSigning = "Signing failed. Check PKCS logs for detailed information";
    const char* const kVerify = "Verify failed. Check PKCS logs for detailed information";
    const char* const kEncryption = "Encryption failed. Check PKCS logs for detailed information.";
    const char* const kDecryption = "Decryption failed. Check PKCS logs for detailed information";
    const struct {
        const char* function;
        CK_RV code;
        const std::function<SECURITY_STATUS()>& call;
        SECURITY_STATUS result;
        const char* text; // followed by the module's code; null: export's own line
    } cases[] = {
        { "C_SignInit", 0x30, sign, NTE_INTERNAL_ERROR, kSigning },
        { "C_Sign", 0x30, sign, NTE_INTERNAL_ERROR, kSigning },
        { "C_VerifyInit", 0x30, verify, NTE_INTERNAL_ERROR, kVerify },
        { "C_Verify", 0x30, verify, NTE_FAIL, kVerify },
        { "C_EncryptInit", 0x68, encrypt, NTE_INTERNAL_ERROR, kEncryption },
        { "C_Encrypt", 0x30, encrypt, NTE_INTERNAL_ERROR, kEncryption },
        { "C_DecryptInit", 0x68, decrypt, NTE_PERM, kDecryption },
        { "C_DecryptInit", 0x82, decrypt, NTE_INVALID_HANDLE, kDecryption },
        { "C_DecryptInit", 0xB3, decrypt, NTE_INVALID_HANDLE, kDecryption },
        { "C_DecryptInit", 0x30, decrypt, NTE_INTERNAL_ERROR, kDecryption },
        { "C_Decrypt", 0x30, decrypt, NTE_INTERNAL_ERROR, kDecryption },
        { "C_GetAttributeValue", 0x30, exportKey, NTE_INTERNAL_ERROR, nullptr },
    };
    for (const auto& c : cases) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", c.code);
        TokenTool("token fail " + m_serial + " " + c.function + " " + code);
        EXPECT_EQ(c.call(), c.result) << c.function << " failing with " << code;
        const std::string line = c.text != nullptr ? std::string(c.text) + " " + code
                                                   : "NTE_INTERNAL_ERROR: The public key could not be read";
        EXPECT_TRUE(Contains(NewLog(), line)) << line;
        TokenTool("token fail " + m_serial + " " + c.function + " off");
        EXPECT_EQ(c.call(), ERROR_SUCCESS) << "after " << c.function << " failed";
    }
}

TEST_F(CryptoTest, AlgorithmsOfferedAreRsaOnly)
{
    const struct {
        DWORD operations;
        SECURITY_STATUS code;
        const char* line;
    } classes[] = {
        { 0, ERROR_SUCCESS, "dwAlgClass is 0" },
        { 0x1, ERROR_SUCCESS, "dwAlgClass is NCRYPT_CIPHER_OPERATION" },
        { 0x2, ERROR_SUCCESS, "dwAlgClass is NCRYPT_HASH_OPERATION" },
        { 0x4, ERROR_SUCCESS, "dwAlgClass is NCRYPT_ASYMMETRIC_ENCRYPTION_OPERATION" },
        { 0x8, ERROR_SUCCESS, "dwAlgClass is NCRYPT_SECRET_AGREEMENT_OPERATION" },
        { 0x30, ERROR_SUCCESS, "dwAlgClass is NCRYPT_SIGNATURE_OPERATION" },
        { 0x20, NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: VELA5 KSP currently supports RSA only." },
        { 0x40, NTE_NOT_SUPPORTED, "NTE_NOT_SUPPORTED: VELA5 KSP currently supports RSA only." },
    };
    for (const auto& c : classes) {
        DWORD count = 0;
        NCryptAlgorithmName* list = nullptr;
        EXPECT_EQ(Table().EnumAlgorithms(m_provider, c.operations, &count, &list, 0), c.code) << c.operations;
        EXPECT_TRUE(Contains(Call("VELA5KSPEnumAlgorithms"), c.line)) << c.line;
        if (c.code != ERROR_SUCCESS) {
            EXPECT_EQ(list, nullptr);
            continue;
        }
        ASSERT_EQ(count, 1U);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(std::u16string(list->pszName), u"RSA");
        EXPECT_EQ(list->dwClass, 3U);
        EXPECT_EQ(list->dwAlgOperations, 0x14U);
        EXPECT_EQ(list->dwFlags, 0U);
        EXPECT_EQ(Table().FreeBuffer(list), ERROR_SUCCESS);
    }
    DWORD count = 0;
    NCryptAlgorithmName* list = nullptr;
    EXPECT_EQ(Table().EnumAlgorithms(m_provider, 0, &count, &list, 0x1), NTE_BAD_FLAGS);
    EXPECT_TRUE(Contains(Call("VELA5KSPEnumAlgorithms"),
        "NTE_BAD_FLAGS: Only NCRYPT_SILENT_FLAG or 0 is an acceptable value."));
    EXPECT_EQ(Table().EnumAlgorithms(m_provider, 0, nullptr, &list, 0), NTE_INVALID_PARAMETER);
    EXPECT_EQ(Table().EnumAlgorithms(m_provider, 0, &count, nullptr, 0), NTE_INVALID_PARAMETER);

    for (const char16_t* name : { u"RSA", u"RSA_SIGN", u"MD5", u"SHA1", u"SHA256", u"SHA384", u"SHA512" }) {
        EXPECT_EQ(Table().IsAlgSupported(m_provider, name, NCRYPT_SILENT_FLAG), ERROR_SUCCESS);
    }
    for (const char16_t* name : { u"rsa", u"SHA3", u"", u"RSA " }) {
        EXPECT_EQ(Table().IsAlgSupported(m_provider, name, 0), NTE_NOT_SUPPORTED);
    }
    EXPECT_TRUE(
        Contains(Call("VELA5KSPIsAlgSupported"), "NTE_NOT_SUPPORTED: RSA  is not a supported algorithm"));
    EXPECT_EQ(Table().IsAlgSupported(m_provider, nullptr, 0), NTE_INVALID_PARAMETER);
    EXPECT_EQ(Table().IsAlgSupported(m_provider, u"RSA", 0x1), NTE_BAD_FLAGS);
}

TEST_F(CryptoTest, ToolSignsVerifiesEncryptsDecryptsAndExportsAndOpenSslAgrees)
{
    const auto dir = ProviderEnvironment::Root().Temp();
    const std::string key = "'Nurvon KSP v1.0' " + HexOf(IdOf(m_handle));
    const std::string pin = " --pin " + std::string(kPin);
    const Bytes document = Filled(3000, 11);
    WriteBytes(dir / "document", document);
    auto path = [&](const char* name) { return " '" + (dir / name).string() + "'"; };

    ProgramResult result = RunProgram("vela5-cng",
        "sign " + key + " --hash sha256" + path("document") + " --out" + path("document.sig") + pin);
    ASSERT_EQ(result.status, 0) << result.err;
    result = RunProgram(
        "vela5-cng", "export " + key + " --pem" + path("public.pem") + " --blob" + path("public.blob") + pin);
    ASSERT_EQ(result.status, 0) << result.err;

    FILE* pem = std::fopen((dir / "public.pem").c_str(), "r");
    ASSERT_NE(pem, nullptr);
    const TestKey exported(PEM_read_PUBKEY(pem, nullptr, nullptr, nullptr), EVP_PKEY_free);
    std::fclose(pem);
    ASSERT_NE(exported, nullptr);
    EXPECT_EQ(EVP_PKEY_eq(exported.get(), m_key.get()), 1) << "the PEM is the PKCS#12 file's key";
    Bytes blob;
    DWORD length = 0;
    ASSERT_EQ(Export(u"RSAPUBLICBLOB", blob, 155, length), ERROR_SUCCESS);
    EXPECT_EQ(ReadBytes(dir / "public.blob"), blob);

    const Bytes signature = ReadBytes(dir / "document.sig");
    const vela5::platform::MdCtxPtr md(EVP_MD_CTX_new());
    ASSERT_EQ(EVP_DigestVerifyInit(md.get(), nullptr, EVP_sha256(), nullptr, exported.get()), 1);
    EXPECT_EQ(
        EVP_DigestVerify(md.get(), signature.data(), signature.size(), document.data(), document.size()), 1);

    result = RunProgram(
        "vela5-cng", "verify " + key + " --hash sha256" + path("document") + path("document.sig") + pin);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Signature verified\n");
    Bytes changed = signature;
    changed[0] ^= 0x10;
    WriteBytes(dir / "changed.sig", changed);
    result = RunProgram(
        "vela5-cng", "verify " + key + " --hash sha256" + path("document") + path("changed.sig") + pin);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "vela5-cng: the signature does not verify: 0x80090020\n");

    const Bytes secret = Filled(60, 77);
    WriteBytes(dir / "secret", secret);
    result = RunProgram("vela5-cng", "encrypt " + key + path("secret") + " --out" + path("secret.enc") + pin);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(OpenSslCrypt(m_key, false, ReadBytes(dir / "secret.enc")), secret);
    WriteBytes(dir / "openssl.enc", OpenSslCrypt(m_key, true, secret));
    result = RunProgram(
        "vela5-cng", "decrypt " + key + path("openssl.enc") + " --out" + path("secret.dec") + pin);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadBytes(dir / "secret.dec"), secret);

    result = RunProgram("vela5-cng", "sign " + key + " --hash sha384" + path("document") + pin);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "vela5-cng: signing failed: 0x80090027\n");
    result = RunProgram("vela5-cng", "sign " + key + path("document"));
    EXPECT_EQ(result.status, 2);
}
