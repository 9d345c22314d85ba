#include "platform/files/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace Files {

void SyncFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool WriteAtomically(const std::filesystem::path& file, const void* data, size_t size, mode_t mode)
{
    // mkstemp's template: six letters it replaces.
    std::string temp
        = (file.parent_path() / ("." + file.filename().string() + "." + std::string(6, 'X'))).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    bool ok = ::fchmod(fd, mode) == 0;
    size_t written = 0;
    while (ok && written < size) {
        const ssize_t n = ::write(fd, bytes + written, size - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            written += static_cast<size_t>(n);
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(file.parent_path());
    return true;
}

} // namespace Files
