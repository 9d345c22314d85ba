#include "platform/files/AtomicFile.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vela5::platform::Files {

namespace {

constexpr size_t kSuffixLength = 6;

// ".<target>.<pid>.<six characters>": the writer's process id tells a
// temporary being written from one whose writer was killed.
std::string TemporaryPrefix(const std::filesystem::path& file)
{
    return "." + file.filename().string() + "." + std::to_string(::getpid()) + ".";
}

// The writer's process id of a temporary's name, or 0 for any other name.
pid_t WriterOf(const std::string& name)
{
    if (name.size() < 1 + 1 + 1 + 1 + 1 + kSuffixLength || name[0] != '.') {
        return 0;
    }
    const size_t suffixDot = name.size() - kSuffixLength - 1;
    if (name[suffixDot] != '.') {
        return 0;
    }
    const size_t pidDot = name.rfind('.', suffixDot - 1);
    if (pidDot == std::string::npos || pidDot == 0 || pidDot + 1 == suffixDot) {
        return 0;
    }
    long pid = 0;
    for (size_t i = pidDot + 1; i < suffixDot; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || pid > 10'000'000) {
            return 0;
        }
        pid = pid * 10 + (name[i] - '0');
    }
    for (size_t i = suffixDot + 1; i < name.size(); ++i) {
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) {
            return 0;
        }
    }
    return static_cast<pid_t>(pid);
}

std::string RandomSuffix()
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 generator { std::random_device {}() };
    std::uniform_int_distribution<size_t> pick(0, sizeof letters - 2);
    std::string suffix;
    for (size_t i = 0; i < kSuffixLength; ++i) {
        suffix += letters[pick(generator)];
    }
    return suffix;
}

bool WriteAll(int fd, const void* data, size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, bytes + written, size - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

// Gives an unnamed file a temporary name beside the target. Unprivileged
// processes can link an O_TMPFILE file only through its /proc entry.
bool NameUnnamed(int fd, const std::filesystem::path& file, std::string& temp)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 16; ++attempt) {
        temp = (file.parent_path() / (TemporaryPrefix(file) + RandomSuffix())).string();
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

} // namespace

void SyncFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void RemoveStaleTemporaries(const std::filesystem::path& folder)
{
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        const pid_t writer = WriterOf(name);
        if (writer <= 0 || writer == ::getpid()) {
            continue;
        }
        if (::kill(writer, 0) != 0 && errno == ESRCH) {
            ::unlink(it->path().c_str());
        }
    }
}

bool WriteAtomically(const std::filesystem::path& file, const void* data, size_t size, mode_t mode)
{
    const std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
    RemoveStaleTemporaries(folder);
    std::string temp;
    // Unnamed until complete: a writer killed before the rename leaves
    // nothing behind.
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    const bool unnamed = fd >= 0;
    if (!unnamed) {
        temp = (folder / (TemporaryPrefix(file) + std::string(kSuffixLength, 'X'))).string();
        fd = ::mkstemp(temp.data());
        if (fd < 0) {
            return false;
        }
    }
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data, size) && ::fsync(fd) == 0;
    if (ok && unnamed) {
        ok = NameUnnamed(fd, folder / file.filename(), temp);
        if (!ok) {
            temp.clear();
        }
    }
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) {
        if (!temp.empty()) {
            ::unlink(temp.c_str());
        }
        return false;
    }
    SyncFolder(folder);
    return true;
}

FolderLock::FolderLock(const std::filesystem::path& folder, mode_t mode)
{
    m_fd = ::open((folder / ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode);
    if (m_fd < 0) {
        return;
    }
    int rc = 0;
    do {
        rc = ::flock(m_fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

FolderLock::~FolderLock()
{
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }
}

} // namespace vela5::platform::Files
