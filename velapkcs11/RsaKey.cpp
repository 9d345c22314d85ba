// RSA under PKCS #1 v1.5 (raw, or with the DigestInfo of a digest made by
// the module), PSS and OAEP.
#include "RsaKey.h"

#include "CkError.h"
#include "platform/secure_memory/SecretBytes.h"

#include <array>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <optional>

using namespace vela5::platform;

namespace velatoken {

namespace {

BnPtr ToBn(const Blob& bytes)
{
    return BnPtr(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}

Blob FromBnParam(EVP_PKEY* key, const char* name)
{
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) {
        throw CkError(CKR_GENERAL_ERROR, "key parameter missing");
    }
    BnPtr bn(raw);
    Blob out(static_cast<size_t>(BN_num_bytes(bn.get())));
    BN_bn2bin(bn.get(), out.data());
    return out;
}

RsaKey FromParams(const Blob& n, const Blob& e, const Blob* d, const Blob* const* crt)
{
    ParamBuildPtr builder(OSSL_PARAM_BLD_new());
    std::vector<BnPtr> numbers;
    auto push = [&](const char* name, const Blob& value) {
        numbers.push_back(ToBn(value));
        Require(numbers.back() != nullptr, CKR_HOST_MEMORY);
        Require(OSSL_PARAM_BLD_push_BN(builder.get(), name, numbers.back().get()) == 1, CKR_HOST_MEMORY);
    };
    Require(builder != nullptr, CKR_HOST_MEMORY);
    push(OSSL_PKEY_PARAM_RSA_N, n);
    push(OSSL_PKEY_PARAM_RSA_E, e);
    if (d != nullptr) {
        push(OSSL_PKEY_PARAM_RSA_D, *d);
        if (crt != nullptr) {
            push(OSSL_PKEY_PARAM_RSA_FACTOR1, *crt[0]);
            push(OSSL_PKEY_PARAM_RSA_FACTOR2, *crt[1]);
            push(OSSL_PKEY_PARAM_RSA_EXPONENT1, *crt[2]);
            push(OSSL_PKEY_PARAM_RSA_EXPONENT2, *crt[3]);
            push(OSSL_PKEY_PARAM_RSA_COEFFICIENT1, *crt[4]);
        }
    }
    ParamsPtr params(OSSL_PARAM_BLD_to_param(builder.get()));
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    if (params == nullptr || ctx == nullptr || EVP_PKEY_fromdata_init(ctx.get()) != 1
        || EVP_PKEY_fromdata(
               ctx.get(), &key, d != nullptr ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params.get())
            != 1) {
        throw CkError(CKR_ATTRIBUTE_VALUE_INVALID, "unusable RSA components");
    }
    return RsaKey(key);
}

PkeyCtxPtr Context(EVP_PKEY* key)
{
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    Require(ctx != nullptr, CKR_HOST_MEMORY);
    return ctx;
}

} // namespace

RsaKey RsaKey::Generate(unsigned bits, const Blob& publicExponent)
{
    Require(bits >= 512 && bits <= 4096, CKR_KEY_SIZE_RANGE);
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    Require(ctx != nullptr && EVP_PKEY_keygen_init(ctx.get()) == 1, CKR_GENERAL_ERROR);
    Require(EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bits)) == 1, CKR_KEY_SIZE_RANGE);
    if (!publicExponent.empty()) {
        BnPtr e = ToBn(publicExponent);
        Require(e != nullptr && BN_is_odd(e.get()) && BN_num_bits(e.get()) > 1, CKR_ATTRIBUTE_VALUE_INVALID);
        Require(EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), e.get()) == 1, CKR_ATTRIBUTE_VALUE_INVALID);
    }
    EVP_PKEY* key = nullptr;
    Require(EVP_PKEY_generate(ctx.get(), &key) == 1, CKR_FUNCTION_FAILED);
    return RsaKey(key);
}

RsaKey RsaKey::FromPrivateDer(const Blob& der)
{
    const unsigned char* cursor = der.data();
    EVP_PKEY* key = d2i_AutoPrivateKey(nullptr, &cursor, static_cast<long>(der.size()));
    Require(key != nullptr, CKR_DEVICE_ERROR);
    return RsaKey(key);
}

RsaKey RsaKey::FromPublic(const Blob& modulus, const Blob& exponent)
{
    return FromParams(modulus, exponent, nullptr, nullptr);
}

namespace {

Blob ToBlob(const BIGNUM* bn)
{
    Blob out(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    return out;
}

// The primes of n from n, e and d: d*e - 1 is a multiple of lcm(p-1, q-1),
// so for most bases g a square root of 1 other than +-1 turns up among
// g^t, g^2t, ... (k = 2^s * t), and gcd(root - 1, n) is a prime factor.
// Then the CRT values, which PKCS#11 lets a caller leave out.
std::optional<std::array<Blob, 5>> RecoverCrt(const Blob& nBytes, const Blob& eBytes, const Blob& dBytes)
{
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr n = ToBn(nBytes), e = ToBn(eBytes), d = ToBn(dBytes);
    BnPtr k(BN_new()), t(BN_new()), x(BN_new()), y(BN_new()), g(BN_new()), nMinus1(BN_new());
    BnPtr p(BN_new()), q(BN_new()), rem(BN_new()), dp(BN_new()), dq(BN_new()), qinv(BN_new()), pm1(BN_new());
    for (const BnPtr* bn :
        { &n, &e, &d, &k, &t, &x, &y, &g, &nMinus1, &p, &q, &rem, &dp, &dq, &qinv, &pm1 }) {
        Require(*bn != nullptr, CKR_HOST_MEMORY);
    }
    Require(ctx != nullptr, CKR_HOST_MEMORY);
    if (BN_is_zero(n.get()) || !BN_is_odd(n.get()) || BN_is_zero(d.get()) || BN_is_zero(e.get())) {
        return std::nullopt;
    }
    BN_set_flags(d.get(), BN_FLG_CONSTTIME);
    if (BN_mul(k.get(), d.get(), e.get(), ctx.get()) != 1 || BN_sub_word(k.get(), 1) != 1
        || BN_is_zero(k.get()) || BN_is_odd(k.get()) || BN_copy(t.get(), k.get()) == nullptr
        || BN_copy(nMinus1.get(), n.get()) == nullptr || BN_sub_word(nMinus1.get(), 1) != 1) {
        return std::nullopt;
    }
    int s = 0;
    while (!BN_is_odd(t.get())) {
        BN_rshift1(t.get(), t.get());
        ++s;
    }
    bool found = false;
    for (BN_ULONG base = 2; base < 200 && !found; ++base) {
        BN_set_word(g.get(), base);
        if (BN_mod_exp(x.get(), g.get(), t.get(), n.get(), ctx.get()) != 1) {
            return std::nullopt;
        }
        for (int i = 0; i < s && !found; ++i) {
            if (BN_is_one(x.get()) || BN_cmp(x.get(), nMinus1.get()) == 0) {
                break;
            }
            if (BN_mod_sqr(y.get(), x.get(), n.get(), ctx.get()) != 1) {
                return std::nullopt;
            }
            if (BN_is_one(y.get())) {
                // x is a non-trivial square root of 1.
                BN_sub_word(x.get(), 1);
                found = BN_gcd(p.get(), x.get(), n.get(), ctx.get()) == 1 && !BN_is_one(p.get())
                    && BN_cmp(p.get(), n.get()) != 0;
                break;
            }
            std::swap(x, y);
        }
    }
    if (!found || BN_div(q.get(), rem.get(), n.get(), p.get(), ctx.get()) != 1 || !BN_is_zero(rem.get())) {
        return std::nullopt;
    }
    // The larger prime first, as keys usually name them.
    if (BN_cmp(p.get(), q.get()) < 0) {
        std::swap(p, q);
    }
    auto exponentFor = [&](BIGNUM* out, const BIGNUM* prime) {
        return BN_copy(pm1.get(), prime) != nullptr && BN_sub_word(pm1.get(), 1) == 1
            && BN_mod(out, d.get(), pm1.get(), ctx.get()) == 1;
    };
    if (!exponentFor(dp.get(), p.get()) || !exponentFor(dq.get(), q.get())
        || BN_mod_inverse(qinv.get(), q.get(), p.get(), ctx.get()) == nullptr) {
        return std::nullopt;
    }
    return std::array<Blob, 5> { ToBlob(p.get()), ToBlob(q.get()), ToBlob(dp.get()), ToBlob(dq.get()),
        ToBlob(qinv.get()) };
}

} // namespace

RsaKey RsaKey::FromComponents(const Blob& n, const Blob& e, const Blob& d, const Blob* crt[5])
{
    bool allCrt = crt != nullptr;
    for (int i = 0; allCrt && i < 5; ++i) {
        allCrt = crt[i] != nullptr;
    }
    if (allCrt) {
        return FromParams(n, e, &d, crt);
    }
    // The stored key always has its primes: found from n, e and d.
    std::optional<std::array<Blob, 5>> recovered = RecoverCrt(n, e, d);
    Require(recovered.has_value(), CKR_ATTRIBUTE_VALUE_INVALID);
    // Wiped on every way out, a throwing FromParams included.
    std::array<SecretBytes, 5> primes;
    const Blob* values[5];
    for (size_t i = 0; i < primes.size(); ++i) {
        primes[i] = SecretBytes(std::move((*recovered)[i]));
        values[i] = &primes[i].Bytes();
    }
    return FromParams(n, e, &d, values);
}

Blob RsaKey::PrivateDer() const
{
    unsigned char* out = nullptr;
    const int length = i2d_PrivateKey(m_key.get(), &out);
    Require(length > 0, CKR_GENERAL_ERROR);
    Blob der(out, out + length);
    OPENSSL_clear_free(out, static_cast<size_t>(length));
    return der;
}

Blob RsaKey::Modulus() const
{
    return FromBnParam(m_key.get(), OSSL_PKEY_PARAM_RSA_N);
}

Blob RsaKey::PublicExponent() const
{
    return FromBnParam(m_key.get(), OSSL_PKEY_PARAM_RSA_E);
}

unsigned RsaKey::Bits() const
{
    return static_cast<unsigned>(EVP_PKEY_get_bits(m_key.get()));
}

namespace {

size_t DigestSize(const EVP_MD* md)
{
    return static_cast<size_t>(EVP_MD_get_size(md));
}

// A context with the mechanism's padding, digest, MGF1, salt and label.
void Configure(EVP_PKEY_CTX* ctx, const RsaMechanism& mechanism)
{
    switch (mechanism.Padding()) {
    case RsaPadding::Pkcs1:
        Require(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1, CKR_GENERAL_ERROR);
        if (mechanism.Digest() != nullptr) {
            Require(EVP_PKEY_CTX_set_signature_md(ctx, mechanism.Digest()) == 1, CKR_GENERAL_ERROR);
        }
        break;
    case RsaPadding::Pss:
        Require(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PSS_PADDING) == 1, CKR_GENERAL_ERROR);
        Require(EVP_PKEY_CTX_set_signature_md(ctx, mechanism.Digest()) == 1, CKR_GENERAL_ERROR);
        Require(EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, mechanism.Mgf1()) == 1, CKR_GENERAL_ERROR);
        Require(
            EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, mechanism.SaltLength()) == 1, CKR_MECHANISM_PARAM_INVALID);
        break;
    case RsaPadding::Oaep:
        Require(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) == 1, CKR_GENERAL_ERROR);
        Require(EVP_PKEY_CTX_set_rsa_oaep_md(ctx, mechanism.Digest()) == 1, CKR_GENERAL_ERROR);
        Require(EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, mechanism.Mgf1()) == 1, CKR_GENERAL_ERROR);
        if (!mechanism.Label().empty()) {
            // The context takes ownership of its copy.
            void* label = OPENSSL_memdup(mechanism.Label().data(), mechanism.Label().size());
            Require(label != nullptr, CKR_HOST_MEMORY);
            if (EVP_PKEY_CTX_set0_rsa_oaep_label(ctx, label, static_cast<int>(mechanism.Label().size()))
                != 1) {
                OPENSSL_free(label);
                throw CkError(CKR_GENERAL_ERROR);
            }
        }
        break;
    }
}

// What may be signed or verified: raw PKCS #1 input up to the padding's
// room, otherwise exactly one digest.
void CheckSignInput(const RsaMechanism& mechanism, size_t length, size_t keyBytes)
{
    if (mechanism.Digest() == nullptr) {
        Require(length + 11 <= keyBytes, CKR_DATA_LEN_RANGE);
    } else {
        Require(length == DigestSize(mechanism.Digest()), CKR_DATA_LEN_RANGE);
    }
}

} // namespace

void RsaKey::CheckFits(const RsaMechanism& mechanism) const
{
    if (mechanism.Digest() == nullptr) {
        return;
    }
    const size_t hashBytes = DigestSize(mechanism.Digest());
    switch (mechanism.Padding()) {
    case RsaPadding::Pkcs1:
        // The longest DigestInfo prefix is 19 bytes, the padding at least 11.
        Require(hashBytes + 19 + 11 <= Bytes(), CKR_KEY_SIZE_RANGE);
        break;
    case RsaPadding::Pss: {
        const size_t encodedBytes = (Bits() - 1 + 7) / 8;
        Require(hashBytes + 2 <= encodedBytes, CKR_KEY_SIZE_RANGE);
        Require(hashBytes + static_cast<size_t>(mechanism.SaltLength()) + 2 <= encodedBytes,
            CKR_MECHANISM_PARAM_INVALID);
        break;
    }
    case RsaPadding::Oaep:
        Require(2 * hashBytes + 2 < Bytes(), CKR_KEY_SIZE_RANGE);
        break;
    }
}

Blob RsaKey::Sign(const RsaMechanism& mechanism, const unsigned char* data, size_t length) const
{
    CheckSignInput(mechanism, length, Bytes());
    PkeyCtxPtr ctx = Context(m_key.get());
    Require(EVP_PKEY_sign_init(ctx.get()) == 1, CKR_KEY_TYPE_INCONSISTENT);
    Configure(ctx.get(), mechanism);
    size_t size = Bytes();
    Blob signature(size);
    Require(EVP_PKEY_sign(ctx.get(), signature.data(), &size, data, length) == 1, CKR_FUNCTION_FAILED);
    signature.resize(size);
    return signature;
}

void RsaKey::Verify(const RsaMechanism& mechanism, const unsigned char* data, size_t length,
    const unsigned char* signature, size_t sigLength) const
{
    Require(sigLength == Bytes(), CKR_SIGNATURE_LEN_RANGE);
    CheckSignInput(mechanism, length, Bytes());
    PkeyCtxPtr ctx = Context(m_key.get());
    Require(EVP_PKEY_verify_init(ctx.get()) == 1, CKR_KEY_TYPE_INCONSISTENT);
    Configure(ctx.get(), mechanism);
    Require(EVP_PKEY_verify(ctx.get(), signature, sigLength, data, length) == 1, CKR_SIGNATURE_INVALID);
}

Blob RsaKey::Encrypt(const RsaMechanism& mechanism, const unsigned char* data, size_t length) const
{
    const size_t overhead
        = mechanism.Padding() == RsaPadding::Oaep ? 2 * DigestSize(mechanism.Digest()) + 2 : 11;
    Require(length + overhead <= Bytes(), CKR_DATA_LEN_RANGE);
    PkeyCtxPtr ctx = Context(m_key.get());
    Require(EVP_PKEY_encrypt_init(ctx.get()) == 1, CKR_KEY_TYPE_INCONSISTENT);
    Configure(ctx.get(), mechanism);
    size_t size = Bytes();
    Blob out(size);
    Require(EVP_PKEY_encrypt(ctx.get(), out.data(), &size, data, length) == 1, CKR_FUNCTION_FAILED);
    out.resize(size);
    return out;
}

Blob RsaKey::Decrypt(const RsaMechanism& mechanism, const unsigned char* data, size_t length) const
{
    Require(length == Bytes(), CKR_ENCRYPTED_DATA_LEN_RANGE);
    PkeyCtxPtr ctx = Context(m_key.get());
    Require(EVP_PKEY_decrypt_init(ctx.get()) == 1, CKR_KEY_TYPE_INCONSISTENT);
    Configure(ctx.get(), mechanism);
    if (mechanism.Padding() == RsaPadding::Pkcs1) {
        // OpenSSL answers bad padding with random bytes unless implicit
        // rejection is off; the token reports it instead.
        EVP_PKEY_CTX_ctrl_str(ctx.get(), "rsa_pkcs1_implicit_rejection", "0");
    }
    size_t size = Bytes();
    Blob out(size);
    Require(EVP_PKEY_decrypt(ctx.get(), out.data(), &size, data, length) == 1, CKR_ENCRYPTED_DATA_INVALID);
    out.resize(size);
    return out;
}

} // namespace velatoken
