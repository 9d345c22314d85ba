// Salted PIN hashing and constant-time comparison.
#include "PinHash.h"

#include "CkError.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace velatoken {

namespace {
constexpr int kIterations = 4096;
constexpr size_t kHashSize = 32;

Blob Derive(std::string_view pin, const Blob& salt)
{
    Blob out(kHashSize);
    if (PKCS5_PBKDF2_HMAC(pin.data(), static_cast<int>(pin.size()), salt.data(),
            static_cast<int>(salt.size()), kIterations, EVP_sha256(), static_cast<int>(out.size()),
            out.data())
        != 1) {
        throw CkError(CKR_GENERAL_ERROR, "PIN hashing failed");
    }
    return out;
}
} // namespace

PinHash PinHash::Make(std::string_view pin)
{
    PinHash result;
    result.salt.resize(16);
    if (RAND_bytes(result.salt.data(), static_cast<int>(result.salt.size())) != 1) {
        throw CkError(CKR_GENERAL_ERROR, "no random salt");
    }
    result.hash = Derive(pin, result.salt);
    return result;
}

bool PinHash::Matches(std::string_view pin) const
{
    if (hash.size() != kHashSize || salt.empty()) {
        return false;
    }
    const Blob candidate = Derive(pin, salt);
    return CRYPTO_memcmp(candidate.data(), hash.data(), kHashSize) == 0;
}

} // namespace velatoken
