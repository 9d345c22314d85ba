// The RSA mechanisms and digests as standard consumers use them: every
// signature checked by OpenSSL with the public key read from the token,
// PSS and OAEP parameters, multi-part against single-part, digests against
// OpenSSL, and which failures end an operation.
#include "TokenModuleFixture.h"
#include "platform/openssl/OpenSslPtr.h"

#include <functional>
#include <memory>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

namespace {

using Bytes = std::vector<CK_BYTE>;

using Pkey = vela5::platform::PkeyPtr;
using Ctx = vela5::platform::PkeyCtxPtr;

const EVP_MD* MdOf(CK_MECHANISM_TYPE digest)
{
    switch (digest) {
    case CKM_SHA_1:
        return EVP_sha1();
    case CKM_SHA256:
        return EVP_sha256();
    case CKM_SHA384:
        return EVP_sha384();
    default:
        return EVP_sha512();
    }
}

Bytes Hash(CK_MECHANISM_TYPE digest, const Bytes& data)
{
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned size = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &size, MdOf(digest), nullptr);
    out.resize(size);
    return out;
}

class TokenMechanisms : public TokenModule {
protected:
    void SetUp() override
    {
        TokenModule::SetUp();
        InsertInitializedToken();
        ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK);
        session = Open();
        ASSERT_EQ(Login(session, CKU_USER, "1234"), CKR_OK);
        static CK_ULONG bits = 2048;
        static CK_BYTE exponent[] = { 1, 0, 1 };
        static CK_BBOOL yes = CK_TRUE;
        CK_MECHANISM generator = { CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0 };
        // Token objects: the tests replace sessions, which takes session objects along.
        CK_ATTRIBUTE pub[] = { { CKA_MODULUS_BITS, &bits, sizeof bits }, { CKA_PUBLIC_EXPONENT, exponent, 3 },
            { CKA_VERIFY, &yes, 1 }, { CKA_ENCRYPT, &yes, 1 }, { CKA_TOKEN, &yes, 1 } };
        CK_ATTRIBUTE priv[] = { { CKA_SIGN, &yes, 1 }, { CKA_DECRYPT, &yes, 1 }, { CKA_TOKEN, &yes, 1 } };
        ASSERT_EQ(
            p11->C_GenerateKeyPair(session, &generator, pub, 5, priv, 3, &publicKey, &privateKey), CKR_OK);
        openSslKey = PublicKeyFromToken();
        ASSERT_NE(openSslKey, nullptr);
    }

    // A new session in place of the current one, without its operation;
    // the login stays, as another session of the process remains.
    void FreshSession()
    {
        const CK_SESSION_HANDLE next = Open();
        ASSERT_EQ(p11->C_CloseSession(session), CKR_OK);
        session = next;
    }

    // The public key as any consumer rebuilds it: modulus and exponent.
    Pkey PublicKeyFromToken()
    {
        Bytes modulus(512), exponent(16);
        CK_ATTRIBUTE query[] = { { CKA_MODULUS, modulus.data(), modulus.size() },
            { CKA_PUBLIC_EXPONENT, exponent.data(), exponent.size() } };
        if (p11->C_GetAttributeValue(session, publicKey, query, 2) != CKR_OK) {
            return nullptr;
        }
        BIGNUM* n = BN_bin2bn(modulus.data(), static_cast<int>(query[0].ulValueLen), nullptr);
        BIGNUM* e = BN_bin2bn(exponent.data(), static_cast<int>(query[1].ulValueLen), nullptr);
        OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
        OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_N, n);
        OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_E, e);
        OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(builder);
        Ctx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
        EVP_PKEY* key = nullptr;
        EVP_PKEY_fromdata_init(ctx.get());
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params);
        OSSL_PARAM_free(params);
        OSSL_PARAM_BLD_free(builder);
        BN_free(n);
        BN_free(e);
        return Pkey(key);
    }

    CK_RV Sign(CK_MECHANISM& mechanism, Bytes data, Bytes& signature)
    {
        CK_RV rv = p11->C_SignInit(session, &mechanism, privateKey);
        if (rv != CKR_OK) {
            return rv;
        }
        signature.assign(256, 0);
        CK_ULONG length = signature.size();
        rv = p11->C_Sign(session, data.data(), data.size(), signature.data(), &length);
        signature.resize(length);
        return rv;
    }

    CK_RV SignInParts(CK_MECHANISM& mechanism, const Bytes& data, Bytes& signature)
    {
        CK_RV rv = p11->C_SignInit(session, &mechanism, privateKey);
        for (size_t at = 0; rv == CKR_OK && at < data.size(); at += 7) {
            Bytes part(data.begin() + at, data.begin() + std::min(at + 7, data.size()));
            rv = p11->C_SignUpdate(session, part.data(), part.size());
        }
        signature.assign(256, 0);
        CK_ULONG length = signature.size();
        if (rv == CKR_OK) {
            rv = p11->C_SignFinal(session, signature.data(), &length);
        }
        signature.resize(length);
        return rv;
    }

    CK_RV VerifyInParts(CK_MECHANISM& mechanism, const Bytes& data, Bytes signature)
    {
        CK_RV rv = p11->C_VerifyInit(session, &mechanism, publicKey);
        for (size_t at = 0; rv == CKR_OK && at < data.size(); at += 5) {
            Bytes part(data.begin() + at, data.begin() + std::min(at + 5, data.size()));
            rv = p11->C_VerifyUpdate(session, part.data(), part.size());
        }
        return rv == CKR_OK ? p11->C_VerifyFinal(session, signature.data(), signature.size()) : rv;
    }

    // OpenSSL's verdict on a signature of `digest` (or of raw data when
    // `digestType` is 0).
    bool OpenSslVerifies(
        const Bytes& input, const Bytes& signature, CK_MECHANISM_TYPE digestType, bool pss, int saltLength)
    {
        Ctx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, openSslKey.get(), nullptr));
        EVP_PKEY_verify_init(ctx.get());
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), pss ? RSA_PKCS1_PSS_PADDING : RSA_PKCS1_PADDING);
        if (digestType != 0) {
            EVP_PKEY_CTX_set_signature_md(ctx.get(), MdOf(digestType));
        }
        if (pss) {
            EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.get(), MdOf(digestType));
            EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx.get(), saltLength);
        }
        return EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), input.data(), input.size())
            == 1;
    }

    CK_SESSION_HANDLE session = 0;
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    Pkey openSslKey;
    const Bytes message = Bytes(100, 'm');
};

// A signature mechanism as a consumer sends it.
struct SignatureCase {
    CK_MECHANISM_TYPE mechanism;
    CK_MECHANISM_TYPE digest; // 0: raw CKM_RSA_PKCS
    bool pss;
    bool hashesData;
};

const SignatureCase kSignatures[] = {
    { CKM_RSA_PKCS, 0, false, false },
    { CKM_SHA1_RSA_PKCS, CKM_SHA_1, false, true },
    { CKM_SHA256_RSA_PKCS, CKM_SHA256, false, true },
    { CKM_SHA384_RSA_PKCS, CKM_SHA384, false, true },
    { CKM_SHA512_RSA_PKCS, CKM_SHA512, false, true },
    { CKM_RSA_PKCS_PSS, CKM_SHA_1, true, false },
    { CKM_RSA_PKCS_PSS, CKM_SHA256, true, false },
    { CKM_RSA_PKCS_PSS, CKM_SHA512, true, false },
    { CKM_SHA1_RSA_PKCS_PSS, CKM_SHA_1, true, true },
    { CKM_SHA256_RSA_PKCS_PSS, CKM_SHA256, true, true },
    { CKM_SHA384_RSA_PKCS_PSS, CKM_SHA384, true, true },
    { CKM_SHA512_RSA_PKCS_PSS, CKM_SHA512, true, true },
};

CK_RSA_PKCS_MGF_TYPE MgfOf(CK_MECHANISM_TYPE digest)
{
    switch (digest) {
    case CKM_SHA_1:
        return CKG_MGF1_SHA1;
    case CKM_SHA256:
        return CKG_MGF1_SHA256;
    case CKM_SHA384:
        return CKG_MGF1_SHA384;
    default:
        return CKG_MGF1_SHA512;
    }
}

TEST_F(TokenMechanisms, EverySignatureMechanismIsVerifiedByOpenSsl)
{
    for (const SignatureCase& c : kSignatures) {
        SCOPED_TRACE(
            testing::Message() << "mechanism 0x" << std::hex << c.mechanism << " digest 0x" << c.digest);
        CK_RSA_PKCS_PSS_PARAMS pss = { c.digest, MgfOf(c.digest), 20 };
        CK_MECHANISM mechanism = { c.mechanism, c.pss ? &pss : nullptr, c.pss ? sizeof pss : 0 };
        // Raw mechanisms sign what they are given: a digest for PSS, any
        // short data for PKCS #1 v1.5.
        const Bytes input = c.hashesData ? message : c.pss ? Hash(c.digest, message) : Bytes(40, 'r');
        Bytes signature;
        ASSERT_EQ(Sign(mechanism, input, signature), CKR_OK);
        ASSERT_EQ(signature.size(), 256u);
        const Bytes verified = c.digest != 0 ? Hash(c.digest, message) : input;
        EXPECT_TRUE(OpenSslVerifies(verified, signature, c.digest, c.pss, 20));
        Bytes input2 = input;
        ASSERT_EQ(p11->C_VerifyInit(session, &mechanism, publicKey), CKR_OK);
        EXPECT_EQ(
            p11->C_Verify(session, input2.data(), input2.size(), signature.data(), signature.size()), CKR_OK);
        signature[100] ^= 1;
        ASSERT_EQ(p11->C_VerifyInit(session, &mechanism, publicKey), CKR_OK);
        EXPECT_EQ(p11->C_Verify(session, input2.data(), input2.size(), signature.data(), signature.size()),
            CKR_SIGNATURE_INVALID);
    }
}

TEST_F(TokenMechanisms, MultiPartSignaturesEqualSinglePartOnes)
{
    for (const SignatureCase& c : kSignatures) {
        if (!c.hashesData) {
            continue;
        }
        SCOPED_TRACE(testing::Message() << "mechanism 0x" << std::hex << c.mechanism);
        CK_RSA_PKCS_PSS_PARAMS pss = { c.digest, MgfOf(c.digest), 32 };
        CK_MECHANISM mechanism = { c.mechanism, c.pss ? &pss : nullptr, c.pss ? sizeof pss : 0 };
        Bytes single, parts;
        ASSERT_EQ(Sign(mechanism, message, single), CKR_OK);
        ASSERT_EQ(SignInParts(mechanism, message, parts), CKR_OK);
        if (!c.pss) {
            EXPECT_EQ(parts, single) << "PKCS #1 v1.5 signatures are deterministic";
        }
        EXPECT_TRUE(OpenSslVerifies(Hash(c.digest, message), parts, c.digest, c.pss, 32));
        EXPECT_EQ(VerifyInParts(mechanism, message, single), CKR_OK);
        Bytes other = message;
        other.back() ^= 1;
        EXPECT_EQ(VerifyInParts(mechanism, other, single), CKR_SIGNATURE_INVALID);
    }
}

// A mechanism with parameters the token must refuse at Init.
struct ParamCase {
    const char* fault;
    CK_MECHANISM_TYPE mechanism;
    CK_RSA_PKCS_PSS_PARAMS pss;
    CK_RSA_PKCS_OAEP_PARAMS oaep;
    CK_ULONG length; // of the parameter block; 0 with a null pointer
    bool encrypt;
    CK_RV expected;
};

TEST_F(TokenMechanisms, BadMechanismParametersAreRefusedAtInit)
{
    CK_BYTE label[] = "lbl";
    const CK_RSA_PKCS_PSS_PARAMS goodPss = { CKM_SHA256, CKG_MGF1_SHA256, 32 };
    const CK_RSA_PKCS_OAEP_PARAMS goodOaep = { CKM_SHA256, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, label, 3 };
    const CK_ULONG pssSize = sizeof(CK_RSA_PKCS_PSS_PARAMS), oaepSize = sizeof(CK_RSA_PKCS_OAEP_PARAMS);
    const ParamCase cases[] = {
        { "PSS without parameters", CKM_RSA_PKCS_PSS, goodPss, goodOaep, 0, false,
            CKR_MECHANISM_PARAM_INVALID },
        { "PSS block of the wrong size", CKM_RSA_PKCS_PSS, goodPss, goodOaep, pssSize - 1, false,
            CKR_MECHANISM_PARAM_INVALID },
        { "PSS with an unknown hash", CKM_RSA_PKCS_PSS, { CKM_MD5, CKG_MGF1_SHA256, 32 }, goodOaep, pssSize,
            false, CKR_MECHANISM_PARAM_INVALID },
        { "PSS with an unknown MGF", CKM_RSA_PKCS_PSS, { CKM_SHA256, 9, 32 }, goodOaep, pssSize, false,
            CKR_MECHANISM_PARAM_INVALID },
        { "SHA256 PSS naming SHA-1", CKM_SHA256_RSA_PKCS_PSS, { CKM_SHA_1, CKG_MGF1_SHA1, 20 }, goodOaep,
            pssSize, false, CKR_MECHANISM_PARAM_INVALID },
        { "salt too long for the key", CKM_SHA512_RSA_PKCS_PSS, { CKM_SHA512, CKG_MGF1_SHA512, 200 },
            goodOaep, pssSize, false, CKR_MECHANISM_PARAM_INVALID },
        { "hash-and-sign with parameters", CKM_SHA256_RSA_PKCS, goodPss, goodOaep, pssSize, false,
            CKR_MECHANISM_PARAM_INVALID },
        { "OAEP without parameters", CKM_RSA_PKCS_OAEP, goodPss, goodOaep, 0, true,
            CKR_MECHANISM_PARAM_INVALID },
        { "OAEP with an unknown source", CKM_RSA_PKCS_OAEP, goodPss,
            { CKM_SHA256, CKG_MGF1_SHA256, 2, label, 3 }, oaepSize, true, CKR_MECHANISM_PARAM_INVALID },
        { "OAEP label without its bytes", CKM_RSA_PKCS_OAEP, goodPss,
            { CKM_SHA256, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, nullptr, 3 }, oaepSize, true,
            CKR_MECHANISM_PARAM_INVALID },
        { "OAEP with an unknown hash", CKM_RSA_PKCS_OAEP, goodPss,
            { CKM_MD5, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, label, 3 }, oaepSize, true,
            CKR_MECHANISM_PARAM_INVALID },
        { "OAEP for signing", CKM_RSA_PKCS_OAEP, goodPss, goodOaep, oaepSize, false, CKR_MECHANISM_INVALID },
        { "PSS for encryption", CKM_RSA_PKCS_PSS, goodPss, goodOaep, pssSize, true, CKR_MECHANISM_INVALID },
        { "raw RSA", CKM_RSA_X_509, goodPss, goodOaep, 0, false, CKR_MECHANISM_INVALID },
    };
    for (ParamCase c : cases) {
        SCOPED_TRACE(c.fault);
        void* params = c.length == 0           ? nullptr
            : c.mechanism == CKM_RSA_PKCS_OAEP ? static_cast<void*>(&c.oaep)
                                               : static_cast<void*>(&c.pss);
        CK_MECHANISM mechanism = { c.mechanism, params, c.length };
        EXPECT_EQ(c.encrypt ? p11->C_EncryptInit(session, &mechanism, publicKey)
                            : p11->C_SignInit(session, &mechanism, privateKey),
            c.expected);
    }
    // None of them left an operation behind.
    CK_MECHANISM rsaPkcs = { CKM_RSA_PKCS, nullptr, 0 };
    EXPECT_EQ(p11->C_SignInit(session, &rsaPkcs, privateKey), CKR_OK);
    EXPECT_EQ(p11->C_EncryptInit(session, &rsaPkcs, publicKey), CKR_OPERATION_ACTIVE);
}

TEST_F(TokenMechanisms, OaepHonoursHashMgfAndLabel)
{
    CK_BYTE label[] = "context";
    CK_RSA_PKCS_OAEP_PARAMS params = { CKM_SHA256, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, label, 7 };
    CK_MECHANISM oaep = { CKM_RSA_PKCS_OAEP, &params, sizeof params };
    Bytes plain = { 's', 'e', 'c', 'r', 'e', 't' };
    // OpenSSL encrypts with the public key read from the token.
    Ctx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, openSslKey.get(), nullptr));
    EVP_PKEY_encrypt_init(ctx.get());
    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING);
    EVP_PKEY_CTX_set_rsa_oaep_md(ctx.get(), EVP_sha256());
    EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.get(), EVP_sha1());
    EVP_PKEY_CTX_set0_rsa_oaep_label(ctx.get(), OPENSSL_memdup(label, 7), 7);
    Bytes cipher(256);
    size_t cipherLength = cipher.size();
    ASSERT_EQ(EVP_PKEY_encrypt(ctx.get(), cipher.data(), &cipherLength, plain.data(), plain.size()), 1);

    Bytes out(256);
    CK_ULONG outLength = out.size();
    ASSERT_EQ(p11->C_DecryptInit(session, &oaep, privateKey), CKR_OK);
    ASSERT_EQ(p11->C_Decrypt(session, cipher.data(), cipherLength, out.data(), &outLength), CKR_OK);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + outLength), plain);

    label[0] = 'C';
    outLength = out.size();
    ASSERT_EQ(p11->C_DecryptInit(session, &oaep, privateKey), CKR_OK);
    EXPECT_EQ(p11->C_Decrypt(session, cipher.data(), cipherLength, out.data(), &outLength),
        CKR_ENCRYPTED_DATA_INVALID)
        << "another label";

    // The token's own ciphertext round-trips; too much data for OAEP-SHA256
    // (256 - 2 * 32 - 2 = 190 bytes) is refused.
    Bytes tooLong(191, 'x');
    outLength = out.size();
    ASSERT_EQ(p11->C_EncryptInit(session, &oaep, publicKey), CKR_OK);
    EXPECT_EQ(p11->C_Encrypt(session, tooLong.data(), 191, out.data(), &outLength), CKR_DATA_LEN_RANGE);
    outLength = out.size();
    ASSERT_EQ(p11->C_EncryptInit(session, &oaep, publicKey), CKR_OK);
    ASSERT_EQ(p11->C_Encrypt(session, tooLong.data(), 190, out.data(), &outLength), CKR_OK);
    Bytes back(256);
    CK_ULONG backLength = back.size();
    ASSERT_EQ(p11->C_DecryptInit(session, &oaep, privateKey), CKR_OK);
    ASSERT_EQ(p11->C_Decrypt(session, out.data(), outLength, back.data(), &backLength), CKR_OK);
    EXPECT_EQ(backLength, 190u);
}

TEST_F(TokenMechanisms, RawPssTakesExactlyOneDigest)
{
    CK_RSA_PKCS_PSS_PARAMS params = { CKM_SHA256, CKG_MGF1_SHA256, 32 };
    CK_MECHANISM pss = { CKM_RSA_PKCS_PSS, &params, sizeof params };
    Bytes signature;
    EXPECT_EQ(Sign(pss, Bytes(31, 1), signature), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(Sign(pss, Bytes(32, 1), signature), CKR_OK);
    Bytes digest(32, 1);
    ASSERT_EQ(p11->C_SignInit(session, &pss, privateKey), CKR_OK);
    EXPECT_EQ(p11->C_SignUpdate(session, digest.data(), 32), CKR_FUNCTION_NOT_SUPPORTED)
        << "PSS on a given digest is single-part";
}

TEST_F(TokenMechanisms, DigestsMatchOpenSsl)
{
    for (CK_MECHANISM_TYPE type : { CKM_SHA_1, CKM_SHA256, CKM_SHA384, CKM_SHA512 }) {
        SCOPED_TRACE(testing::Message() << "digest 0x" << std::hex << type);
        const Bytes expected = Hash(type, message);
        CK_MECHANISM mechanism = { type, nullptr, 0 };
        Bytes data = message;
        Bytes out(64);
        CK_ULONG length = 0;
        ASSERT_EQ(p11->C_DigestInit(session, &mechanism), CKR_OK);
        ASSERT_EQ(p11->C_Digest(session, data.data(), data.size(), nullptr, &length), CKR_OK);
        EXPECT_EQ(length, expected.size()) << "length query";
        length = expected.size() - 1;
        EXPECT_EQ(
            p11->C_Digest(session, data.data(), data.size(), out.data(), &length), CKR_BUFFER_TOO_SMALL);
        EXPECT_EQ(length, expected.size());
        ASSERT_EQ(p11->C_Digest(session, data.data(), data.size(), out.data(), &length), CKR_OK)
            << "the operation outlived the query and the short buffer";
        EXPECT_EQ(Bytes(out.begin(), out.begin() + length), expected);

        ASSERT_EQ(p11->C_DigestInit(session, &mechanism), CKR_OK);
        ASSERT_EQ(p11->C_DigestUpdate(session, data.data(), 30), CKR_OK);
        ASSERT_EQ(p11->C_DigestUpdate(session, data.data() + 30, data.size() - 30), CKR_OK);
        length = 0;
        ASSERT_EQ(p11->C_DigestFinal(session, nullptr, &length), CKR_OK);
        length = 1;
        EXPECT_EQ(p11->C_DigestFinal(session, out.data(), &length), CKR_BUFFER_TOO_SMALL);
        ASSERT_EQ(p11->C_DigestFinal(session, out.data(), &length), CKR_OK);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + length), expected);
    }
    CK_BYTE stray = 0;
    CK_MECHANISM withParams = { CKM_SHA256, &stray, 1 };
    EXPECT_EQ(p11->C_DigestInit(session, &withParams), CKR_MECHANISM_PARAM_INVALID);
    CK_MECHANISM md5 = { CKM_MD5, nullptr, 0 };
    EXPECT_EQ(p11->C_DigestInit(session, &md5), CKR_MECHANISM_INVALID);
    CK_MECHANISM sign = { CKM_SHA256_RSA_PKCS, nullptr, 0 };
    EXPECT_EQ(p11->C_DigestInit(session, &sign), CKR_MECHANISM_INVALID);
}

// One failing call after an Init; afterwards the same Init must succeed.
struct EndingFault {
    const char* fault;
    std::function<CK_RV()> init;
    std::function<CK_RV()> call;
    CK_RV expected;
};

TEST_F(TokenMechanisms, AFailedCallEndsTheOperation)
{
    CK_MECHANISM rsaPkcs = { CKM_RSA_PKCS, nullptr, 0 };
    CK_MECHANISM sha256Rsa = { CKM_SHA256_RSA_PKCS, nullptr, 0 };
    CK_MECHANISM sha256 = { CKM_SHA256, nullptr, 0 };
    Bytes data(250, 1), out(256);
    CK_ULONG length = 0;
    auto signInit
        = [&](CK_MECHANISM* m) { return [=, this] { return p11->C_SignInit(session, m, privateKey); }; };
    auto verifyInit
        = [&](CK_MECHANISM* m) { return [=, this] { return p11->C_VerifyInit(session, m, publicKey); }; };
    const std::vector<EndingFault> faults = {
        { "C_SignUpdate on a single-part mechanism", signInit(&rsaPkcs),
            [&] { return p11->C_SignUpdate(session, data.data(), 4); }, CKR_FUNCTION_NOT_SUPPORTED },
        { "C_Sign with too much data", signInit(&rsaPkcs),
            [&] {
                length = out.size();
                return p11->C_Sign(session, data.data(), 250, out.data(), &length);
            },
            CKR_DATA_LEN_RANGE },
        { "C_Sign without an output length", signInit(&rsaPkcs),
            [&] { return p11->C_Sign(session, data.data(), 4, out.data(), nullptr); }, CKR_ARGUMENTS_BAD },
        { "C_Sign after C_SignUpdate", signInit(&sha256Rsa),
            [&] {
                length = out.size();
                p11->C_SignUpdate(session, data.data(), 4);
                return p11->C_Sign(session, data.data(), 4, out.data(), &length);
            },
            CKR_OPERATION_ACTIVE },
        { "C_SignUpdate without data", signInit(&sha256Rsa),
            [&] { return p11->C_SignUpdate(session, nullptr, 4); }, CKR_ARGUMENTS_BAD },
        { "C_Verify of a wrong signature", verifyInit(&sha256Rsa),
            [&] { return p11->C_Verify(session, data.data(), 4, out.data(), 256); }, CKR_SIGNATURE_INVALID },
        { "C_VerifyFinal with a short signature", verifyInit(&sha256Rsa),
            [&] { return p11->C_VerifyFinal(session, out.data(), 100); }, CKR_SIGNATURE_LEN_RANGE },
        { "C_VerifyUpdate on a single-part mechanism", verifyInit(&rsaPkcs),
            [&] { return p11->C_VerifyUpdate(session, data.data(), 4); }, CKR_FUNCTION_NOT_SUPPORTED },
        { "C_Encrypt with too much data", [&] { return p11->C_EncryptInit(session, &rsaPkcs, publicKey); },
            [&] {
                length = out.size();
                return p11->C_Encrypt(session, data.data(), 250, out.data(), &length);
            },
            CKR_DATA_LEN_RANGE },
        { "C_Decrypt of a short ciphertext",
            [&] { return p11->C_DecryptInit(session, &rsaPkcs, privateKey); },
            [&] {
                length = out.size();
                return p11->C_Decrypt(session, data.data(), 100, out.data(), &length);
            },
            CKR_ENCRYPTED_DATA_LEN_RANGE },
        { "C_DigestUpdate without data", [&] { return p11->C_DigestInit(session, &sha256); },
            [&] { return p11->C_DigestUpdate(session, nullptr, 4); }, CKR_ARGUMENTS_BAD },
        { "C_Sign failed by a reader switch", signInit(&rsaPkcs),
            [&] {
                length = out.size();
                EXPECT_EQ(RunTool("reader fail " + kReader + " C_Sign 0x30"), 0);
                const CK_RV rv = p11->C_Sign(session, data.data(), 4, out.data(), &length);
                EXPECT_EQ(RunTool("reader fail " + kReader + " C_Sign off"), 0);
                return rv;
            },
            CKR_DEVICE_ERROR },
    };
    for (const EndingFault& f : faults) {
        SCOPED_TRACE(f.fault);
        ASSERT_EQ(f.init(), CKR_OK);
        EXPECT_EQ(f.call(), f.expected);
        EXPECT_EQ(f.init(), CKR_OK) << "the failed call ended the operation";
        FreshSession();
    }
}

TEST_F(TokenMechanisms, ShortBuffersAndLengthQueriesKeepTheOperation)
{
    CK_MECHANISM sha256Rsa = { CKM_SHA256_RSA_PKCS, nullptr, 0 };
    Bytes out(256);
    CK_ULONG length = 0;
    ASSERT_EQ(p11->C_SignInit(session, &sha256Rsa, privateKey), CKR_OK);
    ASSERT_EQ(p11->C_SignUpdate(session, const_cast<CK_BYTE*>(message.data()), message.size()), CKR_OK);
    ASSERT_EQ(p11->C_SignFinal(session, nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 256u);
    length = 255;
    EXPECT_EQ(p11->C_SignFinal(session, out.data(), &length), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 256u);
    ASSERT_EQ(p11->C_SignFinal(session, out.data(), &length), CKR_OK);
    EXPECT_TRUE(OpenSslVerifies(Hash(CKM_SHA256, message), out, CKM_SHA256, false, 0))
        << "the query and the short buffer did not consume the data";
    EXPECT_EQ(p11->C_SignFinal(session, out.data(), &length), CKR_OPERATION_NOT_INITIALIZED);
}

TEST_F(TokenMechanisms, MechanismListIsWhatTheInitsAccept)
{
    CK_ULONG count = 0;
    ASSERT_EQ(p11->C_GetMechanismList(0, nullptr, &count), CKR_OK);
    std::vector<CK_MECHANISM_TYPE> types(count);
    ASSERT_EQ(p11->C_GetMechanismList(0, types.data(), &count), CKR_OK);
    EXPECT_EQ(count, 16u);
    for (CK_MECHANISM_TYPE type : types) {
        SCOPED_TRACE(testing::Message() << "mechanism 0x" << std::hex << type);
        CK_MECHANISM_INFO info = {};
        ASSERT_EQ(p11->C_GetMechanismInfo(0, type, &info), CKR_OK);
        CK_RSA_PKCS_PSS_PARAMS pss = { CKM_SHA256, CKG_MGF1_SHA256, 32 };
        if (type != CKM_RSA_PKCS_PSS) {
            for (const SignatureCase& c : kSignatures) {
                if (c.mechanism == type && c.pss) {
                    pss = { c.digest, MgfOf(c.digest), 0 };
                }
            }
        }
        CK_RSA_PKCS_OAEP_PARAMS oaep = { CKM_SHA_1, CKG_MGF1_SHA1, 0, nullptr, 0 };
        void* params = type == CKM_RSA_PKCS_OAEP ? static_cast<void*>(&oaep) : static_cast<void*>(&pss);
        const CK_ULONG size = type == CKM_RSA_PKCS_OAEP ? sizeof oaep : sizeof pss;
        const bool withParams = type == CKM_RSA_PKCS_OAEP || (info.flags & CKF_SIGN) != 0;
        CK_MECHANISM mechanism = { type, nullptr, 0 };
        auto tryInit = [&](CK_RV (*init)(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE),
                           CK_OBJECT_HANDLE key) {
            mechanism = { type, nullptr, 0 };
            CK_RV rv = init(session, &mechanism, key);
            if (rv == CKR_MECHANISM_PARAM_INVALID && withParams) {
                mechanism = { type, params, size };
                rv = init(session, &mechanism, key);
            }
            return rv;
        };
        const CK_RV sign = tryInit(p11->C_SignInit, privateKey);
        FreshSession();
        const CK_RV encrypt = tryInit(p11->C_EncryptInit, publicKey);
        FreshSession();
        mechanism = { type, nullptr, 0 };
        const CK_RV digest = p11->C_DigestInit(session, &mechanism);
        EXPECT_EQ(sign == CKR_OK, (info.flags & CKF_SIGN) != 0);
        EXPECT_EQ(encrypt == CKR_OK, (info.flags & CKF_ENCRYPT) != 0);
        EXPECT_EQ(digest == CKR_OK, (info.flags & CKF_DIGEST) != 0);
        EXPECT_EQ((info.flags & CKF_SIGN) != 0, (info.flags & CKF_VERIFY) != 0);
        EXPECT_EQ((info.flags & CKF_ENCRYPT) != 0, (info.flags & CKF_DECRYPT) != 0);
        if ((info.flags & (CKF_SIGN | CKF_ENCRYPT | CKF_GENERATE_KEY_PAIR)) != 0) {
            EXPECT_EQ(info.ulMinKeySize, 512u);
            EXPECT_EQ(info.ulMaxKeySize, 4096u);
        }
        FreshSession();
    }
    CK_MECHANISM_INFO info = {};
    EXPECT_EQ(p11->C_GetMechanismInfo(0, CKM_MD5, &info), CKR_MECHANISM_INVALID);
}

} // namespace
