// A short secret text (a cached PIN) that exists only encrypted, in locked
// memory. Reveal() hands out a plain copy that the caller wipes after use.
#pragma once

#include "SecureMemory.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace vela5::platform {

class ProtectedText final {
public:
    ProtectedText() = default;
    explicit ProtectedText(std::wstring_view text) { Assign(text); }
    ProtectedText(const ProtectedText& other);
    ProtectedText& operator=(const ProtectedText& other);
    ProtectedText(ProtectedText&& other) noexcept;
    ProtectedText& operator=(ProtectedText&& other) noexcept;

    // False when the text could not be protected; the object is then empty.
    bool Assign(std::wstring_view text);
    void Clear();
    bool Empty() const { return m_length == 0; }
    std::size_t Length() const { return m_length; }

    // The plain text; empty when nothing is held or decryption fails.
    std::wstring Reveal() const;

private:
    LockedBuffer m_cipher;
    std::size_t m_length = 0;
};

} // namespace vela5::platform
