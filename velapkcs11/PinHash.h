// PINs are kept only as salted PBKDF2 hashes.
#pragma once

#include "Database.h"

#include <cstdint>
#include <string_view>

namespace velatoken {

// PBKDF2-HMAC-SHA256 rounds of a new token's PINs: enough that a short PIN
// does not fall to an offline guess in seconds. Each token keeps its own
// cost, so it can be raised later without locking anyone out.
constexpr int64_t kDefaultPinRounds = 600000;
// What a token state may name at all; a cost outside is a damaged state.
constexpr int64_t kMaxPinRounds = 100000000;

struct PinHash {
    Blob salt;
    Blob hash;

    static PinHash Make(std::string_view pin, int64_t rounds);
    bool Matches(std::string_view pin, int64_t rounds) const;
};

} // namespace velatoken
