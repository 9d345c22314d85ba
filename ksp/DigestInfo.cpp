#include "ksp/DigestInfo.h"

namespace {

// DigestInfo DER prefixes of PKCS #1 v1.5 (RFC 8017, section 9.2).
constexpr std::uint8_t kMd5[] = { 0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D,
    0x02, 0x05, 0x05, 0x00, 0x04, 0x10 };
constexpr std::uint8_t kSha1[]
    = { 0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14 };
constexpr std::uint8_t kSha256[] = { 0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03,
    0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20 };
constexpr std::uint8_t kSha512[] = { 0x30, 0x51, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03,
    0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40 };

} // namespace

const std::uint8_t* DigestInfoRule::Prefix(std::size_t hashLength, std::size_t& prefixLength)
{
    switch (hashLength) {
    case 16:
        prefixLength = sizeof kMd5;
        return kMd5;
    case 20:
        prefixLength = sizeof kSha1;
        return kSha1;
    case 32:
        prefixLength = sizeof kSha256;
        return kSha256;
    case 64:
        prefixLength = sizeof kSha512;
        return kSha512;
    default:
        prefixLength = 0;
        return nullptr;
    }
}

DigestInfoRule::Form DigestInfoRule::FormOf(std::size_t hashLength)
{
    std::size_t prefixLength = 0;
    if (Prefix(hashLength, prefixLength) != nullptr) {
        return Form::Prefixed;
    }
    switch (hashLength) {
    case 34: // MD5 DigestInfo
    case 35: // SHA-1
    case 51: // SHA-256
    case 83: // SHA-512
    case 36: // MD5 and SHA-1, as TLS 1.0 signs them
        return Form::AsGiven;
    default:
        return Form::Refused;
    }
}

bool DigestInfoRule::Build(const std::uint8_t* hash, std::size_t hashLength, std::vector<std::uint8_t>& data)
{
    data.clear();
    const Form form = FormOf(hashLength);
    if (form == Form::Refused || hash == nullptr) {
        return false;
    }
    std::size_t prefixLength = 0;
    const std::uint8_t* prefix = Prefix(hashLength, prefixLength);
    data.reserve(prefixLength + hashLength);
    if (prefix != nullptr) {
        data.assign(prefix, prefix + prefixLength);
    }
    data.insert(data.end(), hash, hash + hashLength);
    return true;
}
