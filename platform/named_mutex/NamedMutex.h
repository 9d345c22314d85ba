// A named lock per user that one process at a time holds, standing in for a
// named mutex created with initial ownership (a program's single-instance
// check). The kernel releases it when the holder dies, however it dies, so a
// crashed holder never blocks the next one. Calls answer with Windows error
// numbers.
#pragma once

#include <filesystem>
#include <string_view>

namespace vela5::platform::NamedMutex {

enum Status : long {
    Success = 0,
    AccessDenied = 5, // ERROR_ACCESS_DENIED: the lock file cannot be made or used
    InvalidParameter = 87, // ERROR_INVALID_PARAMETER: an empty name
    AlreadyExists = 183, // ERROR_ALREADY_EXISTS: another holder has it
};

class Mutex final {
public:
    Mutex() = default;
    ~Mutex();
    Mutex(Mutex&& other) noexcept;
    Mutex& operator=(Mutex&& other) noexcept;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // CreateMutex with initial ownership: Success when this object now
    // holds the lock, AlreadyExists when another holder (in this or another
    // process) has it. Never waits.
    static long Create(std::string_view name, Mutex& out);

    bool IsHeld() const { return m_fd >= 0; }
    // ReleaseMutex and CloseHandle.
    void Release();

    // The per-user folder the lock files live in: $XDG_RUNTIME_DIR, else a
    // folder of this user's own (mode 0700) under the temporary folder.
    // Empty when neither can be had safely.
    static std::filesystem::path Folder();

private:
    int m_fd = -1;
};

} // namespace vela5::platform::NamedMutex
