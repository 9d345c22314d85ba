#include "CallLog.h"

#include "platform/registry/Registry.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

using namespace vela5::platform;

namespace velatoken {

namespace {

const char* const kSdkKey = "Software\\Nurvon Ltd.\\VELA5 SDK";
// A running process notices the switch within this time, without a registry
// read on every call.
constexpr auto kRecheck = std::chrono::seconds(1);

struct LogSwitch {
    std::mutex mutex;
    bool loaded = false;
    std::chrono::steady_clock::time_point readAt;
    bool on = false;
    std::string path;
};

LogSwitch& Switch()
{
    static LogSwitch instance;
    return instance;
}

// The module is a 64-bit library: it follows the 64-bit view's values.
void ReadSwitch(LogSwitch& state)
{
    state.on = false;
    state.path.clear();
    Registry::Key key;
    if (Registry::Key::Open(
            Registry::Hive::LocalMachine, kSdkKey, Registry::Access::Read, Registry::View::Wow64, key)
        != Registry::Success) {
        return;
    }
    std::string flag;
    std::string path;
    if (key.GetString("PKCLOG", flag) != Registry::Success
        || key.GetString("PKCDIR", path) != Registry::Success) {
        return;
    }
    state.on = flag == "00000001" && !path.empty();
    state.path = path;
}

void AppendLine(const std::string& path, const std::string& line)
{
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    // One write per line: lines of processes sharing the file never interleave.
    const ssize_t written = write(fd, line.data(), line.size());
    static_cast<void>(written);
    close(fd);
}

} // namespace

std::string CallLog::FormatLine(const char* function, const CallSubject& subject, CK_RV result)
{
    char text[160];
    if (subject.kind != nullptr) {
        std::snprintf(
            text, sizeof text, "%s %s %lu -> 0x%08lX", function, subject.kind, subject.value, result);
    } else {
        std::snprintf(text, sizeof text, "%s -> 0x%08lX", function, result);
    }
    return text;
}

void CallLog::Reload() noexcept
{
    LogSwitch& state = Switch();
    const std::lock_guard<std::mutex> lock(state.mutex);
    state.loaded = false;
}

void CallLog::Write(const char* function, const CallSubject& subject, CK_RV result) noexcept
{
    try {
        LogSwitch& state = Switch();
        std::string path;
        {
            const std::lock_guard<std::mutex> lock(state.mutex);
            const auto now = std::chrono::steady_clock::now();
            // A new C_Initialize always sees the switch as it is now.
            const bool initializing = std::strcmp(function, "C_Initialize") == 0;
            if (!state.loaded || initializing || now - state.readAt >= kRecheck) {
                ReadSwitch(state);
                state.loaded = true;
                state.readAt = now;
            }
            if (!state.on) {
                return;
            }
            path = state.path;
        }
        const std::time_t now = std::time(nullptr);
        std::tm local {};
        localtime_r(&now, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        char prefix[64];
        std::snprintf(prefix, sizeof prefix, "%s [%ld] ", stamp, static_cast<long>(getpid()));
        AppendLine(path, prefix + FormatLine(function, subject, result) + "\n");
    } catch (...) {
        // A log line is never worth a failed call.
    }
}

} // namespace velatoken
