// Takes apart the RSA key blobs an application hands to ImportKey. The bytes
// come from outside the provider, so every length in the header is checked
// against the others and against the data before a component is looked at;
// the parser only points into the caller's bytes and never copies or
// allocates, so it can be fuzzed on its own.
#pragma once

#include "ksp/RsaKeyBlob.h"

#include <cstddef>
#include <cstdint>

namespace KeyBlob {

// The clear part of a wrapped blob: Magic and BitLength.
constexpr std::size_t kClearPrefix = 8;

enum class Kind { Public, Private };

enum class Fault {
    None,
    TooSmall, // the header's lengths add up to more than the data
    ExponentTooLong, // more than 4 exponent bytes
    ExponentZero, // no exponent bytes, or only zeros
    WrongMagic, // not "RSA1" for a public, "RSA2" for a private blob
    LengthMismatch, // BitLength does not give cbModulus, or no modulus
    PrimeLengths, // a private blob's primes are missing or longer than the modulus
};

// The header, and pointers into the parsed bytes; big-endian numbers as the
// blob holds them.
struct View : RsaBlobHeader {
    const std::uint8_t* publicExponent = nullptr;
    const std::uint8_t* modulus = nullptr;
    const std::uint8_t* prime1 = nullptr; // private blobs only
    const std::uint8_t* prime2 = nullptr;
};

// The checks run in this order: header size and lengths against the data,
// exponent length, magic, modulus length, exponent value, primes.
Fault Parse(const std::uint8_t* data, std::size_t size, Kind kind, View& out);

// The exponent as a number (at most 4 bytes, checked by Parse).
std::uint32_t ExponentValue(const View& view);

} // namespace KeyBlob
