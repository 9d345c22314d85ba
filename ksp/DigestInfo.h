// What the provider signs and verifies for a hash: the hash is told by its
// length alone, and a known hash gets its PKCS #1 v1.5 DigestInfo prefix.
// Signing and verifying share this one rule, so a signature the provider
// makes is one it also accepts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class DigestInfoRule final {
public:
    enum class Form {
        Prefixed, // a bare MD5, SHA-1, SHA-256 or SHA-512 hash: prefix + hash
        AsGiven, // already a DigestInfo, or MD5 and SHA-1 concatenated
        Refused, // no rule for this length (SHA-384 among them)
    };

    static Form FormOf(std::size_t hashLength);

    // The bytes to sign for the hash; false (and data left empty) when the
    // length is refused.
    static bool Build(const std::uint8_t* hash, std::size_t hashLength, std::vector<std::uint8_t>& data);

    // The DER prefix for a bare hash of this length; null when there is none.
    static const std::uint8_t* Prefix(std::size_t hashLength, std::size_t& prefixLength);
};
