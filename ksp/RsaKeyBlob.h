// The layout of RSA key blobs (BCRYPT_RSAKEY_BLOB): a header of six
// little-endian 32-bit words {Magic, BitLength, cbPublicExp, cbModulus,
// cbPrime1, cbPrime2}, then the public exponent and the modulus, big-endian,
// then, for private blobs, the two primes. Export writes public blobs;
// import and the tools read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// "RSA1", "RSA2" and "RSA3" in memory order.
inline constexpr std::uint32_t kRsaPublicMagic = 0x31415352;
inline constexpr std::uint32_t kRsaPrivateMagic = 0x32415352;
inline constexpr std::uint32_t kRsaFullPrivateMagic = 0x33415352;

struct RsaBlobHeader {
    std::uint32_t magic = 0;
    std::uint32_t bitLength = 0;
    std::uint32_t cbPublicExp = 0;
    std::uint32_t cbModulus = 0;
    std::uint32_t cbPrime1 = 0;
    std::uint32_t cbPrime2 = 0;
};

class RsaKeyBlob final {
public:
    static constexpr std::size_t kHeaderSize = 24;

    // The six header words of blob, which holds at least kHeaderSize bytes;
    // nothing is checked.
    static RsaBlobHeader ReadWords(const std::uint8_t* blob);
    // Writes the six header words into output, which holds kHeaderSize bytes.
    static void WriteWords(const RsaBlobHeader& header, std::uint8_t* output);

    // Bytes of a public blob with these lengths.
    static std::size_t PublicSize(std::size_t exponentLength, std::size_t modulusLength);

    // Writes a public blob (BitLength = modulus bytes x 8) into output, which
    // holds at least PublicSize bytes.
    static void WritePublic(const std::uint8_t* exponent, std::size_t exponentLength,
        const std::uint8_t* modulus, std::size_t modulusLength, std::uint8_t* output);

    // Reads the header and checks that the lengths it names lie within size
    // (the primes counted only for the private magics). False for a blob too
    // short, an unknown magic, or lengths past its end.
    static bool ReadHeader(const std::uint8_t* blob, std::size_t size, RsaBlobHeader& header);

    // The exponent and modulus of any RSA blob that ReadHeader accepts.
    static bool ReadPublic(const std::uint8_t* blob, std::size_t size, std::vector<std::uint8_t>& exponent,
        std::vector<std::uint8_t>& modulus);
};
