// The private components an RSA private key blob leaves out (private
// exponent, both CRT exponents, coefficient), computed with OpenSSL from
// the primes and the true public exponent, so a key created from a blob
// really signs and decrypts.
#pragma once

#include "ksp/CryptokiObject.h"

#include <cstdint>

struct RsaComponents {
    WipedBytes privateExponent; // as long as the modulus
    WipedBytes exponent1; // d mod (p - 1), as long as prime 1
    WipedBytes exponent2; // d mod (q - 1), as long as prime 2
    WipedBytes coefficient; // q^-1 mod p, as long as prime 1
};

// False when the primes do not make the modulus, or e has no inverse.
bool ComputeRsaComponents(const std::uint8_t* modulus, std::size_t cbModulus, std::uint32_t exponent,
    const std::uint8_t* prime1, std::size_t cbPrime1, const std::uint8_t* prime2, std::size_t cbPrime2,
    RsaComponents& out);
