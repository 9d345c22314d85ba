// The log writer each slot context keeps. It writes only to a log file that
// already exists: whoever wants a trace creates "vcpslog.txt" in the
// temporary folder. That folder is usually writable by every user, so the
// file is opened without following a symbolic link and used only when it is
// a regular file of this user's own; nobody can make the agent append to a
// file of theirs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string_view>

namespace CertProp {

class AgentLog final {
public:
    static constexpr unsigned long kLineLimit = 0x7FFFFFFF;

    // Opens file when it is there and writes the start line.
    explicit AgentLog(
        const std::filesystem::path& file = DefaultPath(), unsigned long lineLimit = kLineLimit);
    ~AgentLog();
    AgentLog(const AgentLog&) = delete;
    AgentLog& operator=(const AgentLog&) = delete;

    bool IsOpen() const { return m_file != nullptr; }
    uint32_t StartTime() const { return m_startTime; }

    void Write(std::string_view text);
    // "text: NUMBER" with the number in upper-case hex.
    void Write(std::string_view text, unsigned long number);
    // Writes the close line and closes the file; later writes are dropped.
    void Close();

    // vcpslog.txt in $TMPDIR, else in /tmp.
    static std::filesystem::path DefaultPath();

private:
    std::mutex m_mutex;
    std::FILE* m_file = nullptr;
    uint32_t m_startTime = 0;
    unsigned long m_counter = 0;
    unsigned long m_lineLimit = kLineLimit;
};

} // namespace CertProp
