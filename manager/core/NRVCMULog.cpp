// The manager's log writer.
#include "NRVCMULog.h"

#include <boost/format.hpp>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/filename.h>
#include <wx/strconv.h>

namespace {

std::string FormatValue(std::string_view format, auto value)
{
    try {
        return (boost::format(std::string(format)) % value).str();
    } catch (const boost::io::format_error&) {
        // A broken pattern must not cost the caller its line.
        return std::to_string(value);
    }
}

} // namespace

NRVCMULog& NRVCMULog::Get()
{
    static NRVCMULog instance;
    return instance;
}

NRVCMULog::NRVCMULog()
{
    SetFilePath(DefaultFilePath());
}

NRVCMULog::NRVCMULog(const wxString& filePath)
{
    SetFilePath(filePath);
}

void NRVCMULog::SetFilePath(const wxString& filePath)
{
    m_filePath = filePath;
    m_nativeFilePath = filePath.fn_str().data();
    m_nativeFolder = wxFileName(filePath).GetPath().fn_str().data();
}

wxString NRVCMULog::DefaultFilePath()
{
    return wxFileName(Folder(), wxS("nrvcmutestlog.txt")).GetFullPath();
}

wxString NRVCMULog::Folder()
{
    // The shared /tmp is the last resort, and even there the folder is the
    // user's own by name.
    for (const char* variable : { "TMPDIR", "XDG_RUNTIME_DIR" }) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value == '/') {
            return wxFileName(wxString::FromUTF8(value), wxS("nrvcme")).GetFullPath();
        }
    }
    return wxString::Format(wxS("/tmp/nrvcme-%u"), static_cast<unsigned>(geteuid()));
}

bool NRVCMULog::IsOwnFolder(const wxString& folder)
{
    return IsOwnFolder(std::string(folder.fn_str().data()));
}

bool NRVCMULog::IsOwnFolder(const std::string& folder)
{
    struct stat info { };
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid();
}

bool NRVCMULog::MakePrivateFolder(const wxString& folder)
{
    const wxCharBuffer path = folder.fn_str();
    mkdir(path.data(), 0700);
    if (!IsOwnFolder(folder)) {
        return false;
    }
    // A folder an earlier version made open to everyone is narrowed.
    return chmod(path.data(), 0700) == 0;
}

void NRVCMULog::Relocate()
{
    Get().SetFilePath(DefaultFilePath());
}

void NRVCMULog::Write(std::string_view text1, std::string_view text2, bool newline)
{
    if (!m_enabled) {
        return;
    }
    // One buffer and one write per call, so concurrent appends stay whole.
    std::string line;
    line.reserve(text1.size() + text2.size() + 2);
    line.append(text1);
    line.push_back('\t');
    line.append(text2);
    if (newline) {
        line.push_back('\n');
    }
    // Only into a folder of the user's own, and never through a link another
    // user could have planted to make the manager append to a file of ours.
    if (!IsOwnFolder(m_nativeFolder)) {
        return;
    }
    const int fd
        = open(m_nativeFilePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    std::FILE* file = fdopen(fd, "ab");
    if (file == nullptr) {
        close(fd);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), file);
    std::fflush(file);
    // An append stream stands at the end of the file after writing.
    const long size = std::ftell(file);
    std::fclose(file);
    if (size > 0 && static_cast<std::uintmax_t>(size) > kMaxFileSize) {
        RotateIfFull();
    }
}

void NRVCMULog::RotateIfFull()
{
    // Two threads can both see the full file; only the first may move it, or
    // the second would replace the full one with the new, nearly empty file.
    static std::mutex rotation;
    const std::lock_guard<std::mutex> lock(rotation);
    const std::filesystem::path path(m_nativeFilePath);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size <= kMaxFileSize) {
        return;
    }
    const std::filesystem::path rotated(m_nativeFilePath + ".1");
    std::filesystem::rename(path, rotated, error);
}

void NRVCMULog::WriteLine(std::string_view text)
{
    Write(text, " ", true);
}

void NRVCMULog::WriteText(std::string_view text1, const wxString& wideText2, bool newline)
{
    wxCharBuffer converted = wideText2.mb_str(wxConvLibc);
    if (converted.length() == 0 && !wideText2.empty()) {
        converted = wideText2.utf8_str();
    }
    Write(text1, std::string_view(converted.data(), converted.length()), newline);
}

void NRVCMULog::WriteSignedValue(
    std::string_view text1, std::string_view format, std::int64_t value, bool newline)
{
    Write(text1, FormatValue(format, value), newline);
}

void NRVCMULog::WriteUnsignedValue(
    std::string_view text1, std::string_view format, std::uint64_t value, bool newline)
{
    Write(text1, FormatValue(format, value), newline);
}
