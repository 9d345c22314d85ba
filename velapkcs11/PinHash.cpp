// Salted PIN hashing, constant-time comparison and the PIN's wrapping key.
#include "PinHash.h"

#include "CkError.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

using namespace vela5::platform;

namespace velatoken {

namespace {
constexpr size_t kHashSize = 32;
constexpr char kVerifyLabel[] = "vela5 PIN verifier";
constexpr char kWrapLabel[] = "vela5 PIN wrapping key";

LockedBuffer Derive(std::string_view pin, const Blob& salt, int64_t rounds)
{
    if (rounds < 1 || rounds > kMaxPinRounds) {
        throw CkError(CKR_DEVICE_ERROR, "damaged token state: PIN hashing cost out of range");
    }
    LockedBuffer out(kHashSize);
    if (PKCS5_PBKDF2_HMAC(pin.data(), static_cast<int>(pin.size()), salt.data(),
            static_cast<int>(salt.size()), static_cast<int>(rounds), EVP_sha256(),
            static_cast<int>(out.Size()), out.Data())
        != 1) {
        throw CkError(CKR_GENERAL_ERROR, "PIN hashing failed");
    }
    return out;
}

// HMAC-SHA256 of a label under the derived value, into `out`.
void Expand(const unsigned char* derived, const char* label, size_t labelSize, unsigned char* out)
{
    unsigned size = 0;
    if (HMAC(EVP_sha256(), derived, static_cast<int>(kHashSize),
            reinterpret_cast<const unsigned char*>(label), labelSize, out, &size)
            == nullptr
        || size != kHashSize) {
        throw CkError(CKR_GENERAL_ERROR, "PIN hashing failed");
    }
}

Blob Verifier(const unsigned char* derived)
{
    Blob verifier(kHashSize);
    Expand(derived, kVerifyLabel, sizeof kVerifyLabel - 1, verifier.data());
    return verifier;
}

void WrappingKey(const unsigned char* derived, LockedBuffer* wrappingKey)
{
    if (wrappingKey != nullptr) {
        *wrappingKey = LockedBuffer(kHashSize);
        Expand(derived, kWrapLabel, sizeof kWrapLabel - 1, wrappingKey->Data());
    }
}

} // namespace

PinHash PinHash::Make(std::string_view pin, int64_t rounds, LockedBuffer* wrappingKey)
{
    PinHash result;
    result.salt.resize(16);
    if (RAND_bytes(result.salt.data(), static_cast<int>(result.salt.size())) != 1) {
        throw CkError(CKR_GENERAL_ERROR, "no random salt");
    }
    const LockedBuffer derived = Derive(pin, result.salt, rounds);
    result.hash = Verifier(derived.Data());
    WrappingKey(derived.Data(), wrappingKey);
    return result;
}

bool PinHash::Matches(std::string_view pin, int64_t rounds, LockedBuffer* wrappingKey) const
{
    if (hash.size() != kHashSize || salt.empty()) {
        return false;
    }
    const LockedBuffer derived = Derive(pin, salt, rounds);
    const Blob candidate = Verifier(derived.Data());
    if (CRYPTO_memcmp(candidate.data(), hash.data(), kHashSize) != 0) {
        return false;
    }
    WrappingKey(derived.Data(), wrappingKey);
    return true;
}

PinHash PinHash::FromDerived(const Blob& salt, const Blob& derived, LockedBuffer* wrappingKey)
{
    Require(derived.size() == kHashSize, CKR_DEVICE_ERROR);
    PinHash result;
    result.salt = salt;
    result.hash = Verifier(derived.data());
    WrappingKey(derived.data(), wrappingKey);
    return result;
}

} // namespace velatoken
