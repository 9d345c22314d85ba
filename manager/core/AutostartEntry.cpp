#include "AutostartEntry.h"

#include "platform/files/AtomicFile.h"

#include <cstdlib>

using namespace vela5::platform;

namespace AutostartEntry {

std::filesystem::path Folder()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    if (config != nullptr && config[0] == '/') {
        return std::filesystem::path(config) / "autostart";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / ".config" / "autostart";
    }
    return {};
}

std::filesystem::path File()
{
    const std::filesystem::path folder = Folder();
    return folder.empty() ? folder : folder / kFileName;
}

std::string ExecValue(const std::string& program)
{
    // The argument goes in double quotes with ", `, $ and \ escaped; the
    // value itself then escapes every backslash again, and a field code
    // character % is written twice.
    std::string quoted = "\"";
    for (const char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (const char c : quoted) {
        if (c == '\\') {
            value += "\\\\";
        } else if (c == '%') {
            value += "%%";
        } else {
            value += c;
        }
    }
    return value;
}

std::string Contents(const std::string& program)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Pavix Manager\n"
           "Comment=Starts the token manager at login\n"
           "Exec="
        + ExecValue(program)
        + "\n"
          "Icon=pavix-manager\n"
          "Terminal=false\n"
          "X-GNOME-Autostart-enabled=true\n";
}

bool Write(const std::string& program)
{
    const std::filesystem::path file = File();
    if (file.empty()) {
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    if (error) {
        return false;
    }
    const std::string contents = Contents(program);
    return Files::WriteAtomically(file, contents.data(), contents.size(), 0644);
}

bool Remove()
{
    const std::filesystem::path file = File();
    if (file.empty()) {
        return true;
    }
    std::error_code error;
    std::filesystem::remove(file, error);
    return !error;
}

} // namespace AutostartEntry
