#include "ProtectedText.h"

#include <cstring>
#include <utility>

namespace vela5::platform {

ProtectedText::ProtectedText(const ProtectedText& other)
    : m_length(other.m_length)
{
    if (other.m_cipher.Size() != 0) {
        m_cipher = LockedBuffer(other.m_cipher.Size());
        std::memcpy(m_cipher.Data(), other.m_cipher.Data(), other.m_cipher.Size());
    }
}

ProtectedText& ProtectedText::operator=(const ProtectedText& other)
{
    if (this != &other) {
        ProtectedText copy(other);
        *this = std::move(copy);
    }
    return *this;
}

ProtectedText::ProtectedText(ProtectedText&& other) noexcept
    : m_cipher(std::move(other.m_cipher))
    , m_length(std::exchange(other.m_length, 0))
{
}

ProtectedText& ProtectedText::operator=(ProtectedText&& other) noexcept
{
    if (this != &other) {
        m_cipher = std::move(other.m_cipher);
        m_length = std::exchange(other.m_length, 0);
    }
    return *this;
}

bool ProtectedText::Assign(std::wstring_view text)
{
    Clear();
    if (text.empty()) {
        return true;
    }
    const std::size_t bytes = text.size() * sizeof(wchar_t);
    // Round up to whole blocks; the zero fill past the text is encrypted too.
    const std::size_t size = (bytes / SecureMemory::kBlockSize + 1) * SecureMemory::kBlockSize;
    LockedBuffer buffer(size);
    std::memcpy(buffer.Data(), text.data(), bytes);
    if (!SecureMemory::Protect(buffer.Data(), buffer.Size())) {
        return false;
    }
    m_cipher = std::move(buffer);
    m_length = text.size();
    return true;
}

void ProtectedText::Clear()
{
    m_cipher = LockedBuffer();
    m_length = 0;
}

std::wstring ProtectedText::Reveal() const
{
    if (m_length == 0) {
        return {};
    }
    LockedBuffer plain(m_cipher.Size());
    std::memcpy(plain.Data(), m_cipher.Data(), m_cipher.Size());
    if (!SecureMemory::Unprotect(plain.Data(), plain.Size())) {
        return {};
    }
    std::wstring text(m_length, L'\0');
    std::memcpy(text.data(), plain.Data(), m_length * sizeof(wchar_t));
    return text;
}

} // namespace vela5::platform
