#include "ksp/RsaKeyBlob.h"

#include <cstring>

namespace {

void PutWord(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t GetWord(const std::uint8_t* at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | at[i];
    }
    return value;
}

} // namespace

std::size_t RsaKeyBlob::PublicSize(std::size_t exponentLength, std::size_t modulusLength)
{
    return kHeaderSize + exponentLength + modulusLength;
}

RsaBlobHeader RsaKeyBlob::ReadWords(const std::uint8_t* blob)
{
    RsaBlobHeader header;
    header.magic = GetWord(blob);
    header.bitLength = GetWord(blob + 4);
    header.cbPublicExp = GetWord(blob + 8);
    header.cbModulus = GetWord(blob + 12);
    header.cbPrime1 = GetWord(blob + 16);
    header.cbPrime2 = GetWord(blob + 20);
    return header;
}

void RsaKeyBlob::WriteWords(const RsaBlobHeader& header, std::uint8_t* output)
{
    PutWord(output, header.magic);
    PutWord(output + 4, header.bitLength);
    PutWord(output + 8, header.cbPublicExp);
    PutWord(output + 12, header.cbModulus);
    PutWord(output + 16, header.cbPrime1);
    PutWord(output + 20, header.cbPrime2);
}

void RsaKeyBlob::WritePublic(const std::uint8_t* exponent, std::size_t exponentLength,
    const std::uint8_t* modulus, std::size_t modulusLength, std::uint8_t* output)
{
    RsaBlobHeader header;
    header.magic = kRsaPublicMagic;
    header.bitLength = static_cast<std::uint32_t>(modulusLength * 8);
    header.cbPublicExp = static_cast<std::uint32_t>(exponentLength);
    header.cbModulus = static_cast<std::uint32_t>(modulusLength);
    WriteWords(header, output);
    if (exponentLength > 0) {
        std::memcpy(output + kHeaderSize, exponent, exponentLength);
    }
    if (modulusLength > 0) {
        std::memcpy(output + kHeaderSize + exponentLength, modulus, modulusLength);
    }
}

bool RsaKeyBlob::ReadHeader(const std::uint8_t* blob, std::size_t size, RsaBlobHeader& header)
{
    if (blob == nullptr || size < kHeaderSize) {
        return false;
    }
    header = ReadWords(blob);
    if (header.magic != kRsaPublicMagic && header.magic != kRsaPrivateMagic
        && header.magic != kRsaFullPrivateMagic) {
        return false;
    }
    // Summed in 64 bits: four 32-bit lengths cannot wrap.
    std::uint64_t needed = kHeaderSize + std::uint64_t { header.cbPublicExp } + header.cbModulus;
    if (header.magic != kRsaPublicMagic) {
        needed += std::uint64_t { header.cbPrime1 } + header.cbPrime2;
    }
    return needed <= size;
}

bool RsaKeyBlob::ReadPublic(const std::uint8_t* blob, std::size_t size, std::vector<std::uint8_t>& exponent,
    std::vector<std::uint8_t>& modulus)
{
    RsaBlobHeader header;
    if (!ReadHeader(blob, size, header) || header.cbPublicExp == 0 || header.cbModulus == 0) {
        return false;
    }
    const std::uint8_t* at = blob + kHeaderSize;
    exponent.assign(at, at + header.cbPublicExp);
    modulus.assign(at + header.cbPublicExp, at + header.cbPublicExp + header.cbModulus);
    return true;
}
