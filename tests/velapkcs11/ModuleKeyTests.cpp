// Keys on the token: generation, the four RSA operations and their misuse,
// secret-key sensitivity, session objects, and PIN counters under two
// processes.
#include "TokenModuleFixture.h"

#include <cstring>

namespace {

class TokenKeys : public TokenModule {
protected:
    void SetUp() override
    {
        TokenModule::SetUp();
        InsertInitializedToken("--error-limit 10");
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
        session = Open();
        ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
    }
    // The templates a key storage provider sends: a modulus given only by
    // its length, a 20-byte ID on both halves.
    CK_RV Generate(CK_BBOOL onToken, CK_BBOOL sign)
    {
        static CK_OBJECT_CLASS pubClass = CKO_PUBLIC_KEY, privClass = CKO_PRIVATE_KEY;
        static CK_KEY_TYPE rsa = CKK_RSA;
        static CK_ULONG bits = 1024;
        static CK_BYTE exponent[] = { 1, 0, 1 };
        static CK_BYTE id[20] = { 7, 7, 7 };
        static CK_BBOOL yes = CK_TRUE;
        CK_MECHANISM mechanism = { CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0 };
        CK_ATTRIBUTE pub[] = { { CKA_CLASS, &pubClass, sizeof pubClass }, { CKA_KEY_TYPE, &rsa, sizeof rsa },
            { CKA_TOKEN, &onToken, 1 }, { CKA_MODULUS, nullptr, 128 },
            { CKA_MODULUS_BITS, &bits, sizeof bits }, { CKA_PUBLIC_EXPONENT, exponent, 3 },
            { CKA_ID, id, sizeof id } };
        CK_ATTRIBUTE priv[] = { { CKA_CLASS, &privClass, sizeof privClass }, { CKA_PRIVATE, &yes, 1 },
            { CKA_TOKEN, &onToken, 1 }, { CKA_SIGN, &sign, 1 }, { CKA_ID, id, sizeof id } };
        return p11->C_GenerateKeyPair(session, &mechanism, pub, 7, priv, 5, &publicKey, &privateKey);
    }

    CK_SESSION_HANDLE session = 0;
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    CK_MECHANISM rsaPkcs = { CKM_RSA_PKCS, nullptr, 0 };
};

// A generated pair, one test per use, so a broken use hides no other.
TEST_F(TokenKeys, GeneratedPairKnowsItsIndexAndPartner)
{
    ASSERT_EQ(Generate(CK_TRUE, CK_TRUE), CKR_OK);
    CK_BYTE index = 0, partner = 0;
    CK_ATTRIBUTE indexQuery = { CKA_NRV_KEY_PAIR_INDEX, &index, 1 };
    ASSERT_EQ(p11->C_GetAttributeValue(session, publicKey, &indexQuery, 1), CKR_OK);
    EXPECT_EQ(index, 1);
    ASSERT_EQ(p11->C_NRV_FindPriPubKey(session, NRV_FROM_PUBLIC_KEY_INDEX, index, &partner), CKR_OK);
    EXPECT_EQ(partner, 1);
    EXPECT_EQ(p11->C_NRV_FindPriPubKey(session, NRV_FROM_PUBLIC_KEY_INDEX, 5, &partner), CKR_OK);
    EXPECT_EQ(partner, 0) << "no key pair 5";
    CK_BYTE modulus[128];
    CK_ATTRIBUTE modulusQuery = { CKA_MODULUS, modulus, sizeof modulus };
    EXPECT_EQ(p11->C_GetAttributeValue(session, publicKey, &modulusQuery, 1), CKR_OK);
}

TEST_F(TokenKeys, GeneratedPairEncryptsAndDecrypts)
{
    ASSERT_EQ(Generate(CK_TRUE, CK_TRUE), CKR_OK);
    CK_BYTE message[] = "attack at dawn";
    CK_BYTE cipher[128], plain[128];
    CK_ULONG cipherLength = sizeof cipher, plainLength = sizeof plain;
    ASSERT_EQ(p11->C_EncryptInit(session, &rsaPkcs, publicKey), CKR_OK);
    ASSERT_EQ(p11->C_Encrypt(session, message, 14, cipher, &cipherLength), CKR_OK);
    ASSERT_EQ(cipherLength, 128u);
    ASSERT_EQ(p11->C_DecryptInit(session, &rsaPkcs, privateKey), CKR_OK);
    ASSERT_EQ(p11->C_Decrypt(session, cipher, cipherLength, plain, &plainLength), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(plain), plainLength), "attack at dawn");
    cipher[5] ^= 0xFF;
    plainLength = sizeof plain;
    ASSERT_EQ(p11->C_DecryptInit(session, &rsaPkcs, privateKey), CKR_OK);
    EXPECT_EQ(p11->C_Decrypt(session, cipher, cipherLength, plain, &plainLength), CKR_ENCRYPTED_DATA_INVALID);
}

TEST_F(TokenKeys, GeneratedPairSignsAndVerifies)
{
    ASSERT_EQ(Generate(CK_TRUE, CK_TRUE), CKR_OK);
    CK_BYTE message[] = "attack at dawn";
    CK_BYTE signature[128];
    CK_ULONG signatureLength = sizeof signature;
    ASSERT_EQ(p11->C_SignInit(session, &rsaPkcs, privateKey), CKR_OK);
    EXPECT_EQ(p11->C_SignInit(session, &rsaPkcs, privateKey), CKR_OPERATION_ACTIVE);
    ASSERT_EQ(p11->C_Sign(session, message, 14, signature, &signatureLength), CKR_OK);
    ASSERT_EQ(p11->C_VerifyInit(session, &rsaPkcs, publicKey), CKR_OK);
    EXPECT_EQ(p11->C_Verify(session, message, 14, signature, signatureLength), CKR_OK);
    message[0] = 'A';
    ASSERT_EQ(p11->C_VerifyInit(session, &rsaPkcs, publicKey), CKR_OK);
    EXPECT_EQ(p11->C_Verify(session, message, 14, signature, signatureLength), CKR_SIGNATURE_INVALID);
    ASSERT_EQ(p11->C_VerifyInit(session, &rsaPkcs, publicKey), CKR_OK);
    EXPECT_EQ(p11->C_Verify(session, message, 14, signature, 100), CKR_SIGNATURE_LEN_RANGE);

    std::vector<CK_BYTE> tooLong(120, 1);
    ASSERT_EQ(p11->C_SignInit(session, &rsaPkcs, privateKey), CKR_OK);
    EXPECT_EQ(p11->C_Sign(session, tooLong.data(), 120, signature, &signatureLength), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(p11->C_SignInit(session, &rsaPkcs, publicKey), CKR_KEY_TYPE_INCONSISTENT);
    CK_MECHANISM digestOnly = { CKM_SHA256, nullptr, 0 };
    EXPECT_EQ(p11->C_SignInit(session, &digestOnly, privateKey), CKR_MECHANISM_INVALID);

    ASSERT_EQ(p11->C_Logout(session), CKR_OK);
    EXPECT_EQ(p11->C_SignInit(session, &rsaPkcs, privateKey), CKR_USER_NOT_LOGGED_IN);
}

TEST_F(TokenKeys, PrivateKeysNeverAskForALoginPerOperation)
{
    ASSERT_EQ(Generate(CK_TRUE, CK_TRUE), CKR_OK);
    CK_BBOOL always = CK_TRUE;
    CK_ATTRIBUTE attribute { CKA_ALWAYS_AUTHENTICATE, &always, 1 };
    ASSERT_EQ(p11->C_GetAttributeValue(session, privateKey, &attribute, 1), CKR_OK);
    EXPECT_EQ(always, CK_FALSE);

    // A key that would need one is refused rather than stored with a promise
    // the token does not keep.
    CK_MECHANISM mechanism = { CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0 };
    CK_ULONG bits = 1024;
    CK_BYTE exponent[] = { 1, 0, 1 };
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE pub[] = { { CKA_MODULUS_BITS, &bits, sizeof bits }, { CKA_PUBLIC_EXPONENT, exponent, 3 } };
    CK_ATTRIBUTE priv[] = { { CKA_ALWAYS_AUTHENTICATE, &yes, 1 } };
    CK_OBJECT_HANDLE pubKey = 0, privKey = 0;
    EXPECT_EQ(p11->C_GenerateKeyPair(session, &mechanism, pub, 2, priv, 1, &pubKey, &privKey),
        CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST_F(TokenKeys, UsageFlagsAndKeyPairLimitAreEnforced)
{
    ASSERT_EQ(Generate(CK_TRUE, CK_FALSE), CKR_OK);
    EXPECT_EQ(p11->C_SignInit(session, &rsaPkcs, privateKey), CKR_KEY_FUNCTION_NOT_PERMITTED);
    const CK_OBJECT_HANDLE firstPublic = publicKey, firstPrivate = privateKey;
    for (int pair = 2; pair <= 10; ++pair) {
        ASSERT_EQ(Generate(CK_TRUE, CK_TRUE), CKR_OK) << "pair " << pair;
    }
    EXPECT_EQ(Generate(CK_TRUE, CK_TRUE), CKR_DEVICE_MEMORY) << "the token holds 10 key pairs";
    EXPECT_EQ(Generate(CK_FALSE, CK_TRUE), CKR_OK) << "session keys do not count";
    ASSERT_EQ(p11->C_DestroyObject(session, firstPublic), CKR_OK);
    ASSERT_EQ(p11->C_DestroyObject(session, firstPrivate), CKR_OK);
    ASSERT_EQ(Generate(CK_TRUE, CK_TRUE), CKR_OK) << "the freed index is used again";
    CK_BYTE index = 0;
    CK_ATTRIBUTE indexQuery = { CKA_NRV_KEY_PAIR_INDEX, &index, 1 };
    ASSERT_EQ(p11->C_GetAttributeValue(session, privateKey, &indexQuery, 1), CKR_OK);
    EXPECT_EQ(index, 1);
}

TEST_F(TokenKeys, SessionObjectsVanishWithTheirSession)
{
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    char app[] = "app";
    CK_ATTRIBUTE data[] = { { CKA_CLASS, &dataClass, sizeof dataClass }, { CKA_APPLICATION, app, 3 } };
    CK_OBJECT_HANDLE handle = 0;
    ASSERT_EQ(p11->C_CreateObject(session, data, 2, &handle), CKR_OK);
    const CK_SESSION_HANDLE other = Open();
    EXPECT_EQ(Count(other, { { CKA_APPLICATION, app, 3 } }), 1u) << "seen by the process's other sessions";
    ASSERT_EQ(p11->C_CloseSession(session), CKR_OK);
    EXPECT_EQ(Count(other, { { CKA_APPLICATION, app, 3 } }), 0u);
    CK_ULONG size = 0;
    EXPECT_EQ(p11->C_GetObjectSize(other, handle, &size), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(p11->C_CloseSession(session), CKR_SESSION_HANDLE_INVALID) << "closing twice";
}

TEST_F(TokenKeys, SecretKeyValuesFollowSensitivity)
{
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE des3 = CKK_DES3;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_BYTE value[24];
    std::memset(value, 0x3C, sizeof value);
    CK_ATTRIBUTE key[] = { { CKA_CLASS, &secretClass, sizeof secretClass },
        { CKA_KEY_TYPE, &des3, sizeof des3 }, { CKA_VALUE, value, sizeof value }, { CKA_SENSITIVE, &no, 1 } };
    CK_OBJECT_HANDLE handle = 0;
    ASSERT_EQ(p11->C_CreateObject(session, key, 4, &handle), CKR_OK);
    CK_BYTE read[24] = {};
    CK_ATTRIBUTE query = { CKA_VALUE, read, sizeof read };
    ASSERT_EQ(p11->C_GetAttributeValue(session, handle, &query, 1), CKR_OK);
    EXPECT_EQ(std::memcmp(read, value, sizeof value), 0);
    CK_ATTRIBUTE raise = { CKA_SENSITIVE, &yes, 1 };
    ASSERT_EQ(p11->C_SetAttributeValue(session, handle, &raise, 1), CKR_OK);
    EXPECT_EQ(p11->C_GetAttributeValue(session, handle, &query, 1), CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(query.ulValueLen, CK_UNAVAILABLE_INFORMATION);
    CK_ATTRIBUTE lower = { CKA_SENSITIVE, &no, 1 };
    EXPECT_EQ(p11->C_SetAttributeValue(session, handle, &lower, 1), CKR_ATTRIBUTE_READ_ONLY);
    CK_KEY_TYPE aes = CKK_AES;
    CK_ATTRIBUTE retype = { CKA_KEY_TYPE, &aes, sizeof aes };
    EXPECT_EQ(p11->C_SetAttributeValue(session, handle, &retype, 1), CKR_ATTRIBUTE_READ_ONLY);
}

TEST_F(TokenKeys, ASecretKeyCreatedWithoutSensitivityStaysReadable)
{
    // A secret key's CKA_SENSITIVE defaults to false and CKA_EXTRACTABLE to
    // true: callers that never name them expect to read the value back.
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE aes = CKK_AES;
    CK_BYTE value[16];
    std::memset(value, 0x5A, sizeof value);
    CK_ATTRIBUTE key[] = { { CKA_CLASS, &secretClass, sizeof secretClass },
        { CKA_KEY_TYPE, &aes, sizeof aes }, { CKA_VALUE, value, sizeof value } };
    CK_OBJECT_HANDLE handle = 0;
    ASSERT_EQ(p11->C_CreateObject(session, key, 3, &handle), CKR_OK);
    CK_BBOOL sensitive = CK_TRUE, alwaysSensitive = CK_TRUE, extractable = CK_FALSE,
             neverExtractable = CK_TRUE;
    CK_BYTE read[16] = {};
    CK_ATTRIBUTE query[] = { { CKA_SENSITIVE, &sensitive, 1 }, { CKA_ALWAYS_SENSITIVE, &alwaysSensitive, 1 },
        { CKA_EXTRACTABLE, &extractable, 1 }, { CKA_NEVER_EXTRACTABLE, &neverExtractable, 1 },
        { CKA_VALUE, read, sizeof read } };
    ASSERT_EQ(p11->C_GetAttributeValue(session, handle, query, 5), CKR_OK);
    EXPECT_EQ(sensitive, CK_FALSE);
    EXPECT_EQ(alwaysSensitive, CK_FALSE);
    EXPECT_EQ(extractable, CK_TRUE);
    EXPECT_EQ(neverExtractable, CK_FALSE);
    EXPECT_EQ(std::memcmp(read, value, sizeof value), 0);
}

TEST_F(TokenKeys, WrongPinsFromTwoProcessesAllCount)
{
    ASSERT_EQ(p11->C_Logout(session), CKR_OK);
    const std::string helper = std::string(VELA5_TEST_HELPER) + " wrong 3";
    FILE* first = popen(helper.c_str(), "r");
    FILE* second = popen(helper.c_str(), "r");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    // The helpers print the retry codes they saw.
    char seen[2][64] = {};
    EXPECT_NE(std::fgets(seen[0], sizeof seen[0], first), nullptr);
    EXPECT_NE(std::fgets(seen[1], sizeof seen[1], second), nullptr);
    EXPECT_EQ(pclose(first), 0);
    EXPECT_EQ(pclose(second), 0);
    EXPECT_EQ(Login(session, CKU_USER, "0000"), 3u)
        << "10 attempts, 6 used elsewhere, 1 here; the helpers saw " << seen[0] << "and " << seen[1];
}

} // namespace
