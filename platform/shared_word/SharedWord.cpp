#include "platform/shared_word/SharedWord.h"

#include "platform/system/MachineRoot.h"

#include <atomic>
#include <bit>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vela5::platform::SharedWord {
namespace {

// The word is one little-endian value whose low half is bytes 0-1; on this
// machine that is a native uint32_t, changed with native atomics. Processes
// share it, so the atomics must not hide a lock inside one process.
static_assert(std::endian::native == std::endian::little);
static_assert(std::atomic_ref<uint32_t>::is_always_lock_free);

constexpr size_t kSize = sizeof(uint32_t);

bool IsUsableName(std::string_view name)
{
    return !name.empty() && name.size() <= 200 && name.find('/') == std::string_view::npos
        && name.find('\0') == std::string_view::npos;
}

// The descriptor is this user's object of at least the word's size; a word
// another user planted under our name is never used.
long CheckObject(int fd, struct stat& info)
{
    if (::fstat(fd, &info) != 0) {
        return AccessDenied;
    }
    if (info.st_uid != ::geteuid()) {
        return AccessDenied;
    }
    // Created but not yet sized: not a word yet.
    return info.st_size < static_cast<off_t>(kSize) ? NotFound : Success;
}

uint32_t* Map(int fd, Access access)
{
    const int protection = access == Access::Read ? PROT_READ : PROT_READ | PROT_WRITE;
    void* memory = ::mmap(nullptr, kSize, protection, MAP_SHARED, fd, 0);
    return memory == MAP_FAILED ? nullptr : static_cast<uint32_t*>(memory);
}

} // namespace

std::string Word::SystemName(std::string_view name)
{
    return "/vela5-" + std::to_string(::geteuid()) + "-" + System::MachineTag() + "-" + std::string(name);
}

Word::~Word()
{
    Close();
}

Word::Word(Word&& other) noexcept
{
    *this = std::move(other);
}

Word& Word::operator=(Word&& other) noexcept
{
    if (this != &other) {
        Close();
        m_word = std::exchange(other.m_word, nullptr);
        m_access = other.m_access;
        m_ownedName = std::exchange(other.m_ownedName, std::string());
        m_device = other.m_device;
        m_inode = other.m_inode;
    }
    return *this;
}

long Word::Create(std::string_view name, uint32_t initial, Word& out)
{
    out.Close();
    if (!IsUsableName(name)) {
        return InvalidParameter;
    }
    const std::string systemName = SystemName(name);
    // A word left by a creator that died is dropped, never reused: its last
    // command must not reach the new creator. Exclusive creation then makes
    // sure the object is a fresh one of our own.
    ::shm_unlink(systemName.c_str());
    const int fd = ::shm_open(systemName.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        return AccessDenied;
    }
    struct stat info { };
    uint32_t* word = nullptr;
    if (::ftruncate(fd, kSize) == 0 && ::fstat(fd, &info) == 0) {
        word = Map(fd, Access::ReadWrite);
    }
    ::close(fd);
    if (word == nullptr) {
        ::shm_unlink(systemName.c_str());
        return AccessDenied;
    }
    std::atomic_ref<uint32_t>(*word).store(initial);
    out.m_word = word;
    out.m_access = Access::ReadWrite;
    out.m_ownedName = systemName;
    out.m_device = static_cast<unsigned long>(info.st_dev);
    out.m_inode = static_cast<unsigned long>(info.st_ino);
    return Success;
}

long Word::Open(std::string_view name, Access access, Word& out)
{
    out.Close();
    if (!IsUsableName(name)) {
        return InvalidParameter;
    }
    const std::string systemName = SystemName(name);
    const int fd
        = ::shm_open(systemName.c_str(), (access == Access::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC, 0);
    if (fd < 0) {
        return errno == ENOENT ? NotFound : AccessDenied;
    }
    struct stat info { };
    long result = CheckObject(fd, info);
    uint32_t* word = nullptr;
    if (result == Success) {
        word = Map(fd, access);
        result = word != nullptr ? Success : AccessDenied;
    }
    ::close(fd);
    if (result == Success) {
        out.m_word = word;
        out.m_access = access;
    }
    return result;
}

void Word::Close()
{
    if (m_word == nullptr) {
        return;
    }
    ::munmap(m_word, kSize);
    m_word = nullptr;
    if (!m_ownedName.empty()) {
        // Only our own object: a later creator may have replaced the name.
        const int fd = ::shm_open(m_ownedName.c_str(), O_RDONLY | O_CLOEXEC, 0);
        if (fd >= 0) {
            struct stat info { };
            const bool ours = ::fstat(fd, &info) == 0 && static_cast<unsigned long>(info.st_dev) == m_device
                && static_cast<unsigned long>(info.st_ino) == m_inode;
            ::close(fd);
            if (ours) {
                ::shm_unlink(m_ownedName.c_str());
            }
        }
        m_ownedName.clear();
    }
}

uint32_t Word::Read() const
{
    return m_word != nullptr ? std::atomic_ref<uint32_t>(*m_word).load() : 0;
}

long Word::WriteHalf(Half half, uint16_t value)
{
    if (m_word == nullptr) {
        return InvalidHandle;
    }
    if (m_access != Access::ReadWrite) {
        return AccessDenied;
    }
    // Clear-then-OR as one compare-and-swap: two plain writes would let the
    // other side's change made in between be overwritten.
    const uint32_t mask = half == Half::High ? 0xFFFF0000u : 0x0000FFFFu;
    const uint32_t bits = half == Half::High ? static_cast<uint32_t>(value) << 16 : value;
    std::atomic_ref<uint32_t> word(*m_word);
    uint32_t old = word.load();
    while (!word.compare_exchange_weak(old, (old & ~mask) | bits)) { }
    return Success;
}

} // namespace vela5::platform::SharedWord
