#include "certprop/AgentLog.h"

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace CertProp {
namespace {

// Milliseconds since boot, as a tick count: it tells apart the runs of
// several contexts writing to one file.
uint32_t TickCount()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000U + now.tv_nsec / 1000000);
}

// The existing log file for appending, or -1. O_NONBLOCK keeps a FIFO put in
// its place from stalling the agent before the type check turns it down.
int OpenExisting(const std::filesystem::path& file)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    struct stat info { };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, O_APPEND);
    return fd;
}

} // namespace

std::filesystem::path AgentLog::DefaultPath()
{
    const char* temp = std::getenv("TMPDIR");
    const std::filesystem::path folder = temp != nullptr && *temp != '\0' ? temp : "/tmp";
    return folder / "vcpslog.txt";
}

AgentLog::AgentLog(const std::filesystem::path& file, unsigned long lineLimit)
    : m_startTime(TickCount())
    , m_lineLimit(lineLimit)
{
    const int fd = OpenExisting(file);
    if (fd < 0) {
        return;
    }
    m_file = ::fdopen(fd, "a");
    if (m_file == nullptr) {
        ::close(fd);
        return;
    }
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    std::fprintf(m_file, "\n*** LOG START %04d-%02d-%02d %02d:%02d:%02d %x ***\n", local.tm_year + 1900,
        local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, m_startTime);
    std::fflush(m_file);
}

AgentLog::~AgentLog()
{
    Close();
}

void AgentLog::Write(std::string_view text)
{
    const std::lock_guard lock(m_mutex);
    if (m_file == nullptr) {
        return;
    }
    std::fprintf(
        m_file, "\n%04X:%08lX: %.*s", m_startTime, m_counter, static_cast<int>(text.size()), text.data());
    std::fflush(m_file);
    if (++m_counter >= m_lineLimit) {
        std::fprintf(m_file, "\n%04X:%08lX: *** LOG STOPPED SIZE EXCEEDS LIMIT ***", m_startTime, m_counter);
        std::fclose(m_file);
        m_file = nullptr;
    }
}

void AgentLog::Write(std::string_view text, unsigned long number)
{
    char hex[2 * sizeof number + 1];
    std::snprintf(hex, sizeof hex, "%lX", number);
    Write(std::string(text) + ": " + hex);
}

void AgentLog::Close()
{
    const std::lock_guard lock(m_mutex);
    if (m_file == nullptr) {
        return;
    }
    std::fprintf(m_file, "\n*** DEBUG CLOSE %x***\n", m_startTime);
    std::fclose(m_file);
    m_file = nullptr;
}

} // namespace CertProp
