// Linux side of the random layer: OpenSSL's RAND_bytes.
#include "Random.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <openssl/rand.h>

namespace vela5::platform::Random {

bool Fill(void* buffer, size_t size)
{
    if (size == 0) {
        return true;
    }
    if (buffer == nullptr || size > static_cast<size_t>(INT_MAX)) {
        return false;
    }
    if (RAND_bytes(static_cast<unsigned char*>(buffer), static_cast<int>(size)) != 1) {
        std::memset(buffer, 0, size);
        return false;
    }
    return true;
}

uint32_t Uniform(uint32_t bound)
{
    if (bound < 2) {
        return 0;
    }
    // Accept only draws below the largest multiple of bound, so every
    // remainder has the same number of draws behind it.
    constexpr uint64_t range = uint64_t { 1 } << 32;
    const uint64_t accepted = range - range % bound;
    for (;;) {
        uint32_t value = 0;
        if (!Fill(&value, sizeof value)) {
            std::abort();
        }
        if (value < accepted) {
            return value % bound;
        }
    }
}

} // namespace vela5::platform::Random
