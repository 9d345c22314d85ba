// Key material, decrypted data or a PIN's bytes: overwritten when the owner
// goes, is given new bytes or is cleared, so no copy lingers in freed memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vela5::platform {

class SecretBytes final {
public:
    SecretBytes() = default;
    SecretBytes(const void* data, std::size_t size);
    explicit SecretBytes(std::vector<std::uint8_t>&& bytes) noexcept;
    ~SecretBytes();
    SecretBytes(const SecretBytes& other);
    SecretBytes& operator=(const SecretBytes& other);
    SecretBytes(SecretBytes&& other) noexcept;
    SecretBytes& operator=(SecretBytes&& other) noexcept;

    void Assign(const void* data, std::size_t size);
    void Clear();
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
    const std::uint8_t* Data() const { return m_bytes.data(); }
    std::size_t Size() const { return m_bytes.size(); }
    bool Empty() const { return m_bytes.empty(); }
    // The same bytes read as text, as a PIN is.
    std::string_view Text() const
    {
        return { reinterpret_cast<const char*>(m_bytes.data()), m_bytes.size() };
    }

private:
    std::vector<std::uint8_t> m_bytes;
};

} // namespace vela5::platform
