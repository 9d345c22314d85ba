#include "platform/named_mutex/NamedMutex.h"

#include "platform/system/MachineRoot.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vela5::platform::NamedMutex {
namespace {

// A folder only this user can enter: not a symbolic link, ours, no access
// for group or others. Anything else could let another user hold our lock.
bool IsPrivateFolder(const std::filesystem::path& folder)
{
    struct stat info { };
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid()
        && (info.st_mode & 0077) == 0;
}

std::filesystem::path TemporaryFolder()
{
    const char* temp = std::getenv("TMPDIR");
    return temp != nullptr && *temp != '\0' ? std::filesystem::path(temp) : std::filesystem::path("/tmp");
}

// Names may hold any character; a file name gets only the harmless ones.
std::string FileName(std::string_view name)
{
    std::string out = "vela5-" + System::MachineTag() + "-";
    for (const char c : name) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
            || c == '-' || c == '_' || c == '.' || c == '{' || c == '}';
        out += plain ? c : '_';
    }
    return out + ".lock";
}

} // namespace

std::filesystem::path Mutex::Folder()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
        if (IsPrivateFolder(runtime)) {
            return runtime;
        }
    }
    const std::filesystem::path folder = TemporaryFolder() / ("vela5-" + std::to_string(::geteuid()));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    return IsPrivateFolder(folder) ? folder : std::filesystem::path();
}

Mutex::~Mutex()
{
    Release();
}

Mutex::Mutex(Mutex&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{
}

Mutex& Mutex::operator=(Mutex&& other) noexcept
{
    if (this != &other) {
        Release();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

long Mutex::Create(std::string_view name, Mutex& out)
{
    out.Release();
    if (name.empty()) {
        return InvalidParameter;
    }
    const std::filesystem::path folder = Folder();
    if (folder.empty()) {
        return AccessDenied;
    }
    // Close-on-exec: a program the holder starts must not inherit the lock
    // and keep it after the holder is gone.
    const int fd = ::open((folder / FileName(name)).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return AccessDenied;
    }
    int rc = 0;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const long result = errno == EWOULDBLOCK ? AlreadyExists : AccessDenied;
        ::close(fd);
        return result;
    }
    out.m_fd = fd;
    return Success;
}

void Mutex::Release()
{
    // The file stays: removing it would let a waiter lock a file that a
    // newcomer no longer finds by name.
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace vela5::platform::NamedMutex
