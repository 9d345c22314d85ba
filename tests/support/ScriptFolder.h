// A folder of little shell scripts put first on PATH for one test, so a
// program the code under test starts by name (msiexec, xdg-open) is ours and
// records how it was called. PATH is restored on destruction.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

class ScriptFolder final {
public:
    explicit ScriptFolder(std::filesystem::path folder)
        : m_folder(std::move(folder))
    {
        std::filesystem::create_directories(m_folder);
        if (const char* path = std::getenv("PATH")) {
            m_previous = path;
        }
        const std::string path = m_folder.string() + ":" + m_previous.value_or("/usr/bin:/bin");
        setenv("PATH", path.c_str(), 1);
    }
    ~ScriptFolder()
    {
        if (m_previous) {
            setenv("PATH", m_previous->c_str(), 1);
        } else {
            unsetenv("PATH");
        }
    }
    ScriptFolder(const ScriptFolder&) = delete;
    ScriptFolder& operator=(const ScriptFolder&) = delete;

    // Writes name with body after a /bin/sh line, executable.
    std::filesystem::path Add(const std::string& name, const std::string& body) const
    {
        const std::filesystem::path script = m_folder / name;
        std::ofstream(script) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        return script;
    }
    const std::filesystem::path& Folder() const { return m_folder; }

private:
    std::filesystem::path m_folder;
    std::optional<std::string> m_previous;
};
