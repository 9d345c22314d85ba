// The process-wide PIN cache: one entry per token serial number, each PIN
// kept only as an encrypted, page-locked block (platform/secure_memory).
// LoginToToken holds the manager's lock across a whole login, dialog
// included; the dialog-active flag keeps a second dialog from starting on
// the same thread while one runs.
#pragma once

#include "ksp/DebugClass.h"
#include "platform/cng/Cng.h"
#include "platform/secure_memory/SecureMemory.h"

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

constexpr std::size_t kSerialSize = 16;
using TokenSerial = std::array<BYTE, kSerialSize>;

namespace PinBlock {
// 16 * ((n + 2) / 16 + 1): the marker, the length byte and the PIN, padded
// with zeros to whole cipher blocks and never exactly full.
std::size_t SizeFor(std::size_t pinLength);
constexpr BYTE kMarker = 0x81;
constexpr std::size_t kMaxPin = 255;
} // namespace PinBlock

// PINCACHE under HKLM\Software\Nurvon Ltd.\VELA5 SDK: only "00000000"
// switches caching off; a missing or unreadable value leaves it on.
bool PinCachingAllowed();

class PinCacheEntry final {
public:
    explicit PinCacheEntry(const TokenSerial& serial);

    const TokenSerial& Label() const { return m_serial; }
    // NTE_INVALID_PARAMETER for no PIN or one longer than 255 bytes.
    SECURITY_STATUS SetPin(const BYTE* pin, std::size_t length);
    // No buffer: the PIN length in *length. A buffer shorter than the PIN:
    // NTE_BUFFER_TOO_SMALL with the length. Else the PIN is copied.
    SECURITY_STATUS GetPin(BYTE* buffer, DWORD* length) const;
    std::size_t BlockSize() const { return m_block.Size(); }
    // The encrypted block as held, for tests of its shape.
    const vela5::platform::LockedBuffer& Block() const { return m_block; }

private:
    TokenSerial m_serial;
    vela5::platform::LockedBuffer m_block;
    DebugClass m_log;
};

class PinManager final {
public:
    PinManager();

    // No buffer: the PIN length. NTE_NOT_FOUND when nothing is cached for
    // the serial, NTE_INVALID_PARAMETER for a null length.
    SECURITY_STATUS Lookup(const TokenSerial& serial, BYTE* buffer, DWORD* length) const;
    // A PIN for a serial already cached replaces the old one.
    // NTE_NOT_SUPPORTED when PINCACHE switches caching off.
    SECURITY_STATUS Store(const TokenSerial& serial, const BYTE* pin, std::size_t length);
    // Forgets the serial's PIN (one the token refused).
    void Drop(const TokenSerial& serial);
    std::size_t EntryCount() const;

    std::recursive_mutex& Lock() { return m_lock; }
    bool DialogActive() const { return m_dialogActive; }
    void SetDialogActive(bool active) { m_dialogActive = active; }

private:
    mutable std::recursive_mutex m_lock;
    std::vector<std::unique_ptr<PinCacheEntry>> m_entries;
    bool m_dialogActive = false;
    DebugClass m_log;
};
