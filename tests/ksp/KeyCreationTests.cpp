// Keys created and imported through the router: the checks of creation and
// finalizing, overwriting (the old key stays until the new one exists),
// public, private and wrapped blobs that then work on the token with
// OpenSSL on the other side, and blobs refused before any byte is misread.
#include "KeyCreationFixture.h"
#include "platform/cng/WideText.h"

#include <cstring>

using namespace vela5::platform;

namespace {

const std::string kMessage = "The quick brown fox";

KeyId IdFrom(const KeyContext& key)
{
    return KeyId(key.ckaId, key.ckaId + key.cbCkaId);
}

} // namespace

TEST_F(KeyCreationTest, CreatePersistedKeyRefusesBadArgumentsWithTheirLines)
{
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    NCRYPT_KEY_HANDLE key = 0;
    const struct {
        NCRYPT_KEY_HANDLE* phKey;
        const char16_t* algorithm;
        DWORD spec;
        DWORD flags;
        SECURITY_STATUS result;
        const char* line;
    } cases[] = {
        { nullptr, u"RSA", 0, 0, NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: phKey is NULL" },
        { &key, nullptr, 0, 0, NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: pszAlgID is NULL" },
        { &key, u"RSA", 0, 0x100, NTE_BAD_FLAGS,
            "NTE_BAD_FLAGS: Only NCRYPT_MACHINE_KEY_FLAG and NCRYPT_OVERWIRTE_KEY_FLAG is acceptable." },
        { &key, u"rsa", 0, 0, NTE_NOT_SUPPORTED,
            "NTE_NOT_SUPPORTED: This KSP only supports NCRYPT_RSA_ALGORITHM" },
        { &key, u"RSA", 3, 0, NTE_INVALID_PARAMETER, "NTE_INVALID_PARAMETER: Invalid dwLegacyKeySpec value" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            Table().CreatePersistedKey(provider, c.phKey, c.algorithm, u"Bad", c.spec, c.flags), c.result)
            << c.line;
        EXPECT_TRUE(Contains(NewLog(), c.line)) << c.line;
        EXPECT_EQ(key, 0U);
    }
    // The machine-key flag is accepted and changes nothing.
    ASSERT_EQ(Table().CreatePersistedKey(provider, &key, u"RSA", u"Machine", 2, NCRYPT_MACHINE_KEY_FLAG),
        ERROR_SUCCESS);
    EXPECT_EQ(Record(key).dwAlgId, 0x2400U);
    EXPECT_EQ(Record(key).dwKeyLength, 2048U);
    EXPECT_EQ(Record(key).fFinished, 0U);
    EXPECT_EQ(Table().FreeKey(provider, key), ERROR_SUCCESS);
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(KeyCreationTest, WithoutDefaultKeyLengthEveryCreationFails)
{
    SetDefaultKeyLength(false);
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    for (const char16_t* name : { u"Named", static_cast<const char16_t*>(nullptr) }) {
        NCRYPT_KEY_HANDLE key = 0;
        EXPECT_EQ(Table().CreatePersistedKey(provider, &key, u"RSA", name, 0, 0), NTE_INTERNAL_ERROR);
        EXPECT_EQ(key, 0U);
    }
    EXPECT_TRUE(Contains(NewLog(), "NTE_INTERNAL_ERROR: Failed to get registry key"));
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(KeyCreationTest, FinalizedKeyIsOnTheTokenSignsAndCannotBeFinalizedTwice)
{
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    NCRYPT_KEY_HANDLE key = MakeKey(provider, u"Signer");
    const KeyContext& record = Record(key);
    EXPECT_EQ(record.fFinished, 1U);
    EXPECT_EQ(record.cbCkaId, 20U);
    EXPECT_EQ(Table().FinalizeKey(provider, key, 0), NTE_BAD_KEY_STATE);
    EXPECT_EQ(Table().FinalizeKey(provider, key, 0x1), NTE_BAD_FLAGS);
    const std::string log = NewLog();
    EXPECT_TRUE(Contains(log, "Generating key pair"));
    EXPECT_TRUE(Contains(log, "Bit length: 512"));
    {
        UserSession session(kReader, kPin);
        EXPECT_EQ(session.Attribute(record.hPublicKey, CKA_LABEL), Bytes({ 'S', 'i', 'g', 'n', 'e', 'r' }));
        EXPECT_EQ(IdFrom(record), session.Attribute(record.hPrivateKey, CKA_ID));
        const Bytes signature = session.SignSha256(record.hPrivateKey, kMessage);
        EXPECT_TRUE(ByOpenSsl::VerifySha256(session.PublicKeyOf(record.hPublicKey), kMessage, signature));
    }
    EXPECT_EQ(Table().FreeKey(provider, key), ERROR_SUCCESS);
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(KeyCreationTest, NameOf63CharactersGivesAnEmptyLabel)
{
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    const struct {
        std::u16string name;
        std::size_t labelLength;
    } cases[] = { { std::u16string(62, u'L'), 62 }, { std::u16string(63, u'M'), 0 } };
    for (const auto& c : cases) {
        NCRYPT_KEY_HANDLE key = MakeKey(provider, c.name);
        UserSession session(kReader, kPin);
        EXPECT_EQ(session.Attribute(Record(key).hPublicKey, CKA_LABEL).size(), c.labelLength);
        Table().FreeKey(provider, key);
    }
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(KeyCreationTest, ExistingNameIsRefusedOrReplacedOnlyOnceTheNewKeyExists)
{
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    NCRYPT_KEY_HANDLE first = MakeKey(provider, u"Twice");
    const KeyId oldId = IdFrom(Record(first));
    Table().FreeKey(provider, first);

    NCRYPT_KEY_HANDLE key = 0;
    EXPECT_EQ(Table().CreatePersistedKey(provider, &key, u"RSA", u"Twice", 0, 0), NTE_EXISTS);
    EXPECT_TRUE(Contains(NewLog(), "NTE_EXISTS: A key with the same name already exists"));
    ASSERT_EQ(Table().CreatePersistedKey(provider, &key, u"RSA", u"Twice", 0, NCRYPT_OVERWRITE_KEY_FLAG),
        ERROR_SUCCESS);
    EXPECT_TRUE(Contains(NewLog(), "NTE_EXISTS: A key with same name exists and will be overwritten"));
    EXPECT_EQ(Record(key).dwOverwrite, 1U);
    ASSERT_EQ(SetLength(provider, key, 512), ERROR_SUCCESS);

    // Generation fails: the old key is untouched.
    TokenTool("token fail " + m_serial + " C_GenerateKeyPair");
    EXPECT_EQ(Table().FinalizeKey(provider, key, 0), NTE_INTERNAL_ERROR);
    TokenTool("token fail " + m_serial + " C_GenerateKeyPair off");
    EXPECT_TRUE(Contains(NewLog(), "NTE_INTERNAL_ERROR: GenerateKeyPair failed - 0x8009002D"));
    EXPECT_EQ(CountObjects(kReader, CKO_PUBLIC_KEY, oldId), 1);
    EXPECT_EQ(CountObjects(kReader, CKO_PRIVATE_KEY, oldId), 1);

    // Generation works: the new key replaces the old one.
    ASSERT_EQ(Table().FinalizeKey(provider, key, 0), ERROR_SUCCESS);
    EXPECT_TRUE(Contains(NewLog(), "Overwrite flag is set."));
    const KeyId newId = IdFrom(Record(key));
    EXPECT_NE(newId, oldId);
    EXPECT_EQ(CountObjects(kReader, CKO_PUBLIC_KEY, oldId), 0);
    EXPECT_EQ(CountObjects(kReader, CKO_PRIVATE_KEY, oldId), 0);
    EXPECT_EQ(CountObjects(kReader, CKO_PUBLIC_KEY, newId), 1);
    EXPECT_EQ(CountObjects(kReader, CKO_PRIVATE_KEY, newId), 1);
    Table().FreeKey(provider, key);
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

// The exponent 01 00 01 of a blob is 65537 on the token, so the imported
// public key verifies what OpenSSL signed with the private key.
TEST_F(KeyCreationTest, ImportedPublicBlobVerifiesAnOpenSslSignature)
{
    const TestKey openssl = MakeRsaKey(1024);
    const Bytes blob = Blobs::Public(openssl);
    ASSERT_EQ(blob[8], 3U); // a 3-byte exponent
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    NCRYPT_KEY_HANDLE key = 0;
    ASSERT_EQ(Import(provider, u"RSAPUBLICBLOB", blob, key, u"Verifier"), ERROR_SUCCESS);
    const KeyContext& record = Record(key);
    EXPECT_EQ(record.fFinished, 1U);
    EXPECT_EQ(record.dwKeyLength, 1024U);
    EXPECT_EQ(record.cbCkaId, 128U);
    EXPECT_EQ(record.hPrivateKey, 0U);
    // The PIN the host gave is gone and the session is logged out.
    EXPECT_EQ(reinterpret_cast<const ProviderContext*>(provider)->pszPin, nullptr);
    CK_SESSION_INFO info {};
    ASSERT_EQ(Module()->C_GetSessionInfo(reinterpret_cast<const ProviderContext*>(provider)->hSession, &info),
        CKR_OK);
    EXPECT_EQ(info.state, static_cast<CK_STATE>(CKS_RW_PUBLIC_SESSION));
    {
        UserSession session(kReader, kPin);
        EXPECT_EQ(session.Attribute(record.hPublicKey, CKA_PUBLIC_EXPONENT), Bytes({ 0x01, 0x00, 0x01 }));
        const Bytes id = session.Attribute(record.hPublicKey, CKA_ID);
        EXPECT_EQ(id, IdFrom(record));
        EXPECT_EQ(id.size(), 128U);
        EXPECT_EQ(std::count(id.begin() + 64, id.end(), 0), 64);
        const Bytes signature = ByOpenSsl::SignSha256(openssl, kMessage);
        EXPECT_EQ(session.VerifySha256(record.hPublicKey, kMessage, signature), CKR_OK);
        EXPECT_EQ(
            session.VerifySha256(record.hPublicKey, "another message", signature), CKR_SIGNATURE_INVALID);
    }
    Table().FreeKey(provider, key);
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(KeyCreationTest, UnnamedPublicBlobIsASessionObjectMadeWithoutLogin)
{
    const NCRYPT_PROV_HANDLE provider = OpenWith(nullptr);
    NCRYPT_KEY_HANDLE key = 0;
    ASSERT_EQ(Import(provider, u"RSAPUBLICBLOB", Blobs::Public(MakeRsaKey(512)), key), ERROR_SUCCESS);
    const CK_SESSION_HANDLE session = reinterpret_cast<const ProviderContext*>(provider)->hSession;
    CK_BBOOL token = CK_TRUE;
    CK_ATTRIBUTE read = { CKA_TOKEN, &token, 1 };
    ASSERT_EQ(Module()->C_GetAttributeValue(session, Record(key).hPublicKey, &read, 1), CKR_OK);
    EXPECT_EQ(token, CK_FALSE);
    EXPECT_FALSE(Contains(NewLog(), "Retrieving token info"));
    Table().FreeKey(provider, key);
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

// The blob carries only the primes: the other components come from them,
// so the token's key signs what OpenSSL verifies with the original key.
TEST_F(KeyCreationTest, ImportedPrivateBlobSignsWhatOpenSslVerifies)
{
    const TestKey openssl = MakeRsaKey(1024);
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    NCRYPT_KEY_HANDLE key = 0;
    ASSERT_EQ(Import(provider, u"RSAPRIVATEBLOB", Blobs::Private(openssl), key, u"Imported"), ERROR_SUCCESS);
    const KeyContext& record = Record(key);
    EXPECT_EQ(record.fFinished, 1U);
    EXPECT_NE(record.hPrivateKey, 0U);
    EXPECT_TRUE(Contains(NewLog(), "Finalizing key..."));
    EXPECT_TRUE(Contains(NewLog(), "Key is imported"));
    {
        UserSession session(kReader, kPin);
        EXPECT_EQ(
            session.Attribute(record.hPrivateKey, CKA_ID), session.Attribute(record.hPublicKey, CKA_ID));
        const Bytes signature = session.SignSha256(record.hPrivateKey, kMessage);
        EXPECT_TRUE(ByOpenSsl::VerifySha256(openssl, kMessage, signature));
    }
    Table().FreeKey(provider, key);

    // Not finalized on request: nothing on the token until FinalizeKey.
    ASSERT_EQ(Import(provider, u"RSAPRIVATEBLOB", Blobs::Private(MakeRsaKey(512)), key, u"Later",
                  NCRYPT_DO_NOT_FINALIZE_FLAG),
        ERROR_SUCCESS);
    EXPECT_EQ(Record(key).fFinished, 0U);
    EXPECT_EQ(Record(key).hPrivateKey, 0U);
    reinterpret_cast<ProviderContext*>(provider)->pszPin = new char16_t[5] { u'1', u'2', u'3', u'4', 0 };
    ASSERT_EQ(Table().FinalizeKey(provider, key, 0), ERROR_SUCCESS);
    EXPECT_NE(Record(key).hPrivateKey, 0U);
    Table().FreeKey(provider, key);
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

TEST_F(KeyCreationTest, WrappedPrivateBlobIsUnwrappedWithTheImportKey)
{
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    NCRYPT_KEY_HANDLE wrapKey = MakeKey(provider, u"Wrapper", 2048);
    TestKey wrapPublic;
    {
        UserSession session(kReader, kPin);
        wrapPublic = session.PublicKeyOf(Record(wrapKey).hPublicKey);
    }
    const TestKey openssl = MakeRsaKey(512);
    const Bytes plain = Blobs::Private(openssl);
    Bytes wrapped(plain.begin(), plain.begin() + 8);
    const Bytes cipher = ByOpenSsl::EncryptPkcs1(wrapPublic, Bytes(plain.begin() + 8, plain.end()));
    wrapped.insert(wrapped.end(), cipher.begin(), cipher.end());

    NCRYPT_KEY_HANDLE key = 0;
    ASSERT_EQ(Import(provider, u"RSAPRIVATEBLOB", wrapped, key, u"Unwrapped", 0, wrapKey), ERROR_SUCCESS);
    {
        UserSession session(kReader, kPin);
        const Bytes signature = session.SignSha256(Record(key).hPrivateKey, kMessage);
        EXPECT_TRUE(ByOpenSsl::VerifySha256(openssl, kMessage, signature));
    }
    Table().FreeKey(provider, key);
    // A handle that is not a key, and a wrapped part the import key did not make.
    EXPECT_EQ(Import(provider, u"RSAPRIVATEBLOB", wrapped, key, u"X", 0, 0x1234), NTE_INVALID_HANDLE);
    EXPECT_TRUE(Contains(NewLog(), "NTE_INVALID_HANDLE: hImportKey handle is invalid"));
    reinterpret_cast<ProviderContext*>(provider)->pszPin = new char16_t[5] { u'1', u'2', u'3', u'4', 0 };
    Bytes garbled = wrapped;
    garbled[20] ^= 0xFF;
    EXPECT_EQ(Import(provider, u"RSAPRIVATEBLOB", garbled, key, u"X", 0, wrapKey), NTE_INTERNAL_ERROR);
    EXPECT_EQ(key, 0U);
    Table().FreeKey(provider, wrapKey);
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}

// Every length of the header is checked against the others and the data
// before a component is read; no bad blob leaves a key or an object.
TEST_F(KeyCreationTest, BadBlobsAreRefusedWithTheirLines)
{
    const TestKey openssl = MakeRsaKey(512);
    const Bytes good = Blobs::Public(openssl);
    const Bytes goodPrivate = Blobs::Private(openssl);
    const Bytes modulus(good.begin() + 27, good.end());
    Bytes otherPrimes = goodPrivate;
    otherPrimes[otherPrimes.size() - 1] ^= 0x02;
    Bytes shortened = good;
    shortened.pop_back();
    auto withExponent = [&](const Bytes& exponent) {
        Bytes body = exponent;
        body.insert(body.end(), modulus.begin(), modulus.end());
        return Blobs::Raw(
            Blobs::kPublicMagic, 512, static_cast<std::uint32_t>(exponent.size()), 64, 0, 0, body);
    };
    const struct {
        const char* what;
        const char16_t* type;
        Bytes blob;
        SECURITY_STATUS result;
        const char* line;
    } cases[] = {
        { "null type", nullptr, good, NTE_INVALID_PARAMETER,
            "NTE_INVALID_PARAMETER: Only RSA BLOBs are currently supported" },
        { "full private type", u"RSAFULLPRIVATEBLOB", goodPrivate, NTE_INVALID_PARAMETER,
            "NTE_INVALID_PARAMETER: Only RSA BLOBs are currently supported" },
        { "lower-case type", u"rsapublicblob", good, NTE_INVALID_PARAMETER,
            "NTE_INVALID_PARAMETER: Only RSA BLOBs are currently supported" },
        { "shorter than its header", u"RSAPUBLICBLOB", Bytes(good.begin(), good.begin() + 20),
            NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: cbBlobBuffer is too small" },
        { "modulus past the end", u"RSAPUBLICBLOB", shortened, NTE_INTERNAL_ERROR,
            "NTE_INTERNAL_ERROR: cbBlobBuffer is too small" },
        { "primes past the end", u"RSAPRIVATEBLOB", Bytes(goodPrivate.begin(), goodPrivate.end() - 1),
            NTE_INTERNAL_ERROR, "NTE_INTERNAL_ERROR: cbBlobBuffer is too small" },
        { "5-byte exponent", u"RSAPUBLICBLOB", withExponent({ 0, 0, 1, 0, 1 }), NTE_NOT_SUPPORTED,
            "Public exponent length exceeds 32 bits" },
        { "no exponent", u"RSAPUBLICBLOB", withExponent({}), NTE_BAD_DATA,
            "NTE_BAD_DATA: Public exponent is zero" },
        { "zero exponent", u"RSAPUBLICBLOB", withExponent({ 0, 0, 0 }), NTE_BAD_DATA,
            "NTE_BAD_DATA: Public exponent is zero" },
        { "private magic as public", u"RSAPUBLICBLOB",
            Blobs::Raw(Blobs::kPrivateMagic, 512, 3, 64, 0, 0, Bytes(good.begin() + 24, good.end())),
            NTE_BAD_DATA, "NTE_BAD_DATA: Blob magic does not match pszBlobType" },
        { "public blob as private", u"RSAPRIVATEBLOB", good, NTE_BAD_DATA,
            "NTE_BAD_DATA: Blob magic does not match pszBlobType" },
        { "BitLength beyond cbModulus", u"RSAPUBLICBLOB",
            Blobs::Raw(Blobs::kPublicMagic, 4096, 3, 64, 0, 0, Bytes(good.begin() + 24, good.end())),
            NTE_BAD_DATA, "NTE_BAD_DATA: BitLength does not match cbModulus" },
        { "primes of another key", u"RSAPRIVATEBLOB", otherPrimes, NTE_BAD_DATA,
            "NTE_BAD_DATA: The primes do not make a key with this modulus" },
    };
    const NCRYPT_PROV_HANDLE provider = OpenWith(kPin);
    for (const auto& c : cases) {
        NCRYPT_KEY_HANDLE key = 0;
        EXPECT_EQ(Import(provider, c.type, c.blob, key, u"Bad"), c.result) << c.what;
        EXPECT_EQ(key, 0U) << c.what;
        EXPECT_TRUE(Contains(LastCall(NewLog(), "VELA5KSPImportKey"), c.line)) << c.what;
    }
    // The argument checks, in their order.
    NCRYPT_KEY_HANDLE key = 0;
    Bytes blob = good;
    EXPECT_EQ(Table().ImportKey(provider, 0, u"RSAPUBLICBLOB", nullptr, nullptr, blob.data(), 91, 0),
        NTE_INVALID_PARAMETER);
    EXPECT_EQ(Table().ImportKey(provider, 0, u"RSAPUBLICBLOB", nullptr, &key, nullptr, 91, 0),
        NTE_INVALID_PARAMETER);
    EXPECT_EQ(Table().ImportKey(provider, 0, u"RSAPUBLICBLOB", nullptr, &key, blob.data(), 0, 0),
        NTE_INVALID_PARAMETER);
    EXPECT_EQ(Table().ImportKey(provider, 0, u"RSAPUBLICBLOB", nullptr, &key, blob.data(), 91, 0x1000),
        NTE_BAD_FLAGS);
    EXPECT_EQ(Table().ImportKey(
                  provider, 0, u"RSAPUBLICBLOB", nullptr, &key, blob.data(), 91, NCRYPT_MACHINE_KEY_FLAG),
        NTE_NOT_SUPPORTED);
    // A key-name buffer without a zero byte.
    char16_t unterminated[] = { u'A', u'B' };
    unterminated[0] = 0x4142;
    unterminated[1] = 0x4344;
    NCryptBuffer buffer = { sizeof unterminated, 45, unterminated };
    NCryptBufferDesc list = { 0, 1, &buffer };
    EXPECT_EQ(Table().ImportKey(provider, 0, u"RSAPUBLICBLOB", &list, &key, blob.data(), 91, 0),
        NTE_INVALID_PARAMETER);
    EXPECT_TRUE(Contains(NewLog(), "ReadKeyNameFromParams failed"));
    EXPECT_EQ(key, 0U);
    EXPECT_EQ(Table().FreeProvider(provider), ERROR_SUCCESS);
}
