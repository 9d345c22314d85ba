#include "platform/process/Process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vela5::platform::Process {
namespace {

int OpenPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    return fd >= 0 ? static_cast<int>(fd) : -1;
#else
    (void)pid;
    return -1;
#endif
}

int DecodeStatus(int status)
{
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

// Reaps a let-go child when it ends. One small thread per child: children
// are few, and waiting for exactly our own pid never steals another owner's.
void ReapInBackground(pid_t pid) noexcept
{
    try {
        std::thread([pid] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
        }).detach();
    } catch (...) {
        // No thread to be had: the child stays a zombie until we exit, which
        // is better than ending the caller.
    }
}

// RAII for the spawn attributes and file actions.
class SpawnSetup final {
public:
    explicit SpawnSetup(const StartOptions& options)
    {
        posix_spawnattr_init(&m_attributes);
        posix_spawn_file_actions_init(&m_actions);
        // A child starts with no handle of ours but the standard streams, an
        // empty signal mask and default dispositions, whatever our GUI set.
        posix_spawn_file_actions_addclosefrom_np(&m_actions, 3);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&m_attributes, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int signal : { SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGUSR1, SIGUSR2 }) {
            sigaddset(&defaults, signal);
        }
        posix_spawnattr_setsigdefault(&m_attributes, &defaults);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (options.hidden) {
            flags |= POSIX_SPAWN_SETSID;
            posix_spawn_file_actions_addopen(&m_actions, 0, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_addopen(&m_actions, 1, "/dev/null", O_WRONLY, 0);
            posix_spawn_file_actions_addopen(&m_actions, 2, "/dev/null", O_WRONLY, 0);
        }
        posix_spawnattr_setflags(&m_attributes, flags);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    const posix_spawnattr_t* Attributes() const { return &m_attributes; }
    const posix_spawn_file_actions_t* Actions() const { return &m_actions; }

private:
    posix_spawnattr_t m_attributes;
    posix_spawn_file_actions_t m_actions;
};

} // namespace

ErrorCode FromErrno(int error)
{
    switch (error) {
    case ENOENT:
        return kErrorFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
        return kErrorAccessDenied;
    case ENOMEM:
    case E2BIG:
        return kErrorNotEnoughMemory;
    case ENOEXEC:
    case ELIBBAD:
    case EINVAL:
        return kErrorBadFormat;
    case ETXTBSY:
        return kErrorSharingViolation;
    case EAGAIN:
        return kErrorNoSystemResources;
    default:
        return kApplicationErrorBit | static_cast<ErrorCode>(error);
    }
}

Child::~Child()
{
    Detach();
}

Child::Child(Child&& other) noexcept
    : m_pid(other.m_pid)
    , m_pidFd(other.m_pidFd)
    , m_exitCode(other.m_exitCode)
    , m_ended(other.m_ended)
{
    other.m_pid = 0;
    other.m_pidFd = -1;
}

Child& Child::operator=(Child&& other) noexcept
{
    if (this != &other) {
        Detach();
        m_pid = other.m_pid;
        m_pidFd = other.m_pidFd;
        m_exitCode = other.m_exitCode;
        m_ended = other.m_ended;
        other.m_pid = 0;
        other.m_pidFd = -1;
    }
    return *this;
}

bool Child::Reap(bool block)
{
    if (m_ended) {
        return true;
    }
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == 0) {
        return false;
    }
    // ECHILD: someone reaped it for us (SIGCHLD ignored); it has ended all
    // the same, only its code is lost.
    if (got == m_pid) {
        m_exitCode = DecodeStatus(status);
    }
    m_ended = true;
    if (m_pidFd >= 0) {
        ::close(m_pidFd);
        m_pidFd = -1;
    }
    return true;
}

bool Child::WaitFor(std::chrono::milliseconds timeout)
{
    if (!IsStarted() || Reap(false)) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (m_pidFd >= 0) {
            pollfd entry { m_pidFd, POLLIN, 0 };
            ::poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count())));
        } else {
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(5)));
        }
        if (Reap(false)) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
    }
}

void Child::WaitWhile(const std::function<void()>& tick, std::chrono::milliseconds interval)
{
    while (!WaitFor(interval)) {
        if (tick) {
            tick();
        }
    }
}

void Child::Detach()
{
    if (IsStarted() && !m_ended && !Reap(false)) {
        ReapInBackground(m_pid);
    }
    if (m_pidFd >= 0) {
        ::close(m_pidFd);
        m_pidFd = -1;
    }
    m_pid = 0;
    m_ended = false;
    m_exitCode.reset();
}

ErrorCode Start(const std::string& program, const std::vector<std::string>& arguments,
    const StartOptions& options, Child& child)
{
    child.Detach();
    if (program.empty()) {
        return kErrorFileNotFound;
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    const SpawnSetup setup(options);
    pid_t pid = 0;
    const bool search = program.find('/') == std::string::npos;
    // glibc reports a failed exec (missing, not executable, not a program)
    // here, not as an exit status of the child.
    const int error = search
        ? ::posix_spawnp(&pid, program.c_str(), setup.Actions(), setup.Attributes(), argv.data(), environ)
        : ::posix_spawn(&pid, program.c_str(), setup.Actions(), setup.Attributes(), argv.data(), environ);
    if (error != 0) {
        return FromErrno(error);
    }
    child = Child(pid);
    child.m_pidFd = OpenPidFd(pid);
    return kSuccess;
}

ErrorCode StartDetached(
    const std::string& program, const std::vector<std::string>& arguments, const StartOptions& options)
{
    Child child;
    const ErrorCode result = Start(program, arguments, options, child);
    child.Detach();
    return result;
}

ErrorCode StartCommandLine(const std::string& commandLine, const StartOptions& options, Child& child)
{
    std::vector<std::string> words = SplitCommandLine(commandLine);
    if (words.empty()) {
        child.Detach();
        return kErrorFileNotFound;
    }
    const std::string program = words.front();
    words.erase(words.begin());
    return Start(program, words, options, child);
}

std::string OwnProgramPath()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.string();
}

ErrorCode OpenDocument(const std::filesystem::path& document)
{
    std::error_code ignored;
    if (!std::filesystem::exists(document, ignored)) {
        return kErrorFileNotFound;
    }
    const ErrorCode result
        = StartDetached("xdg-open", { document.string() }, StartOptions { .hidden = true });
    // No opener at all is the shell's "no application associated" (31).
    return result == kErrorFileNotFound ? kErrorNoAssociation : result;
}

uint64_t StartTime(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (pid <= 0 || !std::getline(in, line)) {
        return 0;
    }
    // The program name (field 2) is in parentheses and may itself hold
    // blanks and parentheses: count fields from the last closing one.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    for (int number = 3; number <= 22; ++number) {
        if (!(fields >> field)) {
            return 0;
        }
    }
    return std::strtoull(field.c_str(), nullptr, 10);
}

} // namespace vela5::platform::Process
