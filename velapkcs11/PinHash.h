// PINs are kept only as salted PBKDF2 hashes.
#pragma once

#include "Database.h"

#include <string_view>

namespace velatoken {

struct PinHash {
    Blob salt;
    Blob hash;

    static PinHash Make(std::string_view pin);
    bool Matches(std::string_view pin) const;
};

} // namespace velatoken
