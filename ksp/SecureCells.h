// What the PIN field holds instead of its text: one 16-bit cell per typed
// character, the character XOR a random pad value chosen by its position
// (pad[i mod 32]). Inserting or deleting takes the pad off every cell,
// changes the row and puts the pad on again by the new positions. The cells
// live in one locked buffer that is wiped when they go.
#pragma once

#include "platform/secure_memory/SecureMemory.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

class SecureCells final {
public:
    static constexpr std::size_t kPadSize = 32;
    static constexpr std::size_t kCapacity = 256;

    // Draws the pad from the system's generator; throws std::runtime_error
    // ("Failed to generate random number") when it cannot.
    SecureCells();
    ~SecureCells();
    SecureCells(const SecureCells&) = delete;
    SecureCells& operator=(const SecureCells&) = delete;

    std::size_t Size() const { return m_count; }
    // Characters past the capacity are dropped.
    void Insert(std::size_t position, std::u16string_view characters);
    void Erase(std::size_t position, std::size_t count);
    void Clear();

    // The field's text after a change, which before it was a row of "*"
    // as long as the cells. Grown by k: k new characters, found where the
    // text differs from the row of "*"; where that leaves a choice (typed
    // "*"), at the caret, or just before it when the caret has already
    // moved past them. Shrunk by k: k cells at the caret go. Returns where
    // the caret belongs afterwards.
    std::size_t ApplyChange(std::u16string_view text, std::size_t caret);

    // The plain characters, for the caller to wipe after use.
    std::u16string Decode() const;
    std::uint16_t Cell(std::size_t index) const { return Cells()[index]; }
    std::uint16_t Pad(std::size_t index) const { return m_pad[index % kPadSize]; }

private:
    std::uint16_t* Cells() { return reinterpret_cast<std::uint16_t*>(m_cells.Data()); }
    const std::uint16_t* Cells() const { return reinterpret_cast<const std::uint16_t*>(m_cells.Data()); }
    void TogglePad();

    std::uint16_t m_pad[kPadSize] = {};
    vela5::platform::LockedBuffer m_cells;
    std::size_t m_count = 0;
};

// Wipes a 16-bit text in place before it is released.
void WipeText(std::u16string& text);
