// PINs are kept only as salted PBKDF2 verifiers; the same derivation gives
// the key that wraps the token key for that PIN.
#pragma once

#include "Database.h"
#include "platform/secure_memory/SecureMemory.h"

#include <cstdint>
#include <string_view>

namespace velatoken {

// PBKDF2-HMAC-SHA256 rounds of a new token's PINs: enough that a short PIN
// does not fall to an offline guess in seconds. Each token keeps its own
// cost, so it can be raised later without locking anyone out.
constexpr int64_t kDefaultPinRounds = 600000;
// What a token state may name at all; a cost outside is a damaged state.
constexpr int64_t kMaxPinRounds = 100000000;

// One PBKDF2 run per PIN check: its output D never leaves memory; the state
// keeps HMAC(D, "verify") to check the PIN, and HMAC(D, "wrap") wraps the
// token key, so neither reveals the other nor D.
struct PinHash {
    Blob salt;
    Blob hash;

    // With wrappingKey, also hands out the PIN's wrapping key.
    static PinHash Make(
        std::string_view pin, int64_t rounds, vela5::platform::LockedBuffer* wrappingKey = nullptr);
    // On a match, and with wrappingKey, also hands out the wrapping key.
    bool Matches(
        std::string_view pin, int64_t rounds, vela5::platform::LockedBuffer* wrappingKey = nullptr) const;
    // The verifier and wrapping key of a stored PBKDF2 output, as the states
    // before sealed secrets kept it.
    static PinHash FromDerived(
        const Blob& salt, const Blob& derived, vela5::platform::LockedBuffer* wrappingKey);
};

} // namespace velatoken
