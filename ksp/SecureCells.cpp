#include "ksp/SecureCells.h"

#include "platform/random/Random.h"

#include <algorithm>

using namespace vela5::platform;

SecureCells::SecureCells()
    : m_cells(kCapacity * sizeof(std::uint16_t))
{
    // Two bytes at a time, as each pad value is drawn on its own.
    for (std::uint16_t& value : m_pad) {
        if (!Random::Fill(&value, sizeof value)) {
            SecureMemory::Wipe(m_pad, sizeof m_pad);
            throw std::runtime_error("Failed to generate random number");
        }
    }
}

SecureCells::~SecureCells()
{
    Clear();
    SecureMemory::Wipe(m_pad, sizeof m_pad);
}

void SecureCells::TogglePad()
{
    for (std::size_t i = 0; i < m_count; ++i) {
        Cells()[i] ^= m_pad[i % kPadSize];
    }
}

void SecureCells::Insert(std::size_t position, std::u16string_view characters)
{
    position = std::min(position, m_count);
    const std::size_t room = kCapacity - m_count;
    const std::size_t count = std::min(room, characters.size());
    if (count == 0) {
        return;
    }
    TogglePad();
    std::uint16_t* cells = Cells();
    std::move_backward(cells + position, cells + m_count, cells + m_count + count);
    for (std::size_t i = 0; i < count; ++i) {
        cells[position + i] = characters[i];
    }
    m_count += count;
    TogglePad();
}

void SecureCells::Erase(std::size_t position, std::size_t count)
{
    if (position >= m_count) {
        return;
    }
    count = std::min(count, m_count - position);
    TogglePad();
    std::uint16_t* cells = Cells();
    std::move(cells + position + count, cells + m_count, cells + position);
    SecureMemory::Wipe(cells + m_count - count, count * sizeof(std::uint16_t));
    m_count -= count;
    TogglePad();
}

void SecureCells::Clear()
{
    if (m_cells.Data() != nullptr) {
        SecureMemory::Wipe(m_cells.Data(), m_cells.Size());
    }
    m_count = 0;
}

std::size_t SecureCells::ApplyChange(std::u16string_view text, std::size_t caret)
{
    caret = std::min(caret, text.size());
    if (text.size() > m_count) {
        const std::size_t grown = text.size() - m_count;
        // The new characters start where the first character other than
        // "*" can be reached: no later than it, no earlier than the last
        // one minus the count.
        std::size_t low = 0;
        std::size_t high = m_count;
        const std::size_t first = text.find_first_not_of(u'*');
        if (first != std::u16string_view::npos) {
            const std::size_t last = text.find_last_not_of(u'*');
            high = std::min(high, first);
            low = last + 1 > grown ? last + 1 - grown : 0;
        }
        std::size_t start = caret;
        if (start < low || start > high) {
            start = caret >= grown ? caret - grown : 0;
        }
        start = std::clamp(start, low, std::max(low, high));
        Insert(start, text.substr(start, grown));
        return start + grown;
    }
    if (text.size() < m_count) {
        Erase(caret, m_count - text.size());
    }
    return std::min(caret, m_count);
}

std::u16string SecureCells::Decode() const
{
    std::u16string plain(m_count, u'\0');
    for (std::size_t i = 0; i < m_count; ++i) {
        plain[i] = static_cast<char16_t>(Cells()[i] ^ m_pad[i % kPadSize]);
    }
    return plain;
}

void WipeText(std::u16string& text)
{
    SecureMemory::Wipe(text.data(), text.size() * sizeof(char16_t));
    text.clear();
}
