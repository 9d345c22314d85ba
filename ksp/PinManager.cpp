#include "ksp/PinManager.h"

#include "platform/registry/Registry.h"

#include <algorithm>
#include <cstring>
#include <new>

using namespace vela5::platform;

namespace {

constexpr const char* kSdkKey = "Software\\Nurvon Ltd.\\VELA5 SDK";

} // namespace

std::size_t PinBlock::SizeFor(std::size_t pinLength)
{
    return SecureMemory::kBlockSize * ((pinLength + 2) / SecureMemory::kBlockSize + 1);
}

bool PinCachingAllowed()
{
    Registry::Key key;
    if (Registry::Key::Open(
            Registry::Hive::LocalMachine, kSdkKey, Registry::Access::Read, Registry::View::Native, key)
        != Registry::Success) {
        return true;
    }
    // Eight characters and the terminator; a longer value does not fit and
    // so is not "00000000".
    BYTE buffer[18] = {};
    uint32_t type = 0;
    uint32_t size = sizeof buffer;
    if (key.QueryValue("PINCACHE", &type, buffer, &size) != Registry::Success
        || type != Registry::TypeString) {
        return true;
    }
    static const char16_t off[] = u"00000000";
    for (std::size_t i = 0; i < 9; ++i) {
        const char16_t unit = static_cast<char16_t>(buffer[2 * i] | (buffer[2 * i + 1] << 8));
        if (unit != off[i]) {
            return true;
        }
    }
    return false;
}

PinCacheEntry::PinCacheEntry(const TokenSerial& serial)
    : m_serial(serial)
    , m_log(false)
{
}

SECURITY_STATUS PinCacheEntry::SetPin(const BYTE* pin, std::size_t length)
{
    if (pin == nullptr) {
        m_log.Write("Encrypt - dataIn cannot be NULL");
        return NTE_INVALID_PARAMETER;
    }
    if (length == 0) {
        m_log.Write("Encrypt - dataIn length cannot be zero");
        return NTE_INVALID_PARAMETER;
    }
    if (length > PinBlock::kMaxPin) {
        return NTE_INVALID_PARAMETER;
    }
    // The old block is wiped as it goes.
    m_block = LockedBuffer();
    LockedBuffer block(PinBlock::SizeFor(length));
    if (block.Data() == nullptr) {
        m_log.Write("Not enough memory to continue operation");
        return NTE_NO_MEMORY;
    }
    block.Data()[0] = PinBlock::kMarker;
    block.Data()[1] = static_cast<BYTE>(length);
    std::memcpy(block.Data() + 2, pin, length);
    if (!SecureMemory::Protect(block.Data(), block.Size())) {
        m_log.Write("Encrypt - Failed to encrypt memory block - ");
        m_log.Write("Error encrypting PIN");
        return NTE_INTERNAL_ERROR;
    }
    m_block = std::move(block);
    return ERROR_SUCCESS;
}

SECURITY_STATUS PinCacheEntry::GetPin(BYTE* buffer, DWORD* length) const
{
    if (length == nullptr) {
        return NTE_INVALID_PARAMETER;
    }
    if (m_block.Size() < 8) {
        return NTE_INVALID_PARAMETER;
    }
    LockedBuffer plain(m_block.Size());
    std::memcpy(plain.Data(), m_block.Data(), m_block.Size());
    if (!SecureMemory::Unprotect(plain.Data(), plain.Size())) {
        m_log.Write("Decrypt - Failed to decrypt data - ");
        return NTE_INTERNAL_ERROR;
    }
    if (plain.Data()[0] != PinBlock::kMarker || plain.Data()[1] + 2U > plain.Size()) {
        return NTE_INTERNAL_ERROR;
    }
    const DWORD pinLength = plain.Data()[1];
    if (buffer == nullptr) {
        m_log.Write("Decrypt - Output buffer is NULL. Returning data length");
        *length = pinLength;
        return ERROR_SUCCESS;
    }
    if (*length < pinLength) {
        m_log.Write("Decrypt - Output buffer size is too small");
        *length = pinLength;
        return NTE_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, plain.Data() + 2, pinLength);
    *length = pinLength;
    return ERROR_SUCCESS;
}

PinManager::PinManager()
    : m_log(false)
{
    DebuggerOutput("PinManager ctor - Entry");
    DebuggerOutput("PinManager ctor - Exit");
}

SECURITY_STATUS PinManager::Lookup(const TokenSerial& serial, BYTE* buffer, DWORD* length) const
{
    const std::lock_guard guard(m_lock);
    m_log.Write("PIN Manager - Retrieving PIN from PIN Cache");
    m_log.WriteDump("pbSerial: ", serial.data(), serial.size());
    m_log.WriteHex("cbSerial: ", static_cast<std::uint64_t>(serial.size()));
    if (length == nullptr) {
        return NTE_INVALID_PARAMETER;
    }
    m_log.Write("PIN Manager - Iterating through PIN caches");
    for (const auto& entry : m_entries) {
        if (entry->Label() != serial) {
            continue;
        }
        if (buffer == nullptr) {
            m_log.Write("PIN Manager - PIN buffer is NULL, returning PIN length");
            return entry->GetPin(nullptr, length);
        }
        LockedBuffer temporary(*length);
        DWORD got = *length;
        const SECURITY_STATUS read = entry->GetPin(temporary.Data(), &got);
        if (read != ERROR_SUCCESS) {
            m_log.Write("Failed to get PIN from cache");
            return read == NTE_BUFFER_TOO_SMALL ? read : NTE_NOT_FOUND;
        }
        std::memcpy(buffer, temporary.Data(), got);
        *length = got;
        return ERROR_SUCCESS;
    }
    m_log.Write("PIN Manager - PIN is not found");
    return NTE_NOT_FOUND;
}

SECURITY_STATUS PinManager::Store(const TokenSerial& serial, const BYTE* pin, std::size_t length)
{
    const std::lock_guard guard(m_lock);
    m_log.Write("Checking PIN caching setting");
    if (!PinCachingAllowed()) {
        return NTE_NOT_SUPPORTED;
    }
    m_log.Write("Creating cache to store token PIN");
    auto entry = std::unique_ptr<PinCacheEntry>(new (std::nothrow) PinCacheEntry(serial));
    if (!entry) {
        return NTE_NO_MEMORY;
    }
    m_log.Write("Setting cache label");
    m_log.Write("Setting PIN");
    const SECURITY_STATUS set = entry->SetPin(pin, length);
    if (set != ERROR_SUCCESS) {
        m_log.WriteHex(
            "Unable to set PIN. Error code: ", static_cast<std::uint64_t>(static_cast<DWORD>(set)));
        return set;
    }
    // A newer PIN for the token replaces the one held, which is wiped.
    Drop(serial);
    m_log.Write("Saving cache to pool");
    m_entries.push_back(std::move(entry));
    m_log.Write("PIN securely saved");
    return ERROR_SUCCESS;
}

void PinManager::Drop(const TokenSerial& serial)
{
    const std::lock_guard guard(m_lock);
    const auto gone = std::remove_if(m_entries.begin(), m_entries.end(),
        [&](const std::unique_ptr<PinCacheEntry>& entry) { return entry->Label() == serial; });
    if (gone != m_entries.end()) {
        m_log.Write("PIN Manager - Cached PIN dropped");
        m_entries.erase(gone, m_entries.end());
    }
}

std::size_t PinManager::EntryCount() const
{
    const std::lock_guard guard(m_lock);
    return m_entries.size();
}
