// Memory for secrets: pages kept out of swap, wiped before release, and
// encrypted in place with a key that never leaves this process (the contract
// of the system's in-memory protection: same process, 16-byte blocks).
#pragma once

#include <cstddef>

namespace vela5::platform::SecureMemory {

constexpr std::size_t kBlockSize = 16;

// Keeps the pages out of swap; false when the system refuses (RLIMIT_MEMLOCK).
bool Lock(void* data, std::size_t size);
void Unlock(void* data, std::size_t size);

// Overwrites the bytes so the compiler cannot drop the write.
void Wipe(void* data, std::size_t size);

// Encrypt and decrypt in place with this process's key; size must be a
// non-zero multiple of kBlockSize. False (data unchanged) otherwise or when
// the cipher fails.
bool Protect(void* data, std::size_t size);
bool Unprotect(void* data, std::size_t size);

} // namespace vela5::platform::SecureMemory

namespace vela5::platform {

// One allocation for a secret: locked while it lives, wiped and unlocked
// when it goes. Move-only.
class LockedBuffer final {
public:
    LockedBuffer() = default;
    explicit LockedBuffer(std::size_t size);
    ~LockedBuffer();
    LockedBuffer(LockedBuffer&& other) noexcept;
    LockedBuffer& operator=(LockedBuffer&& other) noexcept;
    LockedBuffer(const LockedBuffer&) = delete;
    LockedBuffer& operator=(const LockedBuffer&) = delete;

    unsigned char* Data() { return m_data; }
    const unsigned char* Data() const { return m_data; }
    std::size_t Size() const { return m_size; }

private:
    void Release();

    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
};

} // namespace vela5::platform
