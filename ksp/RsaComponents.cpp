#include "ksp/RsaComponents.h"

#include <memory>
#include <openssl/bn.h>
#include <vector>

namespace {

struct BnFree {
    void operator()(BIGNUM* number) const { BN_clear_free(number); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

struct CtxFree {
    void operator()(BN_CTX* context) const { BN_CTX_free(context); }
};

Bn FromBytes(const std::uint8_t* bytes, std::size_t size)
{
    return Bn(BN_bin2bn(bytes, static_cast<int>(size), nullptr));
}

Bn Fresh()
{
    return Bn(BN_secure_new());
}

bool ToBytes(const BIGNUM* number, std::size_t size, WipedBytes& out)
{
    std::vector<std::uint8_t> bytes(size);
    if (BN_bn2binpad(number, bytes.data(), static_cast<int>(size)) < 0) {
        return false;
    }
    out.Assign(bytes.data(), bytes.size());
    OPENSSL_cleanse(bytes.data(), bytes.size());
    return true;
}

} // namespace

bool ComputeRsaComponents(const std::uint8_t* modulus, std::size_t cbModulus, std::uint32_t exponent,
    const std::uint8_t* prime1, std::size_t cbPrime1, const std::uint8_t* prime2, std::size_t cbPrime2,
    RsaComponents& out)
{
    std::unique_ptr<BN_CTX, CtxFree> context(BN_CTX_secure_new());
    const Bn n = FromBytes(modulus, cbModulus);
    const Bn p = FromBytes(prime1, cbPrime1);
    const Bn q = FromBytes(prime2, cbPrime2);
    Bn e = Fresh();
    Bn product = Fresh(), pMinus1 = Fresh(), qMinus1 = Fresh(), phi = Fresh();
    Bn d = Fresh(), dp = Fresh(), dq = Fresh(), qInv = Fresh();
    if (!context || !n || !p || !q || !e || !product || !pMinus1 || !qMinus1 || !phi || !d || !dp || !dq
        || !qInv) {
        return false;
    }
    if (BN_set_word(e.get(), exponent) != 1 || BN_is_one(p.get()) || BN_is_zero(p.get()) || BN_is_one(q.get())
        || BN_is_zero(q.get())) {
        return false;
    }
    // A blob whose primes are not the modulus' factors holds no key.
    if (BN_mul(product.get(), p.get(), q.get(), context.get()) != 1 || BN_cmp(product.get(), n.get()) != 0) {
        return false;
    }
    if (BN_sub(pMinus1.get(), p.get(), BN_value_one()) != 1
        || BN_sub(qMinus1.get(), q.get(), BN_value_one()) != 1
        || BN_mul(phi.get(), pMinus1.get(), qMinus1.get(), context.get()) != 1) {
        return false;
    }
    if (BN_mod_inverse(d.get(), e.get(), phi.get(), context.get()) == nullptr
        || BN_mod(dp.get(), d.get(), pMinus1.get(), context.get()) != 1
        || BN_mod(dq.get(), d.get(), qMinus1.get(), context.get()) != 1
        || BN_mod_inverse(qInv.get(), q.get(), p.get(), context.get()) == nullptr) {
        return false;
    }
    return ToBytes(d.get(), cbModulus, out.privateExponent) && ToBytes(dp.get(), cbPrime1, out.exponent1)
        && ToBytes(dq.get(), cbPrime2, out.exponent2) && ToBytes(qInv.get(), cbPrime1, out.coefficient);
}
