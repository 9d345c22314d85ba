// Takes apart the RSA key blobs an application hands to ImportKey. The bytes
// come from outside the provider, so every length in the header is checked
// against the others and against the data before a component is looked at;
// the parser only points into the caller's bytes and never copies or
// allocates, so it can be fuzzed on its own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace KeyBlob {

constexpr std::uint32_t kPublicMagic = 0x31415352; // "RSA1"
constexpr std::uint32_t kPrivateMagic = 0x32415352; // "RSA2"
constexpr std::size_t kHeaderSize = 24;
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

// Pointers into the parsed bytes; big-endian numbers as the blob holds them.
struct View {
    std::uint32_t magic = 0;
    std::uint32_t bitLength = 0;
    std::uint32_t cbPublicExp = 0;
    std::uint32_t cbModulus = 0;
    std::uint32_t cbPrime1 = 0;
    std::uint32_t cbPrime2 = 0;
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
