#include "SecretBytes.h"

#include "SecureMemory.h"

#include <utility>

namespace vela5::platform {

SecretBytes::SecretBytes(const void* data, std::size_t size)
{
    Assign(data, size);
}

SecretBytes::SecretBytes(std::vector<std::uint8_t>&& bytes) noexcept
    : m_bytes(std::move(bytes))
{
    // The source's storage came along; whatever it still holds is its own.
}

SecretBytes::~SecretBytes()
{
    Clear();
}

SecretBytes::SecretBytes(const SecretBytes& other)
    : m_bytes(other.m_bytes)
{
}

SecretBytes& SecretBytes::operator=(const SecretBytes& other)
{
    if (this != &other) {
        Assign(other.m_bytes.data(), other.m_bytes.size());
    }
    return *this;
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : m_bytes(std::move(other.m_bytes))
{
    other.m_bytes.clear();
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept
{
    if (this != &other) {
        Clear();
        m_bytes = std::move(other.m_bytes);
        other.m_bytes.clear();
    }
    return *this;
}

void SecretBytes::Assign(const void* data, std::size_t size)
{
    // Cleared first: a larger value would move to new storage and leave the
    // old bytes behind in the released block.
    Clear();
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_bytes.assign(bytes, bytes + size);
}

void SecretBytes::Clear()
{
    if (!m_bytes.empty()) {
        SecureMemory::Wipe(m_bytes.data(), m_bytes.size());
    }
    m_bytes.clear();
    m_bytes.shrink_to_fit();
}

} // namespace vela5::platform
