// Random values for secrets (random PINs, salts): the system's cryptographic
// generator behind a small interface, never the C library's rand().
#pragma once

#include <cstddef>
#include <cstdint>

namespace vela5::platform::Random {

// Fills size bytes at buffer; false (and the buffer zeroed) when the
// generator cannot deliver.
bool Fill(void* buffer, size_t size);

// A value in [0, bound), every value equally likely (rejection sampling, no
// modulo bias). A bound of 0 or 1 gives 0. Aborts if the generator fails, as
// a PIN drawn from a broken source must never be handed out.
uint32_t Uniform(uint32_t bound);

} // namespace vela5::platform::Random
