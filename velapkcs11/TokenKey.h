// The per-token key that encrypts the secrets of a token's objects in the
// shared state, and its wrapping under a key derived from a PIN. The key is
// held only in locked memory, wiped when the last holder lets it go.
#pragma once

#include "Database.h"
#include "platform/secure_memory/SecureMemory.h"

#include <memory>
#include <optional>

namespace velatoken {

class TokenKey final {
public:
    static constexpr size_t kSize = 32;
    // Version byte, 12-byte nonce and 16-byte tag around every sealed value.
    static constexpr size_t kOverhead = 1 + 12 + 16;

    // A fresh random key; throws CkError(CKR_GENERAL_ERROR) without randomness.
    static std::shared_ptr<const TokenKey> Generate();
    // The key wrapped by Wrap() under `wrappingKey`, or nothing when the
    // wrapping does not open (another key, or a changed value or context).
    static std::shared_ptr<const TokenKey> Unwrap(
        const Blob& wrapped, const vela5::platform::LockedBuffer& wrappingKey, const Blob& context);

    // AES-256-GCM with a random nonce; `context` is authenticated, not
    // stored, so a value moved to another object or attribute fails to open.
    Blob Seal(const Blob& plain, const Blob& context) const;
    // Throws CkError(CKR_DEVICE_ERROR) for a value that does not open.
    Blob Open(const Blob& sealed, const Blob& context) const;
    Blob Wrap(const vela5::platform::LockedBuffer& wrappingKey, const Blob& context) const;

private:
    TokenKey();
    vela5::platform::LockedBuffer m_key;
};

using TokenKeyPtr = std::shared_ptr<const TokenKey>;

// AES-256-GCM under a raw 32-byte key, the one cipher of the token's state.
Blob SealWith(const unsigned char* key, const Blob& plain, const Blob& context);
std::optional<Blob> OpenWith(const unsigned char* key, const Blob& sealed, const Blob& context);

} // namespace velatoken
