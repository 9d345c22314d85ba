// Starting other programs (CreateProcess, ShellExecute), the one place in the
// kit that does. Programs are started directly with posix_spawn, never through
// a shell or the desktop's document opener; documents are opened with
// xdg-open. Every started child is reaped, by its owner's wait or, once let
// go, by a background waiter, so none is left as a zombie.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vela5::platform::Process {

// Windows error numbers, as CreateProcess and ShellExecute callers read them.
using ErrorCode = unsigned long;
constexpr ErrorCode kSuccess = 0;
constexpr ErrorCode kErrorFileNotFound = 2; // ENOENT
constexpr ErrorCode kErrorPathNotFound = 3; // ENOTDIR, ENAMETOOLONG, ELOOP
constexpr ErrorCode kErrorAccessDenied = 5; // EACCES, EPERM, EISDIR
constexpr ErrorCode kErrorNotEnoughMemory = 8; // ENOMEM, E2BIG
constexpr ErrorCode kErrorBadFormat = 11; // ENOEXEC, ELIBBAD, EINVAL
constexpr ErrorCode kErrorSharingViolation = 26; // ETXTBSY (the file is open for writing)
constexpr ErrorCode kErrorNoSystemResources = 1450; // EAGAIN (a process or thread limit)
// Any other errno e comes back as kApplicationErrorBit | e: bit 29 marks an
// application-defined code, so it never collides with a Windows number.
constexpr ErrorCode kApplicationErrorBit = 0x20000000;

// The Windows number for an errno of a failed start; never kSuccess.
ErrorCode FromErrno(int error);

struct StartOptions {
    // No terminal: standard streams go to /dev/null and the child gets a
    // session of its own, so it neither reads nor is signalled by ours.
    bool hidden = false;
};

// A started program. The owner may wait for it; when the owner lets it go
// without having seen it end, a background waiter reaps it.
class Child final {
public:
    Child() = default;
    ~Child();
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool IsStarted() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }

    // Waits at most timeout for the program to end; true once it has ended.
    bool WaitFor(std::chrono::milliseconds timeout);
    // Waits until the program ends, calling tick after every interval it is
    // still running (a GUI caller dispatches its events there).
    void WaitWhile(const std::function<void()>& tick,
        std::chrono::milliseconds interval = std::chrono::milliseconds(100));
    // The exit status once ended (128 + signal for a killed program).
    std::optional<int> ExitCode() const { return m_exitCode; }
    // Lets the program run on; it is reaped in the background when it ends.
    void Detach();

private:
    friend ErrorCode Start(const std::string&, const std::vector<std::string>&, const StartOptions&, Child&);
    explicit Child(pid_t pid)
        : m_pid(pid)
    {
    }
    bool Reap(bool block);

    pid_t m_pid = 0;
    int m_pidFd = -1;
    std::optional<int> m_exitCode;
    bool m_ended = false;
};

// Starts program with arguments (argv[0] is the program as given). A name
// without a slash is looked up on PATH; anything else is used as a path.
ErrorCode Start(const std::string& program, const std::vector<std::string>& arguments,
    const StartOptions& options, Child& child);
// Starts and lets go at once (ShellExecute "open" on a program).
ErrorCode StartDetached(
    const std::string& program, const std::vector<std::string>& arguments, const StartOptions& options);

// Quotes one word so SplitCommandLine gives it back unchanged.
std::string QuoteArgument(const std::string& word);

// Splits a command line the way Windows programs split theirs
// (CommandLineToArgvW): blanks separate, double quotes group, 2n backslashes
// before a quote give n and the quote acts, 2n+1 give n and a literal quote.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);
// CreateProcess with a command line: its first word is the program.
ErrorCode StartCommandLine(const std::string& commandLine, const StartOptions& options, Child& child);

// This program's own full path (GetModuleFileName of the program), symbolic
// links resolved; empty when the system does not say.
std::string OwnProgramPath();

// The shell's "no application associated" answer of OpenDocument.
constexpr ErrorCode kErrorNoAssociation = 31;

// Opens a document with the desktop's opener (ShellExecute "open" on a
// file): xdg-open, hidden and let go. A missing document is
// kErrorFileNotFound, no opener installed kErrorNoAssociation; what the
// opener then makes of the file is its own affair. Programs are started with
// Start, never through here.
ErrorCode OpenDocument(const std::filesystem::path& document);

// When the process started, in clock ticks since boot (field 22 of
// /proc/PID/stat); 0 when no such process is running. With the process id it
// names one process: a pid reused by a later process gets another time.
uint64_t StartTime(pid_t pid);

} // namespace vela5::platform::Process
