// The manager's log writer.
#include "NRVCMULog.h"

#include <boost/format.hpp>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
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
    : m_filePath(DefaultFilePath())
{
}

NRVCMULog::NRVCMULog(const wxString& filePath)
    : m_filePath(filePath)
{
}

wxString NRVCMULog::DefaultFilePath()
{
    wxFileName name(wxFileName::GetTempDir(), wxS("nrvcmutestlog.txt"));
    name.AppendDir(wxS("nrvcme"));
    return name.GetFullPath();
}

void NRVCMULog::Relocate()
{
    Get().m_filePath = DefaultFilePath();
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
    const wxCharBuffer path = m_filePath.fn_str();
    std::FILE* file = std::fopen(path.data(), "ab");
    if (file == nullptr) {
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
    const std::filesystem::path path(m_filePath.fn_str().data());
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size <= kMaxFileSize) {
        return;
    }
    const std::filesystem::path rotated(GetRotatedFilePath().fn_str().data());
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
