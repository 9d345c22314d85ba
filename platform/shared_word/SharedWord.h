// A named 4-byte word shared between the processes of one user, standing in
// for a named file mapping such as VCPSFLAG: one side creates it, the others
// open it to read or to write. The word holds two 16-bit halves (bits 31-16
// and 15-0), each written by one side only; a half is replaced atomically,
// so two writers changing different halves at the same moment both land.
// Calls answer with Windows error numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vela5::platform::SharedWord {

enum Status : long {
    Success = 0,
    NotFound = 2, // ERROR_FILE_NOT_FOUND: nobody created the word
    AccessDenied = 5, // ERROR_ACCESS_DENIED: opened for reading, or not this user's
    InvalidHandle = 6, // ERROR_INVALID_HANDLE: not open
    InvalidParameter = 87, // ERROR_INVALID_PARAMETER: an unusable name
};

enum class Access { Read, ReadWrite };
enum class Half { High, Low };

class Word final {
public:
    Word() = default;
    ~Word();
    Word(Word&& other) noexcept;
    Word& operator=(Word&& other) noexcept;
    Word(const Word&) = delete;
    Word& operator=(const Word&) = delete;

    // CreateFileMapping: makes the word (replacing one a crashed creator
    // left behind) and stores initial. The creator owns the name: when this
    // object goes, the name goes with it, so nobody reads a dead creator's
    // word as live.
    static long Create(std::string_view name, uint32_t initial, Word& out);
    // OpenFileMapping and MapViewOfFile: NotFound when no creator made it.
    static long Open(std::string_view name, Access access, Word& out);

    bool IsOpen() const { return m_word != nullptr; }
    void Close();

    // One atomic 32-bit read of the whole word.
    uint32_t Read() const;
    // Replaces one half, leaving the other as whoever wrote it last left it.
    long WriteHalf(Half half, uint16_t value);

    // The system name behind a word name for the calling user and machine.
    static std::string SystemName(std::string_view name);

private:
    uint32_t* m_word = nullptr;
    Access m_access = Access::Read;
    // Set for the creator only: the name it removes when it closes, and the
    // identity of its object, so it never removes a newer creator's word.
    std::string m_ownedName;
    unsigned long m_device = 0;
    unsigned long m_inode = 0;
};

} // namespace vela5::platform::SharedWord
