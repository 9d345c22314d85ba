// Salted PIN hashing and constant-time comparison.
#include "PinHash.h"

#include "CkError.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace velatoken {

namespace {
constexpr size_t kHashSize = 32;

Blob Derive(std::string_view pin, const Blob& salt, int64_t rounds)
{
    if (rounds < 1 || rounds > kMaxPinRounds) {
        throw CkError(CKR_DEVICE_ERROR, "damaged token state: PIN hashing cost out of range");
    }
    Blob out(kHashSize);
    if (PKCS5_PBKDF2_HMAC(pin.data(), static_cast<int>(pin.size()), salt.data(),
            static_cast<int>(salt.size()), static_cast<int>(rounds), EVP_sha256(),
            static_cast<int>(out.size()), out.data())
        != 1) {
        throw CkError(CKR_GENERAL_ERROR, "PIN hashing failed");
    }
    return out;
}
} // namespace

PinHash PinHash::Make(std::string_view pin, int64_t rounds)
{
    PinHash result;
    result.salt.resize(16);
    if (RAND_bytes(result.salt.data(), static_cast<int>(result.salt.size())) != 1) {
        throw CkError(CKR_GENERAL_ERROR, "no random salt");
    }
    result.hash = Derive(pin, result.salt, rounds);
    return result;
}

bool PinHash::Matches(std::string_view pin, int64_t rounds) const
{
    if (hash.size() != kHashSize || salt.empty()) {
        return false;
    }
    const Blob candidate = Derive(pin, salt, rounds);
    return CRYPTO_memcmp(candidate.data(), hash.data(), kHashSize) == 0;
}

} // namespace velatoken
