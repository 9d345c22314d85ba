#include "SaveDetailsReport.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace SaveDetailsReport {

wxString TabsAfterLabel(const wxString& label)
{
    const size_t length = label.length();
    if (length <= 8) {
        return "\t\t\t";
    }
    if (length <= 15) {
        return "\t\t";
    }
    return "\t";
}

std::string Format(const std::vector<Row>& rows, const wxString& programName, const wxString& createdAt)
{
    const char* const rule = "========================================================\r\n";
    std::string report = rule;
    report += (programName + " Log created at " + createdAt).utf8_string();
    report += "\r\n";
    report += rule;
    report += "\r\n";
    for (const Row& row : rows) {
        report += (row.first + TabsAfterLabel(row.first) + row.second).utf8_string();
        report += "\r\n";
    }
    return report;
}

int Write(const std::filesystem::path& file, const std::string& bytes)
{
    // The user picked this file and confirmed replacing it: it is written in
    // place, keeping its links and permissions, not swapped for a new file.
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return errno;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            ::close(fd);
            return error;
        }
        done += static_cast<size_t>(written);
    }
    // A full disk or a lost network share can show only here.
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    if (::close(fd) != 0) {
        return errno;
    }
    return 0;
}

} // namespace SaveDetailsReport
